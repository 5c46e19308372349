#include "HttpAnswer.h"

#include <algorithm>
#include <utility>

namespace {

// Whether the comma-separated list `values` holds `token`, in any letter case.
bool hasToken(const QByteArray &values, QByteArrayView token) {
    for (const QByteArray &value : values.split(','))
        if (value.trimmed().compare(token, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

// The line that starts at `from`, without its line break; false when it has not all arrived.
bool lineAt(const QByteArray &bytes, qsizetype from, QByteArrayView &line, qsizetype &next) {
    const qsizetype end = bytes.indexOf('\n', from);
    if (end < 0)
        return false;
    line = QByteArrayView(bytes).sliced(from, end - from);
    if (line.endsWith('\r'))
        line.chop(1);
    next = end + 1;
    return true;
}

} // namespace

HttpAnswer::HttpAnswer()
    : HttpAnswer(Limits()) {
}

HttpAnswer::HttpAnswer(Limits limits)
    : m_limits(limits) {
}

void HttpAnswer::feed(QByteArray bytes) {
    if (m_state == State::Whole)
        m_beyond = m_beyond || !bytes.isEmpty();
    if (m_state != State::Head && m_state != State::Body)
        return;
    // A body mostly arrives in a read or two: the first is kept as it is.
    if (m_in.isEmpty())
        m_in = std::move(bytes);
    else
        m_in.append(bytes);
    if (m_state == State::Head)
        readHead();
    if (m_state == State::Body)
        readBody();
}

void HttpAnswer::closed() {
    if (m_state == State::Body && m_framing == Framing::UntilClose)
        m_state = State::Whole;
}

QByteArray HttpAnswer::header(QByteArrayView name) const {
    QByteArray joined;
    for (const auto &[key, value] : m_headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            joined = joined.isNull() ? value : joined + ", " + value;
    }
    return joined;
}

bool HttpAnswer::reusable() const {
    if (m_state != State::Whole || m_framing == Framing::UntilClose || m_status == 101 ||
        !m_in.isEmpty() || m_beyond)
        return false;
    const QByteArray connection = header("connection");
    return m_http10 ? hasToken(connection, "keep-alive") : !hasToken(connection, "close");
}

QByteArray HttpAnswer::takeBody(qsizetype maxSize) {
    if (maxSize >= m_body.size())
        return std::exchange(m_body, {});
    QByteArray part = m_body.first(maxSize);
    m_body.remove(0, maxSize);
    return part;
}

void HttpAnswer::readHead() {
    for (;;) {
        // Empty lines before a status line are no part of it.
        qsizetype at = 0;
        while (at < m_in.size() && (m_in[at] == '\r' || m_in[at] == '\n'))
            ++at;
        m_in.remove(0, at);
        m_scanned = std::max<qsizetype>(m_scanned - at, 0);
        // Whole, the head is m_scanned bytes long; still coming, longer than what arrived.
        const bool whole = headWhole();
        if ((whole ? m_scanned : m_in.size()) > m_limits.headBytes) {
            fail(QStringLiteral("The server's headers are too long"));
            return;
        }
        if (!whole)
            return;
        QByteArrayView statusLine;
        lineAt(m_in, 0, statusLine, at);
        // "HTTP/1.1 200 OK": the version, three digits, the reason.
        const qsizetype space = statusLine.indexOf(' ');
        bool valid = statusLine.startsWith("HTTP/") && space > 5 &&
                     statusLine.size() >= space + 4 &&
                     (statusLine.size() == space + 4 || statusLine[space + 4] == ' ');
        const int status = valid ? statusLine.sliced(space + 1, 3).toInt(&valid) : 0;
        if (!valid || status < 100) {
            fail(QStringLiteral("Invalid answer from the server"));
            return;
        }
        const QByteArray reason = statusLine.sliced(space + 4).trimmed().toByteArray();
        const bool http10 = statusLine.sliced(5, space - 5) == "1.0";

        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArrayView line;
        while (lineAt(m_in, at, line, at) && !line.isEmpty()) {
            // A line that starts with white space continues the header before it.
            if ((line.front() == ' ' || line.front() == '\t') && !headers.isEmpty()) {
                headers.back().second += ' ' + line.trimmed().toByteArray();
                continue;
            }
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                headers.append({line.first(colon).trimmed().toByteArray().toLower(),
                                line.sliced(colon + 1).trimmed().toByteArray()});
        }
        m_in.remove(0, at);
        m_scanned = 0;
        if (status < 200 && status != 101)
            continue; // an interim answer: the real one follows
        m_status = status;
        m_reason = reason;
        m_headers = std::move(headers);
        m_http10 = http10;
        frame();
        return;
    }
}

// Whether the empty line that ends the head has arrived.
bool HttpAnswer::headWhole() {
    for (;;) {
        const qsizetype lineEnd = m_in.indexOf('\n', m_scanned);
        if (lineEnd < 0) {
            m_scanned = m_in.size();
            return false;
        }
        m_scanned = lineEnd + 1;
        if (lineEnd >= 1 && m_in[lineEnd - 1] == '\n')
            return true;
        if (lineEnd >= 2 && m_in[lineEnd - 1] == '\r' && m_in[lineEnd - 2] == '\n')
            return true;
    }
}

// How the body is delimited (RFC 9112, section 6.3).
void HttpAnswer::frame() {
    const QByteArray codings = header("transfer-encoding");
    bool lengthValid = false;
    const qint64 length =
        header("content-length").split(',').first().trimmed().toLongLong(&lengthValid);
    if (m_status == 101 || m_status == 204 || m_status == 304) {
        m_framing = Framing::None;
    } else if (!codings.isNull()) {
        m_framing = codings.split(',').last().trimmed().compare("chunked", Qt::CaseInsensitive) == 0
                        ? Framing::Chunked
                        : Framing::UntilClose;
    } else if (lengthValid && length >= 0) {
        m_framing = Framing::Length;
        m_left = length;
    } else {
        m_framing = Framing::UntilClose;
    }
    m_state = State::Body;
}

void HttpAnswer::readBody() {
    switch (m_framing) {
    case Framing::None:
        m_state = State::Whole;
        break;
    case Framing::UntilClose:
        take(m_in.size());
        break;
    case Framing::Length: {
        const auto size = qsizetype(std::min<qint64>(m_left, m_in.size()));
        take(size);
        m_left -= size;
        if (m_left == 0)
            m_state = State::Whole;
        break;
    }
    case Framing::Chunked:
        readChunks();
        break;
    }
}

// Moves `size` bytes from the front of what arrived to the body.
void HttpAnswer::take(qsizetype size) {
    if (size == m_in.size() && m_body.isEmpty()) {
        m_body = std::exchange(m_in, {});
        return;
    }
    m_body += QByteArrayView(m_in).first(size);
    m_in.remove(0, size);
}

void HttpAnswer::readChunks() {
    qsizetype at = 0;
    QByteArrayView line;
    while (m_chunk != Chunk::Done) {
        if (m_chunk == Chunk::Data) {
            const auto size = qsizetype(std::min<qint64>(m_left, m_in.size() - at));
            m_body += QByteArrayView(m_in).sliced(at, size);
            at += size;
            m_left -= size;
            if (m_left > 0)
                break;
            m_chunk = Chunk::DataEnd;
            continue;
        }
        // A line's length is known once it has arrived; until then it is at least what has
        // arrived, but for a '\r' that may start its break.
        qsizetype next = 0;
        const bool whole = lineAt(m_in, at, line, next);
        const qsizetype length =
            whole ? line.size() : m_in.size() - at - qsizetype(m_in.endsWith('\r'));
        if (length > m_limits.lineBytes) {
            fail(QStringLiteral("Invalid chunked body from the server"));
            return;
        }
        if (!whole)
            break;
        at = next;
        if (m_chunk == Chunk::DataEnd) {
            m_chunk = Chunk::Size;
        } else if (m_chunk == Chunk::Trailer) {
            if (line.isEmpty())
                m_chunk = Chunk::Done;
        } else {
            // A size in hexadecimal digits, then perhaps ";name=value" extensions.
            const qsizetype extension = line.indexOf(';');
            const QByteArrayView digits = (extension < 0 ? line : line.first(extension)).trimmed();
            bool valid = !digits.isEmpty() && std::all_of(digits.begin(), digits.end(), [](char c) {
                return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f');
            });
            m_left = valid ? digits.toLongLong(&valid, 16) : 0;
            if (!valid) {
                fail(QStringLiteral("Invalid chunked body from the server"));
                return;
            }
            m_chunk = m_left == 0 ? Chunk::Trailer : Chunk::Data;
        }
    }
    m_in.remove(0, at);
    if (m_chunk == Chunk::Done)
        m_state = State::Whole;
}

void HttpAnswer::fail(const QString &reason) {
    m_state = State::Broken;
    m_error = reason;
    m_in.clear();
}
