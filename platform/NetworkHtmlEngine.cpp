#include "NetworkHtmlEngine.h"

#include "HtmlLinks.h"
#include "PageDecoder.h"
#include "WebUrl.h"

#include <QFutureWatcher>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QPromise>
#include <QTimer>

#include <utility>

namespace {

const QByteArray userAgent = QByteArrayLiteral("Corvane/" CORVANE_VERSION);
constexpr int maxRedirects = 10;
// Even hostile markup of this size (thousands of nested elements) parses here in tens of
// milliseconds.
constexpr qsizetype maxBodyParsedHere = 32 * 1024;

// A reply is often let go in a slot of its own readyRead or finished, where Qt still uses it
// once the slot returns: it goes once control is back in the event loop. Only the document's
// own connections are cut: Qt's link to the transfer must stay, or the abort never reaches it
// and the connection stays busy with a body nobody reads.
// What is sent for an address: only http and https are fetched, and the fragment stays with
// the client. Nothing when the address cannot be requested.
std::optional<QUrl> requestUrl(const std::optional<WebUrl> &address) {
    if (!address || (address->scheme() != u"http" && address->scheme() != u"https"))
        return std::nullopt;
    QUrl url = QUrl::fromEncoded(address->href().toUtf8());
    url.setFragment(QString());
    if (!url.isValid())
        return std::nullopt;
    return url;
}

struct ReplyDeleter {
    const QObject *owner = nullptr;
    void operator()(QNetworkReply *reply) const {
        QObject::disconnect(reply, nullptr, owner, nullptr);
        reply->abort();
        reply->deleteLater();
    }
};

// A page being loaded: the reply's bytes are gathered on the window's thread, then decoded
// and parsed on the engine's pool; the document completes when the links are back.
class NetworkDocument final : public QObject, public HtmlDocument {
public:
    NetworkDocument(QNetworkAccessManager &network, QThreadPool &parsers, const FetchLimits &limits,
                    const QUrl &url)
        : m_network(network)
        , m_parsers(parsers)
        , m_stall(limits.stall)
        , m_maxBodyBytes(limits.maxBodyBytes)
        , m_end(limits.total)
        , m_reply(nullptr, ReplyDeleter{this}) {
        m_deadline.setSingleShot(true);
        connect(&m_deadline, &QTimer::timeout, this, [this] { complete({}); });
        m_deadline.start(limits.total); // covers the redirects and the parse as well
        connect(&m_parse, &QFutureWatcherBase::finished, this, [this] {
            complete(m_parse.future().resultCount() ? m_parse.result() : QStringList());
        });
        request(url);
    }

    ~NetworkDocument() override { m_abandoned->store(true); }

    QString readyState() const override {
        return m_complete ? QStringLiteral("complete") : QStringLiteral("loading");
    }
    QStringList links() const override { return m_links; }

private:
    // Redirects are followed here, one request each: Qt 6.4 following them itself sends the
    // request after a second redirect several times over, and ends with an empty page.
    void request(const QUrl &url) {
        QNetworkRequest request(url);
        request.setHeader(QNetworkRequest::UserAgentHeader, userAgent);
        request.setRawHeader("Accept", "text/html,application/xhtml+xml,*/*;q=0.8");
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::ManualRedirectPolicy);
        request.setTransferTimeout(int(m_stall.count()));
        m_reply.reset(m_network.get(request));
        connect(m_reply.get(), &QNetworkReply::readyRead, this, &NetworkDocument::gather);
        connect(m_reply.get(), &QNetworkReply::finished, this, &NetworkDocument::loaded);
    }

    // Whether the reply so far is a redirect; its own body is never the document's.
    bool redirecting() const {
        const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        return (status == 301 || status == 302 || status == 303 || status == 307 ||
                status == 308) &&
               m_reply->hasRawHeader("Location");
    }

