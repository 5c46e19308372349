#include "RobotsGate.h"

#include "WebUrl.h"

namespace {

using Place = RobotsGate::Place;

std::optional<Place> parsedPlace(const QString &address) {
    const std::optional<WebUrl> url = WebUrl::parse(address);
    if (!url || (url->scheme() != u"http" && url->scheme() != u"https"))
        return std::nullopt;
    // The serialised address is "scheme://[user@]host[:port]/path[?query][#fragment]".
    const QString href = url->href();
    const qsizetype authority = href.indexOf(u"://") + 3;
    qsizetype path = authority;
    while (path < href.size() && href[path] != u'/' && href[path] != u'?' && href[path] != u'#')
        ++path;
    const qsizetype user = href.lastIndexOf(u'@', path - 1);
    const qsizetype host = user >= authority ? user + 1 : authority;
    const qsizetype fragment = href.indexOf(u'#', path);
    return Place{href.first(authority) + href.sliced(host, path - host),
                 href.sliced(path, (fragment < 0 ? href.size() : fragment) - path).toLatin1()};
}

// Whether `rest`, the part of an address after its origin, is as an address parser would
// serialise it: printable ASCII that no part of an address encodes, and no dot segment.
bool isSerialised(QStringView rest) {
    if (rest.contains(u"/.") || rest.contains(u"%2e", Qt::CaseInsensitive))
        return false;
    for (const QChar c : rest) {
        const char16_t u = c.unicode();
        if (u <= 0x20 || u >= 0x7F || u == '\\' || u == '"' || u == '<' || u == '>' || u == '`' ||
            u == '{' || u == '}' || u == '\'')
            return false;
    }
    return true;
}

} // namespace

// A page's document once its origin's rules have come: the engine's, or none when they
// disallow the address.
class RobotsGate::Gated final : public HtmlDocument {
public:
    Gated(RobotsGate &gate, const QString &address, Place place)
        : m_gate(gate)
        , m_address(address)
        , m_place(std::move(place)) {}

    QString readyState() const override {
        if (m_document)
            return m_document->readyState();
        if (!m_failure.isNull())
            return QStringLiteral("complete");
        const RobotsRules *rules = m_gate.rulesOf(m_place.origin);
        if (!rules)
            return QStringLiteral("loading");
        const bool allowed = rules->allows(m_place.pathAndQuery);
        m_gate.m_decided.insert(m_address, allowed);
        if (allowed)
            m_document = m_gate.m_engine.createDocumentFromUrl(m_address);
        if (!m_document) {
            m_failure = allowed ? QStringLiteral("the address cannot be requested")
                                : QStringLiteral("disallowed by robots.txt");
        }
        return readyState();
    }
    QStringList links() const override { return m_document ? m_document->links() : QStringList(); }
    QString failure() const override {
        if (m_document)
            return m_document->failure();
        return m_failure;
    }
    PageFacts facts() const override { return m_document ? m_document->facts() : PageFacts(); }

private:
    RobotsGate &m_gate;
    const QString m_address;
    const Place m_place;
    mutable std::unique_ptr<HtmlDocument> m_document;
    mutable QString m_failure; // null unless no page is loaded
};

RobotsGate::RobotsGate(HtmlEngine &engine)
    : m_engine(engine) {
    // A redirect into a path the rules close is not followed either. Only the rules already
    // known can say so: those of an origin not asked for yet allow everything.
    m_engine.setRedirectCheck([this](const QString &address) {
        return allows(address) ? QString() : QStringLiteral("disallowed by robots.txt");
    });
}

RobotsGate::~RobotsGate() {
    m_engine.setRedirectCheck({});
}

// Most addresses the crawl asks for are links as the page reader serialised them: one that
// starts with a known origin, as serialised, and holds nothing a parse would change is read
// without a parse, which costs as much as the rest of the gate's work together.
std::optional<Place> RobotsGate::placeOf(const QString &address) const {
    const qsizetype authority = address.indexOf(u"://");
    const qsizetype path = authority < 0 ? -1 : address.indexOf(u'/', authority + 3);
    if (path > 0) {
        QString origin = address.first(path);
        const qsizetype fragment = address.indexOf(u'#', path);
        const QStringView rest =
            QStringView(address).sliced(path, (fragment < 0 ? address.size() : fragment) - path);
        if (m_origins.contains(origin) && isSerialised(rest))
            return Place{std::move(origin), rest.toLatin1()};
    }
    return parsedPlace(address);
}

std::unique_ptr<HtmlDocument> RobotsGate::createDocumentFromUrl(const QString &address) {
    std::optional<Place> place = placeOf(address);
    if (!place)
        return m_engine.createDocumentFromUrl(address);
    std::shared_ptr<Origin> &origin = m_origins[place->origin];
    if (!origin) {
        origin = std::make_shared<Origin>();
        origin->robotsTxt =
            m_engine.createFileFromUrl(place->origin + QLatin1String("/robots.txt"),
                                       RobotsRules::maxBytes, RobotsRules::maxRedirects);
        // An engine that loads no files has no rules to obey.
        if (!origin->robotsTxt)
            origin->rules = RobotsRules::fromAnswer(404, {}, crawlerName);
    }
    return std::make_unique<Gated>(*this, address, std::move(*place));
}

std::unique_ptr<HtmlDocument> RobotsGate::createFileFromUrl(const QString &address, qint64 maxBytes,
                                                            int maxRedirects) {
    return m_engine.createFileFromUrl(address, maxBytes, maxRedirects);
}

const RobotsRules *RobotsGate::rulesOf(const QString &origin) {
    const std::shared_ptr<Origin> known = m_origins.value(origin);
    if (!known)
        return nullptr;
    if (!known->rules && known->robotsTxt->readyState() == u"complete") {
        known->rules = RobotsRules::fromAnswer(known->robotsTxt->facts().status,
                                               known->robotsTxt->body(), crawlerName);
        known->robotsTxt.reset();
    }
    return known->rules ? &*known->rules : nullptr;
}

bool RobotsGate::allows(const QString &address) const {
    if (const auto decided = m_decided.constFind(address); decided != m_decided.cend())
        return *decided;
    const std::optional<Place> place = placeOf(address);
    if (!place)
        return true;
    const std::shared_ptr<Origin> origin = m_origins.value(place->origin);
    return !origin || !origin->rules || origin->rules->allows(place->pathAndQuery);
}
