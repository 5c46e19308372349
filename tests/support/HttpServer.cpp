#include "HttpServer.h"

#include <QHostAddress>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

// What the server knows about one open connection. A child of its socket, so it goes when
// the socket goes, and with it the timer of a delayed answer.
struct HttpServer::Connection : QObject {
    struct Waiting {
        Request request;
        Response response;
        bool closeAfter = false; // the client asked to close after this answer
        bool delayed = false;    // its delay has already passed
    };

    Connection(QTcpSocket *socket, int id)
        : QObject(socket)
        , socket(socket)
        , id(id) {
        timer.setSingleShot(true);
    }

    QTcpSocket *socket;
    int id;
    QByteArray received;    // bytes not yet parsed into a request
    QList<Waiting> waiting; // parsed requests not yet answered, oldest first
    QTimer timer{this};     // runs while the oldest waiting request's delay passes
    bool stalled = false;   // a NeverAnswer request blocks every later one on this connection
    bool closing = false;   // closed, or closing once the answers already written are sent
};

namespace {

// Whether a comma-separated header value such as "keep-alive, close" holds `token`.
bool hasToken(const QByteArray &value, const QByteArray &token) {
    for (const QByteArray &part : value.split(',')) {
        if (part.trimmed().compare(token, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

} // namespace

HttpServer::HttpServer(QObject *parent)
    : QObject(parent) {
    m_handler = [](const Request &) {
        Response response;
        response.status = 404;
        response.body = "<!DOCTYPE html><html><head><title>404 Not Found</title></head>"
                        "<body><h1>Not Found</h1></body></html>";
        return response;
    };
}

HttpServer::~HttpServer() {
    // The sockets are children of m_server, which outlives this body and the other members:
    // cut them off from this object before they go, so nothing they signal while closing
    // reaches a half-destroyed server.
    m_server->disconnect(this);
    m_server->close();
    const QList<QTcpSocket *> sockets = m_open.keys();
    m_open.clear();
    for (QTcpSocket *socket : sockets) {
        socket->disconnect(this);
        socket->abort();
        delete socket;
    }
}

bool HttpServer::listen(const std::optional<QSslConfiguration> &tls) {
    if (tls) {
        auto server = std::make_unique<QSslServer>();
        server->setSslConfiguration(*tls);
        m_server = std::move(server);
        m_tls = true;
    }
    // A TLS connection is pending once its handshake is done.
    connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this,
            &HttpServer::onNewConnection);
    return m_server->listen(QHostAddress::LocalHost, 0);
}

quint16 HttpServer::port() const {
    return m_server->serverPort();
}

QString HttpServer::url(const QString &path) const {
    return QStringLiteral("%1://127.0.0.1:%2").arg(m_tls ? "https" : "http").arg(port()) + path;
}

void HttpServer::setPage(const QByteArray &target, const Response &response) {
    m_pages.insert(target, response);
}

void HttpServer::setHtml(const QByteArray &target, const QByteArray &html) {
    Response response;
    response.body = html;
    setPage(target, response);
}

void HttpServer::setHandler(Handler handler) {
    m_handler = std::move(handler);
}

QList<QByteArray> HttpServer::targets() const {
    QList<QByteArray> result;
    result.reserve(m_requests.size());
    for (const Request &request : m_requests)
        result.append(request.target);
    return result;
}

void HttpServer::onNewConnection() {
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        if (auto *tls = qobject_cast<QSslSocket *>(socket))
            m_protocols.append(tls->sslConfiguration().nextNegotiatedProtocol());
        auto *connection = new Connection(socket, ++m_connections);
        m_open.insert(socket, connection);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            if (Connection *connection = m_open.value(socket)) {
                connection->closing = true;
                connection->timer.stop();
            }
            socket->deleteLater();
        });
        connect(socket, &QObject::destroyed, this, [this, socket] { m_open.remove(socket); });
        connect(&connection->timer, &QTimer::timeout, this,
                [this, connection] { answerWaiting(connection); });
        if (socket->bytesAvailable() > 0)
            onReadyRead(socket);
    }
}

