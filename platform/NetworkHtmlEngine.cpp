#include "NetworkHtmlEngine.h"

#include "CookieJar.h"
#include "PlainHttp.h"

#include "HtmlLinks.h"
#include "WebUrl.h"

#include <QFutureWatcher>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QPromise>
#include <QTimer>

#include <limits>
#include <utility>

#include <zlib.h>

namespace {

// Starts with crawlerName, in any case.
const QByteArray userAgent = QByteArrayLiteral("Corvane/" CORVANE_VERSION);
constexpr int maxRedirects = 10;

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

// How a body is read: as it came, or inflated. A coding other than those asked for is read
// as it came, as browsers do: servers that send "Content-Encoding: utf-8" are not rare.
enum class Coding { Identity, Deflated };

Coding codingOf(const QByteArray &contentEncoding) {
    const QByteArray coding = contentEncoding.trimmed().toLower();
    return coding == "gzip" || coding == "x-gzip" || coding == "deflate" ? Coding::Deflated
                                                                         : Coding::Identity;
}

// Inflates a gzip or deflate body as it arrives, and never past a limit: a body of a few
// megabytes can inflate to gigabytes, and only the start of a page is read. The format is
// told by the first bytes, as browsers do, for servers that send raw deflate data as
// "deflate". A stream that breaks off keeps what it gave before the break.
class Inflater {
public:
    Inflater() = default;
    Inflater(const Inflater &) = delete;
    Inflater &operator=(const Inflater &) = delete;
    ~Inflater() {
        if (m_state != State::Sniffing)
            inflateEnd(&m_stream);
    }

    // Appends what `input` inflates to onto `out`, until `out` holds `limit` bytes.
    void feed(QByteArrayView input, QByteArray &out, qsizetype limit) {
        if (m_state == State::Sniffing) {
            m_head += input;
            if (m_head.size() < 2)
                return;
            const auto first = quint8(m_head[0]);
            const auto second = quint8(m_head[1]);
            const bool gzip = first == 0x1f && second == 0x8b;
            const bool zlib = (first & 0x0f) == Z_DEFLATED && (first * 256 + second) % 31 == 0;
            m_members = gzip;
            // 32 more bits of window: zlib reads the gzip or zlib header itself.
            if (inflateInit2(&m_stream, gzip || zlib ? MAX_WBITS + 32 : -MAX_WBITS) != Z_OK) {
                m_state = State::Ended;
                return;
            }
            m_state = State::Inflating;
            const QByteArray head = std::exchange(m_head, {});
            run(head, out, limit);
            return;
        }
        if (m_state == State::Inflating)
            run(input, out, limit);
    }

    // The stream has ended, or broke off: nothing more will come of it.
    bool ended() const { return m_state == State::Ended; }

private:
    enum class State { Sniffing, Inflating, Ended };

    void run(QByteArrayView input, QByteArray &out, qsizetype limit) {
        m_stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(input.data()));
        m_stream.avail_in = uInt(input.size());
        while (m_stream.avail_in > 0 && out.size() < limit) {
            const qsizetype start = out.size();
            const qsizetype room = std::min<qsizetype>(limit - start, 256 * 1024);
            out.resize(start + room);
            m_stream.next_out = reinterpret_cast<Bytef *>(out.data() + start);
            m_stream.avail_out = uInt(room);
            const int result = inflate(&m_stream, Z_NO_FLUSH);
            out.resize(out.size() - qsizetype(m_stream.avail_out));
            // Another gzip member may follow; anything else after the end is not read.
            if (result == Z_STREAM_END && m_members && inflateReset(&m_stream) == Z_OK)
                continue;
            if (result == Z_BUF_ERROR) // no progress: more input is needed
                return;
            if (result != Z_OK) {
                m_state = State::Ended;
                return;
            }
        }
    }

