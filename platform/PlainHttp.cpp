#include "PlainHttp.h"

#include <QLocale>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {

// Status line and headers of one answer, at most; an answer with more fails.
constexpr qsizetype maxHeadBytes = 256 * 1024;
// A chunk-size line or trailer line, at most.
constexpr qsizetype maxLineBytes = 16 * 1024;

QString serverOf(const QUrl &url) {
    return url.host(QUrl::FullyEncoded) + u':' + QString::number(url.port(80));
}

// As Qt Network sends it: the system's language, then anything.
QByteArray acceptLanguage() {
    QString name = QLocale::system().name();
    if (name == u"C")
        return "en,*";
    name.replace(u'_', u'-');
    name += name.startsWith(u"en-") ? QStringLiteral(",*") : QStringLiteral(",en,*");
    return name.toLatin1();
}

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

// One GET on a connection of its own or one left idle by an earlier answer. The answer is
// read as HTTP/1.1 says: interim 1xx answers skipped, the body framed by chunks, by its
// length or by the end of the connection.
class PlainTransfer final : public Transfer {
public:
    PlainTransfer(PlainHttp &client, const QUrl &url, QByteArray request,
                  std::chrono::milliseconds stall)
        : m_client(client)
        , m_url(url)
        , m_server(serverOf(url))
        , m_request(std::move(request)) {
        setParent(&client);
        m_stall.setSingleShot(true);
        m_stall.setInterval(stall);
        connect(&m_stall, &QTimer::timeout, this, [this] { end(Failure::TimedOut, {}); });
        m_stall.start();
        if (QTcpSocket *idle = client.takeIdle(m_server)) {
            m_reused = true;
            adopt(idle);
            send();
        } else {
            connectAfresh();
        }
    }
    ~PlainTransfer() override { abort(); }

    int status() const override { return m_status; }
    QByteArray reasonPhrase() const override { return m_reason; }
    QByteArray header(const QByteArray &name) const override {
        QByteArray joined;
        for (const auto &[key, value] : m_headers) {
            if (key.compare(name, Qt::CaseInsensitive) != 0)
                continue;
            joined = joined.isNull() ? value : joined + ", " + value;
        }
        return joined;
    }
    QUrl url() const override { return m_url; }
    QByteArray read(qint64 maxSize) override {
        if (maxSize >= m_body.size())
            return std::exchange(m_body, {});
        QByteArray part = m_body.first(maxSize);
        m_body.remove(0, maxSize);
        return part;
    }
    Failure failure() const override { return m_failure; }
    QString errorString() const override { return m_error; }
    void abort() override {
        m_stage = Stage::Done;
        m_stall.stop();
        release(false);
    }

private:
    enum class Stage { Connecting, Head, Body, Done };
    enum class Framing { None, Length, Chunked, UntilClose };
    enum class Chunk { Size, Data, DataEnd, Trailer, Done };

    void connectAfresh() {
        auto *socket = new QTcpSocket(this);
        adopt(socket);
        connect(socket, &QAbstractSocket::connected, this, [this] {
            m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            send();
        });
        socket->connectToHost(m_url.host(QUrl::FullyEncoded), quint16(m_url.port(80)));
    }

    void adopt(QTcpSocket *socket) {
        m_socket = socket;
        socket->setParent(this);
        connect(socket, &QIODevice::readyRead, this, &PlainTransfer::readable);
        connect(socket, &QIODevice::bytesWritten, this, [this] { m_stall.start(); });
        connect(socket, &QAbstractSocket::errorOccurred, this, &PlainTransfer::closed);
        connect(socket, &QAbstractSocket::disconnected, this, &PlainTransfer::closed);
    }

    void send() {
        m_stage = Stage::Head;
        m_socket->write(m_request);
        m_socket->flush();
    }

