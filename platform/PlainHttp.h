#pragma once

#include "Transfer.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>

#include <chrono>
#include <memory>

class HttpAnswer;
class QNetworkCookieJar;
class QTcpSocket;

// HTTP/1.1 GETs over plain TCP, on the thread that makes them, one connection kept alive per
// server. The crawl's pages come one at a time: Qt Network's own client reads each answer's
// status line and headers from its socket a byte and a system call at a time, on a thread of
// its own, which cost more than the rest of a page's load together. This one reads what the
// socket holds at once. Cookies go to and come from the jar it is given, shared with HTTPS
// pages.
class PlainHttp : public QObject {
public:
    using Headers = QList<QPair<QByteArray, QByteArray>>;

    // `cookies` must outlive the client.
    explicit PlainHttp(QNetworkCookieJar &cookies);
    ~PlainHttp() override;

    // Starts a GET of `url` (scheme http, no user name or password) with `headers` beside
    // Host, Connection and Cookie. A transfer that makes no progress for `stall` fails.
    std::unique_ptr<Transfer> get(const QUrl &url, const Headers &headers,
                                  std::chrono::milliseconds stall);

    // "host:port" of `url`: the server a connection is kept for.
    static QString serverOf(const QUrl &url);
    // The value of the Cookie header of a request for `url`: empty when it sends none.
    static QByteArray cookieLine(const QNetworkCookieJar &cookies, const QUrl &url);
    // Puts the cookies that `answer`, read from `url`, sets into `cookies`. Once its head has
    // been read (status() is not 0).
    static void keepCookies(const HttpAnswer &answer, const QUrl &url, QNetworkCookieJar &cookies);

private:
    friend class PlainTransfer;
    // A connected socket to `server` ("host:port") left idle by an earlier answer, or null.
    QTcpSocket *takeIdle(const QString &server);
    // Keeps `socket`, whose answer was read to its end, for the next request to `server`.
    void keepIdle(const QString &server, QTcpSocket *socket);

    QNetworkCookieJar &m_cookies;
    QHash<QString, QTcpSocket *> m_idle; // owned; children of this object
};