    z_stream m_stream{};
    State m_state = State::Sniffing;
    QByteArray m_head;      // the first bytes, until there are enough to tell the format
    bool m_members = false; // gzip, whose members may follow one another
};

struct TransferDeleter {
    const QObject *owner = nullptr;
    void operator()(Transfer *transfer) const {
        QObject::disconnect(transfer, nullptr, owner, nullptr);
        transfer->abort();
        transfer->deleteLater();
    }
};

// A transfer by Qt Network: HTTPS, and whatever goes through a proxy.
class QtTransfer final : public Transfer {
public:
    explicit QtTransfer(QNetworkReply *reply)
        : m_reply(reply) {
        setParent(reply->manager());
        connect(reply, &QNetworkReply::readyRead, this, &Transfer::readyRead);
        connect(reply, &QNetworkReply::finished, this, &Transfer::finished);
    }
    ~QtTransfer() override { abort(); }

    int status() const override {
        return m_reply ? m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() : 0;
    }
    QByteArray reasonPhrase() const override {
        return m_reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray();
    }
    QByteArray header(const QByteArray &name) const override {
        return m_reply->hasRawHeader(name) ? m_reply->rawHeader(name) : QByteArray();
    }
    QUrl url() const override { return m_reply->url(); }
    QByteArray read(qint64 maxSize) override {
        return maxSize >= m_reply->bytesAvailable() ? m_reply->readAll() : m_reply->read(maxSize);
    }
    Failure failure() const override {
        switch (m_reply->error()) {
        case QNetworkReply::NoError:
            return Failure::None;
        // Qt ends a transfer that stalls as if it had been cancelled.
        case QNetworkReply::OperationCanceledError:
        case QNetworkReply::TimeoutError:
            return Failure::TimedOut;
        default:
            return Failure::Other;
        }
    }
    QString errorString() const override { return m_reply->errorString(); }
    // A reply is often let go in a slot of its own readyRead or finished, where Qt still uses
    // it once the slot returns: it goes once control is back in the event loop. Only this
    // transfer's connections are cut: Qt's link to the transfer must stay, or the abort never
    // reaches it and the connection stays busy with a body nobody reads.
    void abort() override {
        if (!m_reply)
            return;
        QObject::disconnect(m_reply, nullptr, this, nullptr);
        m_reply->abort();
        m_reply->deleteLater();
        m_reply = nullptr;
    }

private:
    QNetworkReply *m_reply;
};

} // namespace

// Starts each transfer with the client that suits its address.
class Transfers {
public:
    Transfers(ProxyMode proxy, const std::optional<QSslConfiguration> &tls)
        : m_proxy(proxy)
        , m_tls(tls)
        , m_plain(boundedJar(m_network)) {
        if (proxy == ProxyMode::System)
            QNetworkProxyFactory::setUseSystemConfiguration(true);
        else
            m_network.setProxy(QNetworkProxy::NoProxy);
    }

    std::unique_ptr<Transfer> get(const QUrl &url, std::chrono::milliseconds stall) {
        const PlainHttp::Headers headers{
            {"User-Agent", userAgent},
            {"Accept", "text/html,application/xhtml+xml,*/*;q=0.8"},
            // Asked for here, so that the body comes as it was sent and is inflated in
            // gather(), only as far as the page limit. Qt's own decompression first inflates
            // all that has arrived, to count it, before handing a byte over: a small body that
            // inflates to gigabytes then either trips its safety check (at 10 MiB by default,
            // which throws the whole page away, its first link included) or, with the check
            // raised, holds the window for seconds.
            {"Accept-Encoding", "gzip, deflate"},
        };
        if (plain(url))
            return m_plain.get(url, headers, stall);
        QNetworkRequest request(url);
        for (const auto &[name, value] : headers)
            request.setRawHeader(name, value);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::ManualRedirectPolicy);
        request.setTransferTimeout(int(stall.count()));
        if (m_tls)
            request.setSslConfiguration(*m_tls);
        return std::make_unique<QtTransfer>(m_network.get(request));
    }

