#include "PageRules.h"

#include <QStringList>

#include <array>

namespace {

bool isOwsOrSpace(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}

QStringView trimmed(QStringView text) {
    while (!text.isEmpty() && isOwsOrSpace(text.front()))
        text = text.mid(1);
    while (!text.isEmpty() && isOwsOrSpace(text.back()))
        text.chop(1);
    return text;
}

bool isNoindex(QStringView directive) {
    return directive.compare(u"noindex", Qt::CaseInsensitive) == 0 ||
           directive.compare(u"none", Qt::CaseInsensitive) == 0;
}

// The directives of X-Robots-Tag that take a value after a colon; any other name before a
// colon is a crawler's.
constexpr std::array<QStringView, 4> valuedDirectives = {
    u"max-image-preview", u"max-snippet", u"max-video-preview", u"unavailable_after"};

} // namespace

bool holdsNoindex(QStringView directives, DirectiveSource source) {
    for (const QStringView part : directives.split(u',')) {
        QStringView directive = trimmed(part);
        const qsizetype colon = directive.indexOf(u':');
        if (source == DirectiveSource::Header && colon >= 0) {
            const QStringView name = trimmed(directive.first(colon));
            bool valued = false;
            for (const QStringView known : valuedDirectives)
                valued = valued || name.compare(known, Qt::CaseInsensitive) == 0;
            if (valued || name.compare(QLatin1String(crawlerName), Qt::CaseInsensitive) != 0)
                continue;
            directive = trimmed(directive.sliced(colon + 1));
        }
        if (isNoindex(directive))
            return true;
    }
    return false;
}

bool isIndexable(const PageFacts &facts) {
    if (facts.status < 200 || facts.status > 299 || facts.redirected)
        return false;
    if (holdsNoindex(QString::fromLatin1(facts.robotsTag), DirectiveSource::Header))
        return false;
    for (const QString &content : facts.robotsMeta) {
        if (holdsNoindex(content, DirectiveSource::Meta))
            return false;
    }
    return facts.canonical.isNull() || facts.canonical == facts.address;
}

namespace {

// Reads an HTTP date from left to right; every step fails once one has.
class DateReader {
public:
    explicit DateReader(QByteArrayView text)
        : m_text(text) {}

    bool ok() const { return m_ok && m_at == m_text.size(); }

    void literal(QByteArrayView word) {
        m_ok = m_ok && m_text.sliced(m_at).startsWith(word);
        m_at += m_ok ? word.size() : 0;
    }
    // The index of the word of `words` that comes next, case-sensitive as HTTP writes it.
    template <std::size_t N> int oneOf(const std::array<QByteArrayView, N> &words) {
        for (std::size_t i = 0; m_ok && i < N; ++i) {
            if (m_text.sliced(m_at).startsWith(words[i])) {
                m_at += words[i].size();
                return int(i);
            }
        }
        m_ok = false;
        return 0;
    }
    int digits(int count) {
        int value = 0;
        for (int i = 0; i < count; ++i) {
            const bool digit =
                m_ok && m_at < m_text.size() && m_text[m_at] >= '0' && m_text[m_at] <= '9';
            m_ok = digit;
            value = digit ? value * 10 + (m_text[m_at++] - '0') : 0;
        }
        return value;
    }
    // "hh:mm:ss"
    QTime time() {
        const int hour = digits(2);
        literal(":");
        const int minute = digits(2);
        literal(":");
        // A leap second is written as the second before it: a sitemap's date has none.
        int second = digits(2);
        second = second == 60 ? 59 : second;
        const QTime time(hour, minute, second);
        m_ok = m_ok && time.isValid();
        return time;
    }

private:
    QByteArrayView m_text;
    qsizetype m_at = 0;
    bool m_ok = true;
};

constexpr std::array<QByteArrayView, 7> dayNames = {"Mon", "Tue", "Wed", "Thu",
                                                    "Fri", "Sat", "Sun"};
constexpr std::array<QByteArrayView, 7> longDayNames = {
    "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};
constexpr std::array<QByteArrayView, 12> monthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::optional<QDateTime> moment(bool ok, int year, int month, int day, QTime time) {
    const QDate date(year, month + 1, day);
    if (!ok || year < 1 || !date.isValid())
        return std::nullopt;
    return QDateTime(date, time, Qt::UTC);
}

} // namespace

std::optional<QDateTime> parseHttpDate(QByteArrayView text, const QDateTime &now) {
    text = text.trimmed();
    // IMF-fixdate: "Sun, 06 Nov 1994 08:49:37 GMT"
    {
        DateReader r(text);
        r.oneOf(dayNames);
        r.literal(", ");
        const int day = r.digits(2);
        r.literal(" ");
        const int month = r.oneOf(monthNames);
        r.literal(" ");
        const int year = r.digits(4);
        r.literal(" ");
        const QTime time = r.time();
        r.literal(" GMT");
        if (r.ok())
            return moment(true, year, month, day, time);
    }
    // RFC 850: "Sunday, 06-Nov-94 08:49:37 GMT"
    {
        DateReader r(text);
        r.oneOf(longDayNames);
        r.literal(", ");
        const int day = r.digits(2);
        r.literal("-");
        const int month = r.oneOf(monthNames);
        r.literal("-");
        const int yy = r.digits(2);
        r.literal(" ");
        const QTime time = r.time();
        r.literal(" GMT");
        if (r.ok()) {
            const int century = now.toUTC().date().year() / 100 * 100;
            std::optional<QDateTime> result = moment(true, century + yy, month, day, time);
            if (result && *result > now.addYears(50))
                result = moment(true, century - 100 + yy, month, day, time);
            return result;
        }
    }
    // asctime: "Sun Nov  6 08:49:37 1994"
    DateReader r(text);
    r.oneOf(dayNames);
    r.literal(" ");
    const int month = r.oneOf(monthNames);
    r.literal(" ");
    const int day = text.size() > 8 && text[8] == ' ' ? (r.literal(" "), r.digits(1)) : r.digits(2);
    r.literal(" ");
    const QTime time = r.time();
    r.literal(" ");
    const int year = r.digits(4);
    return moment(r.ok(), year, month, day, time);
}

QString lastmodText(const QDateTime &moment) {
    return moment.toUTC().toString(u"yyyy-MM-dd'T'HH:mm:ss") + QLatin1String("+00:00");
}