    void readable() {
        if (m_stage != Stage::Head && m_stage != Stage::Body)
            return;
        m_stall.start();
        if (m_socket->bytesAvailable() > 0) {
            m_heardBack = true;
            if (m_in.isEmpty())
                m_in = m_socket->readAll();
            else
                m_in += m_socket->readAll();
        }
        if (m_stage == Stage::Head && !readHead())
            return;
        readBody();
    }

    // The connection ended or failed.
    void closed() {
        if (m_stage == Stage::Done)
            return;
        readable(); // what the socket still holds comes first
        if (m_stage == Stage::Done)
            return;
        if (m_stage == Stage::Body && m_framing == Framing::UntilClose) {
            complete();
            return;
        }
        // A server may close a kept-alive connection just as the next request goes out: that
        // request is sent again once, on a new connection, as Qt Network and browsers do.
        if (m_reused && !m_heardBack) {
            release(false);
            m_reused = false;
            m_stage = Stage::Connecting;
            connectAfresh();
            return;
        }
        QString reason;
        switch (m_socket->error()) {
        case QAbstractSocket::ConnectionRefusedError:
            reason = QStringLiteral("Connection refused");
            break;
        case QAbstractSocket::HostNotFoundError:
            reason = QStringLiteral("Host %1 not found").arg(m_url.host());
            break;
        case QAbstractSocket::RemoteHostClosedError:
        case QAbstractSocket::UnknownSocketError:
            reason = QStringLiteral("Connection closed");
            break;
        default:
            reason = m_socket->errorString();
        }
        end(Failure::Other, reason);
    }