private:
    // Gives `network` a jar of its own, which it owns, and hands that jar on to the plain
    // client: both clients send and keep the same cookies.
    static QNetworkCookieJar &boundedJar(QNetworkAccessManager &network) {
        network.setCookieJar(new CookieJar);
        return *network.cookieJar();
    }

    // Plain HTTP that goes to the server directly, with no credentials in its address.
    bool plain(const QUrl &url) {
        if (url.scheme() != u"http" || !url.userInfo().isEmpty())
            return false;
        if (m_proxy == ProxyMode::None)
            return true;
        const QString server = PlainHttp::serverOf(url);
        auto known = m_direct.constFind(server);
        if (known == m_direct.cend()) {
            const QList<QNetworkProxy> proxies =
                QNetworkProxyFactory::proxyForQuery(QNetworkProxyQuery(url));
            known = m_direct.insert(server, proxies.isEmpty() ||
                                                proxies.first().type() == QNetworkProxy::NoProxy);
        }
        return *known;
    }

    const ProxyMode m_proxy;
    const std::optional<QSslConfiguration> &m_tls;
    QNetworkAccessManager m_network;
    PlainHttp m_plain;
    QHash<QString, bool> m_direct; // by "host:port": whether no proxy stands between
};

namespace {

// What a load reads of its body: the links of a page, or a file's bytes as they came.
struct Reading {
    bool file = false;
    qint64 maxBodyBytes;
    int maxRedirects;
    HtmlEngine::RedirectCheck redirectCheck;
};

// A page being loaded: the reply's bytes are gathered on the window's thread, then decoded
// and parsed on the engine's pool; the document completes when the links are back. A file
// completes with its bytes.
class NetworkDocument final : public QObject, public HtmlDocument {
public:
    NetworkDocument(Transfers &transfers, QThreadPool &parsers, const FetchLimits &limits,
                    const QUrl &url, Reading reading)
        : m_transfers(transfers)
        , m_parsers(parsers)
        , m_stall(limits.stall)
        , m_maxBodyBytes(reading.maxBodyBytes)
        , m_maxBodyParsedHere(limits.maxBodyParsedHere)
        , m_end(limits.total)
        , m_file(reading.file)
        , m_maxRedirects(reading.maxRedirects)
        , m_redirectCheck(std::move(reading.redirectCheck))
        , m_asked(url)
        , m_reply(nullptr, TransferDeleter{this}) {
        m_deadline.setSingleShot(true);
        connect(&m_deadline, &QTimer::timeout, this, [this] { fail(QStringLiteral("timed out")); });
        m_deadline.start(limits.total); // covers the redirects and the parse as well
        connect(&m_parse, &QFutureWatcherBase::finished, this, [this] {
            completeParse(m_parse.future().resultCount() ? m_parse.result() : std::nullopt);
        });
        request(url);
    }

    ~NetworkDocument() override { m_abandoned->store(true); }

    QString readyState() const override {
        return m_complete ? QStringLiteral("complete") : QStringLiteral("loading");
    }
    QStringList links() const override { return m_links; }
    QString failure() const override { return m_complete ? m_failure : QString(); }
    PageFacts facts() const override {
        if (!m_complete)
            return {};
        PageFacts facts = m_facts;
        if (m_head)
            facts.canonical = m_head->canonical();
        return facts;
    }
    QByteArray body() const override { return m_complete ? m_body : QByteArray(); }

private:
    // Redirects are followed here, one request each: Qt 6.4 following them itself sends the
    // request after a second redirect several times over, and ends with an empty page.
    void request(const QUrl &url) {
        m_reply.reset(m_transfers.get(url, m_stall).release());
        connect(m_reply.get(), &Transfer::readyRead, this, &NetworkDocument::gather);
        connect(m_reply.get(), &Transfer::finished, this, &NetworkDocument::loaded);
    }