    // Browsers follow every redirect, https to http included, up to a limit; one to any other
    // scheme, or past the limit, leaves them with no page at all.
    void follow() {
        const std::optional<WebUrl> from =
            WebUrl::parse(QString::fromUtf8(m_reply->url().toEncoded()));
        const std::optional<WebUrl> to =
            from ? WebUrl::parse(QString::fromUtf8(m_reply->rawHeader("Location")), &*from)
                 : std::nullopt;
        const std::optional<QUrl> next = requestUrl(to);
        if (!next || m_redirects == maxRedirects) {
            complete({});
            return;
        }
        ++m_redirects;
        request(*next);
    }

    void gather() {
        if (redirecting())
            return;
        m_body += m_reply->read(m_maxBodyBytes - m_body.size());
        if (m_body.size() >= m_maxBodyBytes)
            parse(); // the rest of an oversized page is not read
    }

    void loaded() {
        const QNetworkReply::NetworkError error = m_reply->error();
        // An HTTP error status still comes with the page the server sent; a connection that
        // failed or timed out has no page at all.
        const bool answered =
            m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid() &&
            error != QNetworkReply::OperationCanceledError && error != QNetworkReply::TimeoutError;
        if (!answered) {
            complete({});
            return;
        }
        if (redirecting()) {
            follow();
            return;
        }
        gather();
        parse();
    }

    void parse() {
        if (!m_reply)
            return;
        const QByteArray contentType =
            m_reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
        // Links resolve against the address of the last redirect.
        const QString finalUrl = QString::fromUtf8(m_reply->url().toEncoded());
        m_reply.reset();

        const auto linksOf = [contentType, finalUrl, end = m_end,
                              stop = m_abandoned](const QByteArray &body) {
            const DecodedPage page = decodePage(body, contentType);
            return page.isHtml ? extractLinks(page.text, finalUrl, page.encoding, end, stop.get())
                               : QStringList();
        };
        // A page of ordinary size parses in a millisecond or two: handing it to another thread
        // and back would cost more than it saves. Larger ones would hold the window up.
        if (m_body.size() <= maxBodyParsedHere) {
            complete(linksOf(std::exchange(m_body, {})));
            return;
        }
        auto promise = std::make_shared<QPromise<QStringList>>();
        m_parse.setFuture(promise->future());
        m_parsers.start([promise, linksOf, body = std::move(m_body)] {
            promise->start();
            promise->addResult(linksOf(body));
            promise->finish();
        });
    }

    void complete(const QStringList &links) {
        if (m_complete)
            return;
        m_reply.reset();
        m_deadline.stop();
        m_links = links;
        m_complete = true;
    }

    QNetworkAccessManager &m_network;
    QThreadPool &m_parsers;
    const std::chrono::milliseconds m_stall;
    const qint64 m_maxBodyBytes;
    const QDeadlineTimer m_end;
    // Set when the document goes: a parse still running for it stops at once.
    const std::shared_ptr<std::atomic<bool>> m_abandoned = std::make_shared<std::atomic<bool>>();
    std::unique_ptr<QNetworkReply, ReplyDeleter> m_reply;
    QByteArray m_body;
    QTimer m_deadline;
    QFutureWatcher<QStringList> m_parse;
    QStringList m_links;
    int m_redirects = 0; // followed so far
    bool m_complete = false;
};

} // namespace

NetworkHtmlEngine::NetworkHtmlEngine(FetchLimits limits, ProxyMode proxy)
    : m_limits(limits)
    , m_network(std::make_unique<QNetworkAccessManager>()) {
    if (proxy == ProxyMode::System)
        QNetworkProxyFactory::setUseSystemConfiguration(true);
    else
        m_network->setProxy(QNetworkProxy::NoProxy);
}

NetworkHtmlEngine::~NetworkHtmlEngine() {
    m_parsers.waitForDone();
}

std::unique_ptr<HtmlDocument> NetworkHtmlEngine::createDocumentFromUrl(const QString &address) {
    const std::optional<QUrl> url = requestUrl(WebUrl::parse(address));
    if (!url)
        return nullptr;
    return std::make_unique<NetworkDocument>(*m_network, m_parsers, m_limits, *url);
}