    // Reads the status line and headers of the answer, past any interim answer; false until
    // they have arrived (or when the transfer ended).
    bool readHead() {
        for (;;) {
            // Empty lines before a status line are no part of it.
            qsizetype at = 0;
            while (at < m_in.size() && (m_in[at] == '\r' || m_in[at] == '\n'))
                ++at;
            m_in.remove(0, at);
            m_scanned = std::max<qsizetype>(m_scanned - at, 0);
            if (!headWhole())
                return tooLong(m_in.size() > maxHeadBytes);
            QByteArrayView statusLine;
            lineAt(m_in, 0, statusLine, at);
            // "HTTP/1.1 200 OK": the version, three digits, the reason.
            const qsizetype space = statusLine.indexOf(' ');
            bool valid = statusLine.startsWith("HTTP/") && space > 5 &&
                         statusLine.size() >= space + 4 &&
                         (statusLine.size() == space + 4 || statusLine[space + 4] == ' ');
            const int status = valid ? statusLine.sliced(space + 1, 3).toInt(&valid) : 0;
            if (!valid || status < 100) {
                end(Failure::Other, QStringLiteral("Invalid answer from the server"));
                return false;
            }
            const QByteArray reason = statusLine.sliced(space + 4).trimmed().toByteArray();
            const bool http10 = statusLine.sliced(5, space - 5) == "1.0";

            QList<QPair<QByteArray, QByteArray>> headers;
            QByteArrayView line;
            while (lineAt(m_in, at, line, at) && !line.isEmpty()) {
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
            break;
        }
        for (const auto &[name, value] : std::as_const(m_headers)) {
            if (name == "set-cookie")
                m_client.m_cookies.setCookiesFromUrl(QNetworkCookie::parseCookies(value), m_url);
        }
        const QByteArray codings = header("transfer-encoding");
        const QByteArray length = header("content-length");
        bool lengthValid = false;
        const qint64 bytes = length.split(',').first().trimmed().toLongLong(&lengthValid);
        if (m_status == 101 || m_status == 204 || m_status == 304) {
            m_framing = Framing::None;
        } else if (!codings.isNull()) {
            const QList<QByteArray> list = codings.split(',');
            m_framing = list.last().trimmed().compare("chunked", Qt::CaseInsensitive) == 0
                            ? Framing::Chunked
                            : Framing::UntilClose;
        } else if (lengthValid && bytes >= 0) {
            m_framing = Framing::Length;
            m_left = bytes;
        } else {
            m_framing = Framing::UntilClose;
        }
        const QByteArray connection = header("connection");
        m_keepAlive =
            m_status != 101 && m_framing != Framing::UntilClose &&
            (m_http10 ? hasToken(connection, "keep-alive") : !hasToken(connection, "close"));
        m_stage = Stage::Body;
        return true;
    }

    // Whether the empty line that ends the head has arrived. Each byte is looked at once,
    // however thinly the head trickles in.
    bool headWhole() {
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

    bool tooLong(bool over) {
        if (over)
            end(Failure::Other, QStringLiteral("The server's headers are too long"));
        return false;
    }

    // Moves the body that has arrived out of its framing.
    void readBody() {
        const qsizetype before = m_body.size();
        switch (m_framing) {
        case Framing::None:
            break;
        case Framing::UntilClose:
            take(m_in.size());
            break;
        case Framing::Length:
            m_left -= take(qsizetype(std::min<qint64>(m_left, m_in.size())));
            break;
        case Framing::Chunked:
            if (!readChunks())
                return;
            break;
        }
        const bool whole = m_framing == Framing::None ||
                           (m_framing == Framing::Length && m_left == 0) ||
                           (m_framing == Framing::Chunked && m_chunk == Chunk::Done);
        if (m_body.size() > before)
            Q_EMIT readyRead();
        if (whole && m_stage == Stage::Body)
            complete();
    }

    // Moves `size` bytes from the front of what arrived to the body.
    qsizetype take(qsizetype size) {
        if (size == m_in.size() && m_body.isEmpty())
            m_body = std::exchange(m_in, {});
        else {
            m_body += QByteArrayView(m_in).first(size);
            m_in.remove(0, size);
        }
        return size;
    }

    // False when the chunks are broken (the transfer has ended).
    bool readChunks() {
        qsizetype at = 0;
        QByteArrayView line;
        while (m_chunk != Chunk::Done) {
            if (m_chunk == Chunk::Data) {
                const qsizetype size = qsizetype(std::min<qint64>(m_left, m_in.size() - at));
                m_body += QByteArrayView(m_in).sliced(at, size);
                at += size;
                m_left -= size;
                if (m_left > 0)
                    break;
                m_chunk = Chunk::DataEnd;
                continue;
            }
            qsizetype next = 0;
            if (!lineAt(m_in, at, line, next)) {
                if (m_in.size() - at > maxLineBytes) {
                    end(Failure::Other, QStringLiteral("Invalid chunked body from the server"));
                    return false;
                }
                break;
            }
            at = next;
            if (m_chunk == Chunk::DataEnd) {
                m_chunk = Chunk::Size;
            } else if (m_chunk == Chunk::Trailer) {
                if (line.isEmpty())
                    m_chunk = Chunk::Done;
            } else {
                const qsizetype extension = line.indexOf(';');
                bool valid = false;
                m_left =
                    (extension < 0 ? line : line.first(extension)).trimmed().toLongLong(&valid, 16);
                if (!valid || m_left < 0) {
                    end(Failure::Other, QStringLiteral("Invalid chunked body from the server"));
                    return false;
                }
                m_chunk = m_left == 0 ? Chunk::Trailer : Chunk::Data;
            }
        }
        m_in.remove(0, at);
        return true;
    }

    void complete() {
        m_stage = Stage::Done;
        m_stall.stop();
        release(m_keepAlive && m_in.isEmpty() && m_socket->bytesAvailable() == 0);
        Q_EMIT finished();
    }

    void end(Failure failure, const QString &reason) {
        m_failure = failure;
        m_error = reason;
        m_stage = Stage::Done;
        m_stall.stop();
        release(false);
        Q_EMIT finished();
    }

    // Gives the connection back for the next request, or closes it.
    void release(bool keep) {
        if (!m_socket)
            return;
        QTcpSocket *socket = std::exchange(m_socket, nullptr);
        QObject::disconnect(socket, nullptr, this, nullptr);
        if (keep) {
            m_client.keepIdle(m_server, socket);
            return;
        }
        socket->abort();
        socket->deleteLater();
    }

    PlainHttp &m_client;
    const QUrl m_url;
    const QString m_server;
    const QByteArray m_request;
    QTcpSocket *m_socket = nullptr; // a child of this transfer while it is used
    bool m_reused = false;          // the connection served an earlier answer
    bool m_heardBack = false;       // a byte of the answer has arrived
    Stage m_stage = Stage::Connecting;
    QByteArray m_in;         // arrived, not yet read out of the framing
    qsizetype m_scanned = 0; // of the head in m_in, searched for its end
    int m_status = 0;
    QByteArray m_reason;
    QList<QPair<QByteArray, QByteArray>> m_headers; // names lower-cased
    bool m_http10 = false;
    Framing m_framing = Framing::None;
    qint64 m_left = 0; // of the length, or of the chunk
    Chunk m_chunk = Chunk::Size;
    bool m_keepAlive = false;
    QByteArray m_body; // arrived, not read yet
    QTimer m_stall;
    Failure m_failure = Failure::None;
    QString m_error;
};

PlainHttp::PlainHttp(QNetworkCookieJar &cookies)
    : m_cookies(cookies) {
}

PlainHttp::~PlainHttp() = default;

std::unique_ptr<Transfer> PlainHttp::get(const QUrl &url, const Headers &headers,
                                         std::chrono::milliseconds stall) {
    QByteArray target =
        url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
    if (!target.startsWith('/'))
        target.prepend('/');
    QByteArray host = url.host(QUrl::FullyEncoded).toLatin1();
    if (host.contains(':'))
        host = '[' + host + ']';
    if (url.port() != -1 && url.port() != 80)
        host += ':' + QByteArray::number(url.port());

    QByteArray request = "GET " + target + " HTTP/1.1\r\nHost: " + host + "\r\n";
    for (const auto &[name, value] : headers)
        request += name + ": " + value + "\r\n";
    static const QByteArray language = acceptLanguage();
    request += "Connection: Keep-Alive\r\nAccept-Language: " + language + "\r\n";
    QByteArray cookies;
    for (const QNetworkCookie &cookie : m_cookies.cookiesForUrl(url))
        cookies +=
            (cookies.isEmpty() ? "" : "; ") + cookie.toRawForm(QNetworkCookie::NameAndValueOnly);
    if (!cookies.isEmpty())
        request += "Cookie: " + cookies + "\r\n";
    request += "\r\n";
    return std::make_unique<PlainTransfer>(*this, url, std::move(request), stall);
}

QTcpSocket *PlainHttp::takeIdle(const QString &server) {
    QTcpSocket *socket = m_idle.take(server);
    if (!socket)
        return nullptr;
    QObject::disconnect(socket, nullptr, this, nullptr);
    // Closed meanwhile, or holding bytes nobody asked for: of no use.
    if (socket->state() != QAbstractSocket::ConnectedState || socket->bytesAvailable() > 0) {
        socket->deleteLater();
        return nullptr;
    }
    return socket;
}

void PlainHttp::keepIdle(const QString &server, QTcpSocket *socket) {
    if (QTcpSocket *older = m_idle.take(server))
        older->deleteLater();
    socket->setParent(this);
    m_idle.insert(server, socket);
    const auto drop = [this, server, socket] {
        if (m_idle.value(server) == socket)
            m_idle.remove(server);
        QObject::disconnect(socket, nullptr, this, nullptr);
        socket->deleteLater();
    };
    connect(socket, &QAbstractSocket::disconnected, this, drop);
    connect(socket, &QIODevice::readyRead, this, drop);
}