    // Whether the reply so far is a redirect; its own body is never the document's.
    bool redirecting() const {
        const int status = m_reply->status();
        return (status == 301 || status == 302 || status == 303 || status == 307 ||
                status == 308) &&
               !m_reply->header("Location").isNull();
    }

    // Browsers follow every redirect, https to http included, up to a limit; one to any other
    // scheme, or past the limit, leaves them with no page at all.
    void follow() {
        const std::optional<WebUrl> from =
            WebUrl::parse(QString::fromUtf8(m_reply->url().toEncoded()));
        const std::optional<WebUrl> to =
            from ? WebUrl::parse(QString::fromUtf8(m_reply->header("Location")), &*from)
                 : std::nullopt;
        const std::optional<QUrl> next = requestUrl(to);
        if (!next) {
            endRedirects(QStringLiteral("redirected to an address that cannot be requested"));
            return;
        }
        if (m_redirects == m_maxRedirects) {
            endRedirects(QStringLiteral("too many redirects"));
            return;
        }
        if (m_redirectCheck) {
            if (const QString refused = m_redirectCheck(to->href()); !refused.isNull()) {
                endRedirects(refused);
                return;
            }
        }
        ++m_redirects;
        request(*next);
    }

    void gather() {
        if (redirecting())
            return;
        if (!m_coding)
            m_coding = codingOf(m_reply->header("Content-Encoding"));
        switch (*m_coding) {
        case Coding::Identity:
            m_body += m_reply->read(m_maxBodyBytes - m_body.size());
            break;
        case Coding::Deflated:
            m_inflater.feed(m_reply->read(std::numeric_limits<qint64>::max()), m_body,
                            m_maxBodyBytes);
            break;
        }
        // The rest of an oversized page is not read.
        if (m_body.size() >= m_maxBodyBytes || m_inflater.ended())
            parse();
    }

    void loaded() {
        const Transfer::Failure failure = m_reply->failure();
        // An HTTP error status still comes with the page the server sent; a connection that
        // failed or timed out has no page at all.
        if (m_reply->status() == 0 || failure == Transfer::Failure::TimedOut) {
            fail(failure == Transfer::Failure::TimedOut ? QStringLiteral("timed out")
                                                        : m_reply->errorString());
            return;
        }
        if (redirecting()) {
            follow();
            return;
        }
        gather();
        parse();
    }

    // A chain of redirects that ends without a page: the last redirect is the answer.
    void endRedirects(const QString &reason) {
        keepAnswer();
        m_failure = reason;
        complete({});
    }

    void keepAnswer() {
        m_facts.status = m_reply->status();
        m_facts.robotsTag = m_reply->header("X-Robots-Tag");
        m_facts.lastModified = m_reply->header("Last-Modified");
        const QUrl url = m_reply->url();
        m_facts.redirected = url != m_asked;
        // The page reader's reading of it replaces it once the page is read.
        m_facts.address = QString::fromUtf8(url.toEncoded());
    }

    void parse() {
        if (!m_reply)
            return;
        keepAnswer();
        if (m_file) {
            m_reply.reset();
            complete({});
            return;
        }
        const int status = m_reply->status();
        if (status >= 400) {
            const QByteArray phrase = m_reply->reasonPhrase();
            m_failure =
                QStringLiteral("%1 %2").arg(status).arg(QString::fromUtf8(phrase)).trimmed();
        }
        const QByteArray contentType = m_reply->header("Content-Type");
        // Links resolve against the address of the last redirect.
        const QString finalUrl = QString::fromUtf8(m_reply->url().toEncoded());
        m_reply.reset();

        const auto linksOf = [contentType, finalUrl, end = m_end,
                              stop = m_abandoned](const QByteArray &body) {
            return readServedPage(body, contentType, finalUrl, end, stop.get());
        };
        if (m_body.size() <= m_maxBodyParsedHere) {
            completeParse(linksOf(std::exchange(m_body, {})));
            return;
        }
        auto promise = std::make_shared<QPromise<std::optional<PageReading>>>();
        m_parse.setFuture(promise->future());
        m_parsers.start([promise, linksOf, body = std::move(m_body)] {
            promise->start();
            promise->addResult(linksOf(body));
            promise->finish();
        });
    }

