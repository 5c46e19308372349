#include "PlainHttp.h"

#include "HttpAnswer.h"

#include <QLocale>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {

// As Qt Network sends it: the system's language, then anything.
QByteArray acceptLanguage() {
    QString name = QLocale::system().name();
    if (name == u"C")
        return "en,*";
    name.replace(u'_', u'-');
    name += name.startsWith(u"en-") ? QStringLiteral(",*") : QStringLiteral(",en,*");
    return name.toLatin1();
}

} // namespace

// One GET on a connection of its own or on one left idle by an earlier answer.
class PlainTransfer final : public Transfer {
public:
    PlainTransfer(PlainHttp &client, const QUrl &url, QByteArray request,
                  std::chrono::milliseconds stall)
        : m_client(client)
        , m_url(url)
        , m_server(PlainHttp::serverOf(url))
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

    int status() const override { return m_answer.status(); }
    QByteArray reasonPhrase() const override { return m_answer.reason(); }
    QByteArray header(const QByteArray &name) const override { return m_answer.header(name); }
    QUrl url() const override { return m_url; }
    QByteArray read(qint64 maxSize) override {
        return m_answer.takeBody(qsizetype(std::min<qint64>(maxSize, m_answer.bodySize())));
    }
    Failure failure() const override { return m_failure; }
    QString errorString() const override { return m_error; }
    void abort() override {
        m_done = true;
        m_stall.stop();
        release(false);
    }

private:
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
        m_socket->write(m_request);
        m_socket->flush();
    }

    void readable() {
        if (m_done || m_socket->bytesAvailable() <= 0)
            return;
        m_stall.start();
        m_heardBack = true;
        const bool headKnown = m_answer.status() != 0;
        const qsizetype hadBody = m_answer.bodySize();
        m_answer.feed(m_socket->readAll());
        // The cookies of a head that was read are kept whatever becomes of the body, however
        // the answer's bytes came; a head that was refused sets none.
        if (!headKnown && m_answer.status() != 0)
            PlainHttp::keepCookies(m_answer, m_url, m_client.m_cookies);
        if (m_answer.state() == HttpAnswer::State::Broken) {
            end(Failure::Other, m_answer.error());
            return;
        }
        if (m_answer.bodySize() > hadBody)
            Q_EMIT readyRead();
        if (!m_done && m_answer.state() == HttpAnswer::State::Whole)
            complete();
    }

    // The connection ended or failed.
    void closed() {
        if (m_done)
            return;
        readable(); // what the socket still holds comes first
        if (m_done)
            return;
        m_answer.closed();
        if (m_answer.state() == HttpAnswer::State::Whole) {
            complete();
            return;
        }
        // A server may close a kept-alive connection just as the next request goes out: that
        // request is sent again once, on a new connection, as Qt Network and browsers do.
        if (m_reused && !m_heardBack) {
            release(false);
            m_reused = false;
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

    void complete() {
        m_done = true;
        m_stall.stop();
        release(m_answer.reusable() && m_socket->bytesAvailable() == 0);
        Q_EMIT finished();
    }

    void end(Failure failure, const QString &reason) {
        m_failure = failure;
        m_error = reason;
        m_done = true;
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
    bool m_done = false;            // finished, failed or aborted
    HttpAnswer m_answer;
    QTimer m_stall;
    Failure m_failure = Failure::None;
    QString m_error;
};

PlainHttp::PlainHttp(QNetworkCookieJar &cookies)
    : m_cookies(cookies) {
}

PlainHttp::~PlainHttp() = default;

QString PlainHttp::serverOf(const QUrl &url) {
    return url.host(QUrl::FullyEncoded) + u':' + QString::number(url.port(80));
}

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
    const QByteArray cookies = cookieLine(m_cookies, url);
    if (!cookies.isEmpty())
        request += "Cookie: " + cookies + "\r\n";
    request += "\r\n";
    return std::make_unique<PlainTransfer>(*this, url, std::move(request), stall);
}

QByteArray PlainHttp::cookieLine(const QNetworkCookieJar &cookies, const QUrl &url) {
    QByteArray line;
    for (const QNetworkCookie &cookie : cookies.cookiesForUrl(url)) {
        const QByteArray pair = cookie.toRawForm(QNetworkCookie::NameAndValueOnly);
        // A server's cookie never breaks the request's lines.
        if (pair.contains('\r') || pair.contains('\n') || pair.contains('\0'))
            continue;
        line += (line.isEmpty() ? "" : "; ") + pair;
    }
    return line;
}

void PlainHttp::keepCookies(const HttpAnswer &answer, const QUrl &url, QNetworkCookieJar &cookies) {
    for (const auto &[name, value] : answer.headers()) {
        if (name == "set-cookie")
            cookies.setCookiesFromUrl(QNetworkCookie::parseCookies(value), url);
    }
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
