#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSslConfiguration>
#include <QString>
#include <QTcpServer>

#include <functional>
#include <memory>
#include <optional>

class QTcpSocket;

// An HTTP/1.1 server on 127.0.0.1 for the tests, run in the test's own thread and event loop.
// Each test gives it the pages it needs (or one handler for every request); it keeps
// connections alive as a browser's server does and records every request in the order it
// arrived, with the id of the connection it came on.
class HttpServer : public QObject {
    Q_OBJECT
public:
    struct Request {
        int connection = 0; // 1 for the first connection accepted, 2 for the next ...
        QByteArray method;  // "GET"
        QByteArray target;  // the request target as sent: "/a/b?c=d"
        QHash<QByteArray, QByteArray> headers; // names lower-cased
    };

    struct Response {
        enum class Kind {
            Normal,      // send status, headers and body
            NeverAnswer, // read the request, keep the connection open, send nothing
            Close,       // close the connection without answering
        };
        Kind kind = Kind::Normal;
        int status = 200;
        QList<QPair<QByteArray, QByteArray>> headers; // sent as given, after the status line
        QByteArray body;
        // Content-Type sent unless `headers` holds one; empty sends no Content-Type at all.
        QByteArray contentType = "text/html; charset=utf-8";
        int delayMs = 0; // wait this long before answering
    };
    using Handler = std::function<Response(const Request &)>;

    explicit HttpServer(QObject *parent = nullptr);
    ~HttpServer() override;

    // Listens on 127.0.0.1, port 0 (any free port), for HTTPS when `tls` is given (its local
    // certificate, key and ALPN protocols are the server's). False when that fails.
    bool listen(const std::optional<QSslConfiguration> &tls = std::nullopt);
    quint16 port() const;
    // "http://127.0.0.1:PORT" (or "https://...") followed by `path`.
    QString url(const QString &path = QString()) const;
    // The ALPN protocol agreed on each HTTPS connection so far, in order of connection.
    QList<QByteArray> protocols() const { return m_protocols; }

    // Answers requests for `target` (path and query, exactly as requested) with `response`.
    void setPage(const QByteArray &target, const Response &response);
    // Shorthand: a 200 text/html page with `html` as its body.
    void setHtml(const QByteArray &target, const QByteArray &html);
    // Used for every target that has no page of its own; the default answers 404.
    void setHandler(Handler handler);

    QList<Request> requests() const { return m_requests; }
    void clearRequests() { m_requests.clear(); }
    // The targets of all requests so far, in order of arrival.
    QList<QByteArray> targets() const;
    int connectionCount() const { return m_connections; }

Q_SIGNALS:
    void requestReceived(const HttpServer::Request &request);

private:
    struct Connection;

    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);
    // Answers the requests waiting on `connection`, in order, as far as their delays allow.
    void answerWaiting(Connection *connection);
    void answer(QTcpSocket *socket, const Request &request, const Response &response,
                bool closeAfter);
    Response responseFor(const Request &request) const;

    std::unique_ptr<QTcpServer> m_server = std::make_unique<QTcpServer>();
    bool m_tls = false;
    QList<QByteArray> m_protocols;
    QHash<QTcpSocket *, Connection *> m_open; // each Connection is a child of its socket
    QHash<QByteArray, Response> m_pages;
    Handler m_handler;
    QList<Request> m_requests;
    int m_connections = 0;
};