    // A body that is not HTML has no links, and the page fails unless it failed already.
    void completeParse(const std::optional<PageReading> &reading) {
        if (!reading && m_failure.isNull())
            m_failure = QStringLiteral("not HTML");
        if (reading && !m_complete) {
            if (!reading->address.isNull())
                m_facts.address = reading->address;
            m_facts.robotsMeta = reading->robots;
            m_head = reading;
            m_head->links.clear();
        }
        complete(reading ? reading->links : QStringList());
    }

    // No answer came whole.
    void fail(const QString &reason) {
        if (!m_complete) {
            m_failure = reason;
            m_facts = {};
        }
        complete({});
    }

    void complete(const QStringList &links) {
        if (m_complete)
            return;
        m_reply.reset();
        m_deadline.stop();
        m_links = links;
        m_complete = true;
    }

    Transfers &m_transfers;
    QThreadPool &m_parsers;
    const std::chrono::milliseconds m_stall;
    const qint64 m_maxBodyBytes;
    const qint64 m_maxBodyParsedHere;
    const QDeadlineTimer m_end;
    const bool m_file;
    const int m_maxRedirects;
    const HtmlEngine::RedirectCheck m_redirectCheck;
    const QUrl m_asked;
    // Set when the document goes: a parse still running for it stops at once.
    const std::shared_ptr<std::atomic<bool>> m_abandoned = std::make_shared<std::atomic<bool>>();
    std::unique_ptr<Transfer, TransferDeleter> m_reply;
    std::optional<Coding> m_coding; // the final reply's, once its body starts
    Inflater m_inflater;
    QByteArray m_body; // as the page reads, inflated
    QTimer m_deadline;
    QFutureWatcher<std::optional<PageReading>> m_parse;
    QStringList m_links;
    PageFacts m_facts;
    std::optional<PageReading> m_head; // the reading, but for the links
    QString m_failure;                 // null unless the page failed
    int m_redirects = 0;               // followed so far
    bool m_complete = false;
};

} // namespace

NetworkHtmlEngine::NetworkHtmlEngine(FetchLimits limits, ProxyMode proxy,
                                     const QList<QSslCertificate> &extraAuthorities)
    : m_limits(limits) {
    if (!extraAuthorities.isEmpty()) {
        m_tls = QSslConfiguration::defaultConfiguration();
        m_tls->setCaCertificates(QSslConfiguration::systemCaCertificates() + extraAuthorities);
    }
    m_transfers = std::make_unique<Transfers>(proxy, m_tls);
}

NetworkHtmlEngine::~NetworkHtmlEngine() {
    m_parsers.waitForDone();
}

std::unique_ptr<HtmlDocument> NetworkHtmlEngine::createDocumentFromUrl(const QString &address) {
    const std::optional<QUrl> url = requestUrl(WebUrl::parse(address));
    if (!url)
        return nullptr;
    return std::make_unique<NetworkDocument>(
        *m_transfers, m_parsers, m_limits, *url,
        Reading{false, m_limits.maxBodyBytes, maxRedirects, m_redirectCheck});
}

std::unique_ptr<HtmlDocument>
NetworkHtmlEngine::createFileFromUrl(const QString &address, qint64 maxBytes, int maxRedirects) {
    const std::optional<QUrl> url = requestUrl(WebUrl::parse(address));
    if (!url)
        return nullptr;
    return std::make_unique<NetworkDocument>(*m_transfers, m_parsers, m_limits, *url,
                                             Reading{true, maxBytes, maxRedirects, {}});
}