void HttpServer::onReadyRead(QTcpSocket *socket) {
    Connection *connection = m_open.value(socket);
    if (!connection)
        return;
    if (connection->closing) {
        socket->readAll();
        return;
    }
    connection->received += socket->readAll();

    // Take every complete request the bytes so far hold; a partial one waits for more.
    QByteArray &data = connection->received;
    while (!connection->closing) {
        const qsizetype headerEnd = data.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        const QList<QByteArray> lines = data.left(headerEnd).split('\n');
        const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
        if (requestLine.size() != 3 || !requestLine[2].startsWith("HTTP/")) {
            connection->closing = true;
            socket->abort();
            return;
        }
        Request request;
        request.connection = connection->id;
        request.method = requestLine[0];
        request.target = requestLine[1];
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            const QByteArray name = line.left(colon).trimmed().toLower();
            const QByteArray value = line.mid(colon + 1).trimmed();
            // A header sent twice reads as one with both values.
            if (request.headers.contains(name))
                request.headers[name] += ", " + value;
            else
                request.headers.insert(name, value);
        }

        // Requests of the engine under test carry no body.
        data.remove(0, headerEnd + 4);

        const bool closeAfter = hasToken(request.headers.value("connection"), "close");

        m_requests.append(request);
        Q_EMIT requestReceived(request);
        connection->waiting.append({request, responseFor(request), closeAfter, false});
        answerWaiting(connection);
    }
}

HttpServer::Response HttpServer::responseFor(const Request &request) const {
    const auto page = m_pages.constFind(request.target);
    if (page != m_pages.cend())
        return *page;
    return m_handler(request);
}

void HttpServer::answerWaiting(Connection *connection) {
    QTcpSocket *socket = connection->socket;
    while (!connection->waiting.isEmpty() && !connection->stalled && !connection->closing) {
        if (connection->timer.isActive())
            return;
        Connection::Waiting &next = connection->waiting.first();
        if (next.response.delayMs > 0 && !next.delayed) {
            next.delayed = true;
            connection->timer.start(next.response.delayMs);
            return;
        }
        const Connection::Waiting current = connection->waiting.takeFirst();
        switch (current.response.kind) {
        case Response::Kind::NeverAnswer:
            connection->stalled = true;
            return;
        case Response::Kind::Close:
            connection->closing = true;
            connection->waiting.clear();
            // Answers already written still go out first; this one gets none.
            socket->disconnectFromHost();
            return;
        case Response::Kind::Normal:
            break;
        }
        bool closeAfter = current.closeAfter;
        for (const auto &[name, value] : current.response.headers) {
            if (name.compare("connection", Qt::CaseInsensitive) == 0 && hasToken(value, "close"))
                closeAfter = true;
        }
        answer(socket, current.request, current.response, closeAfter);
        if (closeAfter) {
            connection->closing = true;
            connection->waiting.clear();
            socket->disconnectFromHost();
            return;
        }
    }
}

void HttpServer::answer(QTcpSocket *socket, const Request &request, const Response &response,
                        bool closeAfter) {
    bool hasContentType = false;
    bool hasLength = false;
    bool hasConnection = false;
    // Clients read the status code, never the reason phrase.
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + " Status\r\n";
    for (const auto &[name, value] : response.headers) {
        head += name + ": " + value + "\r\n";
        const QByteArray lower = name.toLower();
        hasContentType = hasContentType || lower == "content-type";
        hasLength = hasLength || lower == "content-length" || lower == "transfer-encoding";
        hasConnection = hasConnection || lower == "connection";
    }
    // Informational, 204 and 304 answers never carry a body.
    const bool mayHaveBody =
        response.status >= 200 && response.status != 204 && response.status != 304;
    if (!hasContentType && !response.contentType.isEmpty())
        head += "Content-Type: " + response.contentType + "\r\n";
    if (!hasLength && mayHaveBody)
        head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    if (!hasConnection)
        head += closeAfter ? "Connection: close\r\n" : "Connection: keep-alive\r\n";
    head += "\r\n";

    // QTcpSocket buffers what it is given and sends it as the peer takes it, so even a body
    // of many megabytes goes out without holding up the event loop.
    socket->write(head);
    if (mayHaveBody && request.method != "HEAD" && !response.body.isEmpty())
        socket->write(response.body);
}
