#include "CookieJar.h"
#include "HttpAnswer.h"
#include "HttpServer.h"
#include "NetworkHtmlEngine.h"
#include "TestTls.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>

#include <memory>

#include <zlib.h>

using namespace std::chrono_literals;

Q_DECLARE_METATYPE(HttpServer::Response::Kind)
Q_DECLARE_METATYPE(ServerCertificate)

// The engine as the crawl uses it, against a real HTTP server on the loopback: what each
// document reports as its links, what the server was asked for, and how long a load that goes
// wrong may hold the crawl up.
class tst_NetworkHtmlEngine : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void pageLinks_data();
    void pageLinks();
    void redirects_data();
    void redirects();
    void oversizedPageParsedUpToTheLimit();
    void failedLoads_data();
    void failedLoads();
    void requestsOnOneConnection();
    void cookieFloodKeptWithinBounds();
    void cookiesOfManySitesKeptWithinBounds();
    void connectionClosedWhileIdle();
    void systemProxyCarriesPlainHttp();
    void abandonedLoadsFreeTheirConnections_data();
    void abandonedLoadsFreeTheirConnections();
    void destroyedWhileLoadingLargePage_data();
    void destroyedWhileLoadingLargePage();
    void deeplyNestedPageCompletes();

    // Compressed bodies and HTTPS.
    void gzipBombGivesNoLinks();
    void httpsPages_data();
    void httpsPages();
    void factsAlikeOverBothClients_data();
    void factsAlikeOverBothClients();
};

namespace {

// Long enough for any page of these tests to load, even under AddressSanitizer.
constexpr int loadTimeoutMs = 10'000;

// `expected` with every entry that starts with '/' made an address on `server`.
QStringList onServer(const HttpServer &server, const QStringList &expected) {
    QStringList result;
    for (const QString &link : expected)
        result.append(link.startsWith(u'/') ? server.url(link) : link);
    return result;
}

void appendLittleEndian(QByteArray &out, quint32 value) {
    for (int i = 0; i < 4; ++i)
        out.append(char((value >> (8 * i)) & 0xFF));
}

// A page of about 1.3 MiB with `links` links, parsed off the window's thread.
QByteArray largePage(int links) {
    QByteArray html = "<!DOCTYPE html><html><head><title>Articles</title></head><body>\n";
    for (int i = 0; i < links; ++i)
        html +=
            "<article><h2><a href=\"articles/" + QByteArray::number(i) +
            ".html\">Article</a></h2><p>Lorem ipsum dolor sit amet, consectetur.</p></article>\n";
    return html + "</body></html>\n";
}

// The cookies a request carried, in the order sent.
QList<QByteArray> cookiesOf(const HttpServer::Request &request) {
    QList<QByteArray> cookies;
    const QByteArray line = request.headers.value("cookie");
    for (const QByteArray &cookie : line.split(';'))
        cookies.append(cookie.trimmed());
    return line.isEmpty() ? QList<QByteArray>() : cookies;
}

// A page that sets `cookies` and links to /next.
HttpServer::Response settingCookies(const QList<QByteArray> &cookies) {
    HttpServer::Response response;
    for (const QByteArray &cookie : cookies)
        response.headers.append({"Set-Cookie", cookie});
    response.body = "<a href=\"/next\">next</a>";
    return response;
}

// Waits for `doc` to complete and gives its links.
QStringList linksOnceComplete(const std::unique_ptr<HtmlDocument> &doc) {
    if (!QTest::qWaitFor([&] { return doc && doc->readyState() == u"complete"; }, loadTimeoutMs))
        return {QStringLiteral("<not complete>")};
    return doc->links();
}

} // namespace

void tst_NetworkHtmlEngine::pageLinks_data() {
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("links");

    const QByteArray html = "<!DOCTYPE html><html><head><title>t</title></head><body>"
                            "<a href=\"child\">c</a> <a href=\"/top?x=1\">t</a>"
                            "<map><area href=\"../up\"></map>"
                            "<a href=\"http://other.test/x\">o</a></body></html>";
    const QStringList links{"/dir/child", "/top?x=1", "/up", "http://other.test/x"};
    const QByteArray htmlType = "text/html; charset=utf-8";

    QTest::newRow("relative links not resolved against the page")
        << 200 << htmlType << html << links;
    QTest::newRow("404 page's links dropped") << 404 << htmlType << html << links;
    QTest::newRow("text/plain parsed as HTML")
        << 200 << QByteArray("text/plain") << html << QStringList();
    // Read as HTML, this page would have three links. Its DTD declares &nbsp;.
    QTest::newRow("application/xhtml+xml parsed as HTML")
        << 200 << QByteArray("application/xhtml+xml")
        << QByteArray("<?xml version=\"1.0\" encoding=\"utf-8\"?>"
                      "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Strict//EN\" "
                      "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-strict.dtd\">"
                      "<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>t</title></head>"
                      "<body><p>&nbsp;<a href=\"child\">c</a><A href=\"upper\"/></p>"
                      "<p><a href=\"after?a&b\">error</a></p></body></html>")
        << QStringList{"/dir/child"};
    // The path of a link is always UTF-8; its query is in the page's own encoding.
    QTest::newRow("page's encoding not used for the query")
        << 200 << QByteArray("text/html; charset=windows-1252")
        << QByteArray("<!DOCTYPE html><body><a href=\"/caf\xe9?q=\xe9\">caf\xe9</a>")
        << QStringList{"/caf%C3%A9?q=%E9"};
    QTest::newRow("XML declaration's encoding ignored")
        << 200 << QByteArray("application/xhtml+xml")
        << QByteArray("<?xml version=\"1.0\" encoding=\"windows-1252\"?>"
                      "<html xmlns=\"http://www.w3.org/1999/xhtml\"><body>"
                      "<a href=\"/caf\xe9?q=\xe9\">caf\xe9</a></body></html>")
        << QStringList{"/caf%C3%A9?q=%E9"};
}

void tst_NetworkHtmlEngine::pageLinks() {
    QFETCH(int, status);
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, body);
    QFETCH(QStringList, links);

    HttpServer server;
    QVERIFY(server.listen());
    HttpServer::Response response;
    response.status = status;
    response.contentType = contentType;
    response.body = body;
    server.setPage("/dir/page", response);

    NetworkHtmlEngine engine(FetchLimits{}, ProxyMode::None);
    QCOMPARE(linksOnceComplete(engine.createDocumentFromUrl(server.url("/dir/page"))),
             onServer(server, links));
    QCOMPARE(server.targets(), QList<QByteArray>{"/dir/page"});
}

void tst_NetworkHtmlEngine::redirects_data() {
    QTest::addColumn<QList<int>>("hops"); // the status of each redirect, first to last
    QTest::addColumn<bool>("relativeLocation");
    QTest::addColumn<bool>("followed");

    QTest::newRow("a redirect status not followed, or relative Location resolved wrongly")
        << QList<int>{301, 302, 303, 307, 308} << true << true;
    QTest::newRow("chain of 10 redirects given up") << QList<int>(10, 301) << false << true;
    QTest::newRow("chain of 11 redirects followed or its last body parsed")
        << QList<int>(11, 302) << false << false;
}

void tst_NetworkHtmlEngine::redirects() {
    QFETCH(QList<int>, hops);
    QFETCH(bool, relativeLocation);
    QFETCH(bool, followed);

    // /hop/0 redirects to /hop/1 ... the last hop to /dir/page. Each redirect comes with a page
    // of its own, whose link is never one of the document's.
    HttpServer server;
    QVERIFY(server.listen());
    QList<QByteArray> expectedTargets;
    for (int i = 0; i < hops.size(); ++i) {
        const QByteArray target = "/hop/" + QByteArray::number(i);
        QByteArray next = i + 1 < hops.size() ? "/hop/" + QByteArray::number(i + 1) : "/dir/page";
        if (relativeLocation)
            next = next == "/dir/page" ? "../dir/page" : next.mid(5);
        HttpServer::Response response;
        response.status = hops[i];
        response.headers.append({"Location", next});
        response.body = "<a href=\"/from-redirect\">moved</a>";
        server.setPage(target, response);
        expectedTargets.append(target);
    }
    server.setHtml("/dir/page", "<!DOCTYPE html><a href=\"child\">child</a>");
    if (followed)
        expectedTargets.append("/dir/page");

    NetworkHtmlEngine engine(FetchLimits{}, ProxyMode::None);
    // The final page's links resolve against its own address, not the one first asked for.
    QCOMPARE(linksOnceComplete(engine.createDocumentFromUrl(server.url("/hop/0"))),
             followed ? QStringList{server.url("/dir/child")} : QStringList());
    QCOMPARE(server.targets(), expectedTargets);
}

void tst_NetworkHtmlEngine::oversizedPageParsedUpToTheLimit() {
    const qint64 limit = FetchLimits{}.maxBodyBytes;
    QByteArray filler(4096, ' ');
    filler.replace(0, 12, "lorem ipsum ");
    QByteArray body = "<!DOCTYPE html><html><body><a href=\"/first\">first</a><p>";
    while (body.size() < limit - 8192)
        body += filler;
    body += "</p><a href=\"/before-limit\">before</a><p>";
    while (body.size() < limit + 65536)
        body += filler;
    body += "</p><a href=\"/after-limit\">after</a><p>";
    while (body.size() < 18 * 1024 * 1024)
        body += filler;
    body += "</p></body></html>";

    HttpServer server;
    QVERIFY(server.listen());
    server.setHtml("/big", body);
    NetworkHtmlEngine engine(FetchLimits{}, ProxyMode::None);
    QCOMPARE(linksOnceComplete(engine.createDocumentFromUrl(server.url("/big"))),
             onServer(server, {"/first", "/before-limit"}));
}

void tst_NetworkHtmlEngine::failedLoads_data() {
    QTest::addColumn<HttpServer::Response::Kind>("kind"); // Close with no server: refused
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<int>("stallMs");
    QTest::addColumn<int>("minMs");
    QTest::addColumn<int>("maxMs");

    using Kind = HttpServer::Response::Kind;
    QTest::newRow("silent server holds the crawl up past the stall limit")
        << Kind::NeverAnswer << 0 << 300 << 200 << 3000;
    QTest::newRow("answer delayed past the total limit still awaited")
        << Kind::Normal << 3000 << 10'000 << 800 << 2500;
    QTest::newRow("connection closed without answer never completes")
        << Kind::Close << 0 << 300 << 0 << 2000;
    // Not the stall limit: the refusal ends the load at once.
    QTest::newRow("refused connection waits for a limit")
        << Kind::Close << -1 << 30'000 << 0 << 2000;
}

void tst_NetworkHtmlEngine::failedLoads() {
    QFETCH(HttpServer::Response::Kind, kind);
    QFETCH(int, delayMs);
    QFETCH(int, stallMs);
    QFETCH(int, minMs);
    QFETCH(int, maxMs);

    auto server = std::make_unique<HttpServer>();
    QVERIFY(server->listen());
    HttpServer::Response response;
    response.kind = kind;
    response.delayMs = std::max(delayMs, 0);
    response.body = "<a href=\"/late\">late</a>";
    server->setPage("/page", response);
    const QString address = server->url("/page");
    if (delayMs < 0)
        server.reset();

    NetworkHtmlEngine engine(FetchLimits{std::chrono::milliseconds(stallMs), 1000ms},
                             ProxyMode::None);
    QElapsedTimer elapsed;
    elapsed.start();
    const std::unique_ptr<HtmlDocument> doc = engine.createDocumentFromUrl(address);
    QVERIFY(doc);
    QTRY_COMPARE_WITH_TIMEOUT(doc->readyState(), QStringLiteral("complete"), maxMs);
    QCOMPARE_GE(elapsed.elapsed(), minMs);
    QCOMPARE_LT(elapsed.elapsed(), maxMs);
    QCOMPARE(doc->links(), QStringList());
    if (server)
        QCOMPARE(server->targets().value(0), QByteArray("/page"));
}

void tst_NetworkHtmlEngine::requestsOnOneConnection() {
    // Two servers on one host, told apart by their ports.
    HttpServer server;
    HttpServer other;
    QVERIFY(server.listen() && other.listen());
    for (const QByteArray path : {"/one", "/two"})
        server.setHtml(path, "<a href=\"" + path + "/next\">next</a>");
    other.setHtml("/other", "<a href=\"/other/next\">next</a>");
    // A cookie the server sets goes back with the requests after it; one that would break
    // the request's lines does not.
    HttpServer::Response first;
    first.headers = {{"Set-Cookie", "session=s1; Path=/"},
                     {"Set-Cookie", "evil=a\rX-Injected: 1; Path=/"}};
    first.body = "<a href=\"/one/next\">next</a>";
    server.setPage("/one", first);
    // Answers without a body end at their head, and leave the connection to the next request.
    HttpServer::Response empty;
    server.setPage("/empty", empty);
    empty.status = 204;
    server.setPage("/none", empty);
    empty.status = 302;
    empty.headers = {{"Location", "/two"}};
    server.setPage("/moved", empty);
    empty.headers = {{"Location", other.url("/other").toUtf8()}};
    server.setPage("/away", empty);
    // Tens of KiB in chunks of 1 KiB, read as they come; a body that ends with the connection.
    HttpServer::Response framed;
    framed.headers = {{"Transfer-Encoding", "chunked"}};
    framed.body = "13\r\n<a href=\"/c1\">1</a>\r\n";
    for (int i = 0; i < 64; ++i)
        framed.body += "400\r\n" + QByteArray(1024, ' ') + "\r\n";
    framed.body += "13\r\n<a href=\"/c2\">2</a>\r\n0\r\n\r\n";
    server.setPage("/chunked", framed);
    framed.headers = {{"Transfer-Encoding", "identity"}, {"Connection", "close"}};
    framed.body = "<a href=\"/closing/next\">next</a>";
    server.setPage("/closing", framed);

    NetworkHtmlEngine engine(FetchLimits{}, ProxyMode::None);
    // Addresses that cannot be requested give no document and send nothing.
    for (const char *address : {"", "   ", "not a url", "http://", "mailto:x@y",
                                "javascript:void(0)", "ftp://127.0.0.1/"})
        QVERIFY2(!engine.createDocumentFromUrl(QString::fromLatin1(address)), address);
    // Spaces around an address are no part of it.
    const QList<std::pair<QString, QStringList>> loads = {
        {"  " + server.url("/one") + "  ", {server.url("/one/next")}},
        {server.url("/empty"), {}},
        {server.url("/none"), {}},
        {server.url("/moved"), {server.url("/two/next")}},
        {other.url("/other"), {other.url("/other/next")}},
        {server.url("/chunked"), {server.url("/c1"), server.url("/c2")}},
        {server.url("/away"), {other.url("/other/next")}},
        {server.url("/closing"), {server.url("/closing/next")}},
    };
    for (const auto &[address, links] : loads)
        QCOMPARE(linksOnceComplete(engine.createDocumentFromUrl(address)), links);
    QCOMPARE(server.targets(), (QList<QByteArray>{"/one", "/empty", "/none", "/moved", "/two",
                                                  "/chunked", "/away", "/closing"}));
    QCOMPARE(other.targets(), (QList<QByteArray>{"/other", "/other"}));
    QCOMPARE(server.connectionCount(), 1);
    QCOMPARE(other.connectionCount(), 1);
    const HttpServer::Request request = server.requests().first();
    QCOMPARE(request.method, QByteArray("GET"));
    QVERIFY2(request.headers.value("user-agent").startsWith("Corvane/"),
             request.headers.value("user-agent").constData());
    QVERIFY2(request.headers.value("accept-encoding").contains("gzip"),
             request.headers.value("accept-encoding").constData());
    QCOMPARE(request.headers.value("host"), server.url().mid(7).toUtf8());
    QCOMPARE(request.headers.value("cookie"), QByteArray());
    QCOMPARE(server.requests().last().headers.value("cookie"), QByteArray("session=s1"));
    QVERIFY(!server.requests().last().headers.contains("x-injected"));
    QCOMPARE(other.requests().first().headers.value("host"), other.url().mid(7).toUtf8());
}

// A site that sets more cookies than the jar holds for one site: the requests after it carry
// the cookies set or sent last, no more, over HTTPS as well.
void tst_NetworkHtmlEngine::cookieFloodKeptWithinBounds() {
    // The second page's cookies push out the oldest but not all of those that the first one
    // set: those set before "kept" was last sent, not "kept".
    const int perSite = CookieJar::Bounds().perSite;
    const int flood = perSite + 120;
    const auto numbered = [](int i) {
        return "n" + QByteArray::number(i) + '=' + QByteArray::number(i);
    };
    QList<QByteArray> first{"kept=1; Path=/kept"};
    for (int i = 0; i < perSite - 1; ++i)
        first.append(numbered(i) + "; Path=/n");
    QList<QByteArray> second;
    for (int i = perSite - 1; i < flood; ++i)
        second.append(numbered(i) + "; Path=/n");
    HttpServer server;
    QVERIFY(server.listen());
    server.setPage("/one", settingCookies(first));
    server.setPage("/two", settingCookies(second));
    server.setPage("/kept/page", settingCookies({}));
    server.setPage("/n/page", settingCookies({}));
    // A head past the limit is refused, whatever reads bring it, and sets no cookie.
    HttpServer::Response refused = settingCookies({"refused=1; Path=/"});
    refused.headers.append({"X-Pad", QByteArray(HttpAnswer::Limits().headBytes, 'x')});
    server.setPage("/refused", refused);
    HttpServer tls;
    QVERIFY(tls.listen(serverTls(ServerCertificate::Trusted, {"http/1.1"})));
    tls.setPage("/kept/page", settingCookies({}));

    NetworkHtmlEngine engine(FetchLimits{}, ProxyMode::None, {testAuthority()});
    QCOMPARE(linksOnceComplete(engine.createDocumentFromUrl(server.url("/refused"))),
             QStringList());
    server.clearRequests();
    for (const char *path : {"/one", "/kept/page", "/two", "/n/page", "/kept/page"})
        QCOMPARE(linksOnceComplete(engine.createDocumentFromUrl(server.url(path))),
                 QStringList{server.url("/next")});
    QCOMPARE(linksOnceComplete(engine.createDocumentFromUrl(tls.url("/kept/page"))),
             QStringList{tls.url("/next")});

    const QList<HttpServer::Request> requests = server.requests();
    QCOMPARE(requests.size(), 5);
    QList<QByteArray> newest;
    for (int i = flood - (perSite - 1); i < flood; ++i)
        newest.append(numbered(i));
    QCOMPARE(cookiesOf(requests[1]), QList<QByteArray>{"kept=1"});
    QCOMPARE(cookiesOf(requests[3]).size(), perSite - 1);
    QCOMPARE(cookiesOf(requests[3]), newest);
    QCOMPARE(cookiesOf(requests[4]), QList<QByteArray>{"kept=1"});
    QCOMPARE(cookiesOf(tls.requests().value(0)), QList<QByteArray>{"kept=1"});
}

// Sites that together set more cookies than the jar holds, through a proxy (so by Qt
// Network): the jar keeps the cookies set last, as many as it holds in all.
void tst_NetworkHtmlEngine::cookiesOfManySitesKeptWithinBounds() {
    const int inAll = CookieJar::Bounds().inAll;
    const int perPage = 90; // Qt Network takes at most 100 headers
    const int sites = inAll / perPage + 4;
    HttpServer proxy;
    QVERIFY(proxy.listen());
    proxy.setHandler([](const HttpServer::Request &request) {
        QList<QByteArray> cookies;
        if (request.target.endsWith("/set")) {
            for (int i = 0; i < perPage; ++i)
                cookies.append('c' + QByteArray::number(i) + "=1");
        }
        return settingCookies(cookies);
    });
    qputenv("http_proxy", proxy.url().toUtf8());
    qunsetenv("no_proxy");
    const auto restore = qScopeGuard([] { qunsetenv("http_proxy"); });

    NetworkHtmlEngine engine(FetchLimits{}, ProxyMode::System);
    const auto load = [&engine](int site, const QString &path) {
        const QString address = "http://site" + QString::number(site) + ".test";
        return linksOnceComplete(engine.createDocumentFromUrl(address + path)) ==
               QStringList{address + "/next"};
    };
    for (int i = 0; i < sites; ++i)
        QVERIFY(load(i, "/set"));
    // The first sites' cookies are gone, then one site's in part.
    const int evicted = sites * perPage - inAll;
    for (const int i :
         {0, evicted / perPage - 1, evicted / perPage, evicted / perPage + 1, sites - 1}) {
        proxy.clearRequests();
        QVERIFY(load(i, "/page"));
        QCOMPARE(cookiesOf(proxy.requests().value(0)).size(),
                 std::clamp((i + 1) * perPage - evicted, 0, perPage));
    }
}

// A server may close a kept-alive connection as the next request goes out: that request is
// sent again once, on a new connection.
void tst_NetworkHtmlEngine::connectionClosedWhileIdle() {
    HttpServer server;
    QVERIFY(server.listen());
    server.setHtml("/first", "<a href=\"/one\">1</a>");
    int asked = 0;
    server.setHandler([&asked](const HttpServer::Request &) {
        HttpServer::Response response;
        if (asked++ == 0)
            response.kind = HttpServer::Response::Kind::Close;
        response.body = "<a href=\"/two\">2</a>";
        return response;
    });

    NetworkHtmlEngine engine(FetchLimits{}, ProxyMode::None);
    QCOMPARE(linksOnceComplete(engine.createDocumentFromUrl(server.url("/first"))),
             onServer(server, {"/one"}));
    QCOMPARE(linksOnceComplete(engine.createDocumentFromUrl(server.url("/second"))),
             onServer(server, {"/two"}));
    QCOMPARE(server.targets(), (QList<QByteArray>{"/first", "/second", "/second"}));
    QCOMPARE(server.connectionCount(), 2);
}

// Plain HTTP has a client of its own, but not where the system names a proxy for it.
void tst_NetworkHtmlEngine::systemProxyCarriesPlainHttp() {
    HttpServer proxy;
    QVERIFY(proxy.listen());
    proxy.setHandler([](const HttpServer::Request &) {
        HttpServer::Response response;
        response.body = "<a href=\"/next\">next</a>";
        return response;
    });
    qputenv("http_proxy", proxy.url().toUtf8());
    qunsetenv("no_proxy");
    const auto restore = qScopeGuard([] { qunsetenv("http_proxy"); });

    NetworkHtmlEngine engine(FetchLimits{}, ProxyMode::System);
    QCOMPARE(linksOnceComplete(engine.createDocumentFromUrl("http://corvane.test/page")),
             QStringList{"http://corvane.test/next"});
    QCOMPARE(proxy.targets(), QList<QByteArray>{"http://corvane.test/page"});
}

void tst_NetworkHtmlEngine::abandonedLoadsFreeTheirConnections_data() {
    QTest::addColumn<bool>("destroy"); // else the total limit ends each load

    QTest::newRow("documents destroyed while waiting keep the server's connections busy") << true;
    QTest::newRow("loads ended by the time limit keep the server's connections busy") << false;
}

void tst_NetworkHtmlEngine::abandonedLoadsFreeTheirConnections() {
    QFETCH(bool, destroy);
    HttpServer server;
    QVERIFY(server.listen());
    HttpServer::Response silent;
    silent.kind = HttpServer::Response::Kind::NeverAnswer;
    server.setHandler([silent](const HttpServer::Request &) { return silent; });
    server.setHtml("/next", "<a href=\"/after\">after</a>");

    FetchLimits limits;
    limits.total = std::chrono::milliseconds(300);
    NetworkHtmlEngine engine(limits, ProxyMode::None);
    // More abandoned loads than Qt opens connections to one server: each must give its
    // connection up, or no request reaches the server any more.
    for (int i = 0; i < 8; ++i) {
        const QByteArray target = "/silent/" + QByteArray::number(i);
        std::unique_ptr<HtmlDocument> doc = engine.createDocumentFromUrl(server.url(target));
        QVERIFY(doc);
        QTRY_VERIFY_WITH_TIMEOUT(server.targets().contains(target), loadTimeoutMs);
        if (!destroy)
            QTRY_COMPARE_WITH_TIMEOUT(doc->readyState(), QStringLiteral("complete"), loadTimeoutMs);
    }
    QCOMPARE(linksOnceComplete(engine.createDocumentFromUrl(server.url("/next"))),
             QStringList{server.url("/after")});
}

void tst_NetworkHtmlEngine::destroyedWhileLoadingLargePage_data() {
    // When to destroy the document, as a share of the time the whole page takes to load:
    // 0 while the request is still being sent, then while the body arrives or is parsed.
    QTest::addColumn<double>("share");

    QTest::newRow("destroyed before the request went out") << -1.0;
    QTest::newRow("destroyed as the answer starts") << 0.0;
    QTest::newRow("destroyed half way through the load") << 0.5;
    QTest::newRow("destroyed just before the load completes") << 0.95;
}

void tst_NetworkHtmlEngine::destroyedWhileLoadingLargePage() {
    QFETCH(double, share);

    HttpServer server;
    QVERIFY(server.listen());
    server.setHtml("/large", largePage(20'000));
    server.setHtml("/next", "<a href=\"/after\">after</a>");
    NetworkHtmlEngine engine(FetchLimits{}, ProxyMode::None);

    // How long this page takes here, from the request's arrival to the complete document.
    QElapsedTimer sinceRequest;
    connect(&server, &HttpServer::requestReceived, this, [&] { sinceRequest.start(); });
    std::unique_ptr<HtmlDocument> doc = engine.createDocumentFromUrl(server.url("/large"));
    const QStringList links = linksOnceComplete(doc);
    const qint64 loadMs = sinceRequest.elapsed();
    QCOMPARE(links.size(), 20'000);
    QCOMPARE(links.last(), server.url("/articles/19999.html"));
    server.disconnect(this);

    doc = engine.createDocumentFromUrl(server.url("/large"));
    QVERIFY(doc);
    if (share < 0) {
        doc.reset();
    } else {
        QTimer destroyer;
        destroyer.setSingleShot(true);
        connect(&destroyer, &QTimer::timeout, this, [&] { doc.reset(); });
        connect(&server, &HttpServer::requestReceived, this,
                [&] { destroyer.start(int(share * loadMs)); });
        QTRY_VERIFY_WITH_TIMEOUT(!doc, loadTimeoutMs);
        server.disconnect(this);
    }
    // The engine is not left in a state that holds up the next page.
    QCOMPARE(linksOnceComplete(engine.createDocumentFromUrl(server.url("/next"))),
             QStringList{server.url("/after")});
}

void tst_NetworkHtmlEngine::deeplyNestedPageCompletes() {
    // A tree builder's work grows with the square of the nesting depth: minutes for this page.
    HttpServer server;
    QVERIFY(server.listen());
    server.setHtml("/deep", QByteArray("<div>").repeated(300'000) + "<a href=/end>e</a>");
    NetworkHtmlEngine engine(FetchLimits{}, ProxyMode::None);
    std::unique_ptr<HtmlDocument> doc = engine.createDocumentFromUrl(server.url("/deep"));
    QVERIFY(doc);
    QTRY_COMPARE_WITH_TIMEOUT(doc->readyState(), QStringLiteral("complete"), loadTimeoutMs);
    QCOMPARE(doc->links(), QStringList{server.url("/end")});
}

// Compressed bodies and HTTPS -----------------------------------------------------------------

namespace {

// One stretch of an inflated body: `text` repeated `times` times.
struct Stretch {
    QByteArray text;
    qint64 times = 1;
};

// A gzip body that inflates to the stretches one after another. Each distinct text is deflated
// once, cut off by a full flush (which ends on a byte boundary and refers to nothing before
// it), and its compressed bytes are repeated: a body that inflates to gigabytes costs a few
// megabytes and milliseconds to build.
QByteArray gzipBomb(const QList<Stretch> &stretches) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY) !=
        Z_OK)
        return {};
    const auto deflated = [&stream](const QByteArray &text, int flush) {
        QByteArray out(qsizetype(deflateBound(&stream, uLong(text.size()))) + 64,
                       Qt::Uninitialized);
        stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.constData()));
        stream.avail_in = uInt(text.size());
        stream.next_out = reinterpret_cast<Bytef *>(out.data());
        stream.avail_out = uInt(out.size());
        deflate(&stream, flush);
        out.truncate(out.size() - stream.avail_out);
        return out;
    };
    QByteArray gzip("\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\xff", 10);
    uLong crc = ::crc32(0, nullptr, 0);
    quint64 size = 0;
    for (const Stretch &stretch : stretches) {
        gzip += deflated(stretch.text, Z_FULL_FLUSH).repeated(stretch.times);
        const uLong textCrc = ::crc32(0, reinterpret_cast<const Bytef *>(stretch.text.constData()),
                                      uInt(stretch.text.size()));
        for (qint64 i = 0; i < stretch.times; ++i)
            crc = crc32_combine(crc, textCrc, z_off_t(stretch.text.size()));
        size += quint64(stretch.text.size()) * quint64(stretch.times);
    }
    gzip += deflated({}, Z_FINISH);
    deflateEnd(&stream);
    appendLittleEndian(gzip, quint32(crc));
    appendLittleEndian(gzip, quint32(size));
    return gzip;
}

} // namespace

void tst_NetworkHtmlEngine::gzipBombGivesNoLinks() {
    // Links are read from the first 16 MiB of the inflated body, as for an uncompressed page,
    // and the rest of a body of 10 GiB of zeros is never inflated.
    const QByteArray filler(1024 * 1024, '\0');
    const qint64 limit = FetchLimits{}.maxBodyBytes;
    const QByteArray head = "<!DOCTYPE html><html><body><a href=\"/first\">first</a><p>";
    const QByteArray before = "</p><a href=\"/before-limit\">before</a><p>";
    const QByteArray after = "</p><a href=\"/after-limit\">after</a><p>";
    const qint64 fillersBefore = limit / filler.size() - 1;
    HttpServer::Response response;
    response.body = gzipBomb({{head},
                              {filler, fillersBefore},
                              {before},
                              {filler, 1},
                              {after},
                              {filler, 10 * 1024 - fillersBefore - 1}});
    response.headers.append(qMakePair(QByteArray("Content-Encoding"), QByteArray("gzip")));

    HttpServer server;
    QVERIFY(server.listen());
    server.setPage("/bomb", response);
    NetworkHtmlEngine engine(FetchLimits{}, ProxyMode::None);
    const std::unique_ptr<HtmlDocument> doc = engine.createDocumentFromUrl(server.url("/bomb"));
    QVERIFY(doc);
    QTRY_COMPARE_WITH_TIMEOUT(doc->readyState(), QStringLiteral("complete"), loadTimeoutMs);
    QCOMPARE(doc->links(), onServer(server, {"/first", "/before-limit"}));
}

void tst_NetworkHtmlEngine::httpsPages_data() {
    QTest::addColumn<ServerCertificate>("certificate");
    QTest::addColumn<QByteArray>("protocol"); // the one the server agrees to by ALPN
    QTest::addColumn<bool>("redirectToHttp");
    QTest::addColumn<QList<QByteArray>>("targets"); // what the HTTPS server is asked for
    QTest::addColumn<QString>("linksFrom");         // "https", "http" or none

    using Targets = QList<QByteArray>;
    QTest::newRow("https page's links lost") << ServerCertificate::Trusted << QByteArray("http/1.1")
                                             << false << Targets{"/dir/page"} << "https";
    // The test server speaks HTTP/1.1 alone: an HTTP/2 connection ends after its preface, and
    // the page with it.
    QTest::newRow("HTTP/2 not offered")
        << ServerCertificate::Trusted << QByteArray("h2") << false << Targets{"*"} << QString();
    QTest::newRow("redirect from https to http not followed")
        << ServerCertificate::Trusted << QByteArray("http/1.1") << true << Targets{"/dir/page"}
        << "http";
    QTest::newRow("certificate of an unknown authority accepted")
        << ServerCertificate::SelfSigned << QByteArray("http/1.1") << false << Targets{}
        << QString();
}

void tst_NetworkHtmlEngine::httpsPages() {
    QFETCH(ServerCertificate, certificate);
    QFETCH(QByteArray, protocol);
    QFETCH(bool, redirectToHttp);
    QFETCH(QList<QByteArray>, targets);
    QFETCH(QString, linksFrom);

    const QByteArray page = "<!DOCTYPE html><a href=\"child\">c</a><a href=\"/top\">t</a>";
    HttpServer plain;
    QVERIFY(plain.listen());
    plain.setHtml("/dir/page", page);
    HttpServer tls;
    QVERIFY(tls.listen(serverTls(certificate, {protocol})));
    if (redirectToHttp) {
        HttpServer::Response redirect;
        redirect.status = 302;
        redirect.headers.append(qMakePair(QByteArray("Location"), plain.url("/dir/page").toUtf8()));
        tls.setPage("/dir/page", redirect);
    } else {
        tls.setHtml("/dir/page", page);
    }

    NetworkHtmlEngine engine(FetchLimits{}, ProxyMode::None, {testAuthority()});
    const std::unique_ptr<HtmlDocument> doc = engine.createDocumentFromUrl(tls.url("/dir/page"));
    QVERIFY(doc);
    QTRY_COMPARE_WITH_TIMEOUT(doc->readyState(), QStringLiteral("complete"), loadTimeoutMs);
    const HttpServer &linked = linksFrom == u"http" ? plain : tls;
    QCOMPARE(doc->links(),
             linksFrom.isEmpty() ? QStringList() : onServer(linked, {"/dir/child", "/top"}));
    QCOMPARE(tls.targets(), targets);
    QCOMPARE(tls.protocols(), targets.isEmpty() ? QList<QByteArray>() : QList{protocol});
}

void tst_NetworkHtmlEngine::factsAlikeOverBothClients_data() {
    QTest::addColumn<bool>("https");
    QTest::newRow("plain HTTP") << false;
    QTest::newRow("HTTPS") << true;
}

// What a page and a file report beside their links, after a redirect, over each client.
void tst_NetworkHtmlEngine::factsAlikeOverBothClients() {
    QFETCH(bool, https);
    HttpServer server;
    QVERIFY(https ? server.listen(serverTls(ServerCertificate::Trusted, {"http/1.1"}))
                  : server.listen());
    HttpServer::Response redirect;
    redirect.status = 301;
    redirect.headers = {{"Location", "/dir/page"}, {"Last-Modified", "of the redirect"}};
    server.setPage("/old", redirect);
    HttpServer::Response page;
    page.status = 203;
    page.headers = {{"X-Robots-Tag", "otherbot: noindex"},
                    {"X-Robots-Tag", "nofollow"},
                    {"Last-Modified", "Sun, 06 Nov 1994 08:49:37 GMT"}};
    page.body = "<head><meta name=robots content=nosnippet><link rel=canonical href=c#f>";
    server.setPage("/dir/page", page);
    redirect.headers = {{"Location", "/dir/page"}};
    server.setPage("/robots.txt", redirect);

    NetworkHtmlEngine engine(FetchLimits{}, ProxyMode::None, {testAuthority()});
    const std::unique_ptr<HtmlDocument> doc = engine.createDocumentFromUrl(server.url("/old#x"));
    QTRY_COMPARE_WITH_TIMEOUT(doc->readyState(), QStringLiteral("complete"), loadTimeoutMs);
    const PageFacts facts = doc->facts();
    QCOMPARE(facts.address, server.url("/dir/page"));
    QVERIFY(facts.redirected);
    QCOMPARE(facts.status, 203);
    QCOMPARE(facts.robotsTag, QByteArray("otherbot: noindex, nofollow"));
    QCOMPARE(facts.lastModified, QByteArray("Sun, 06 Nov 1994 08:49:37 GMT"));
    QCOMPARE(facts.robotsMeta, QStringList{"nosnippet"});
    QCOMPARE(facts.canonical, server.url("/dir/c"));

    // A file that is a page keeps its bytes up to the limit; a redirect past the limit is the
    // answer.
    for (const int redirects : {1, 0}) {
        const std::unique_ptr<HtmlDocument> file =
            engine.createFileFromUrl(server.url("/robots.txt"), 20, redirects);
        QTRY_COMPARE_WITH_TIMEOUT(file->readyState(), QStringLiteral("complete"), loadTimeoutMs);
        QCOMPARE(file->facts().status, redirects ? 203 : 301);
        QCOMPARE(file->body(), redirects ? page.body.left(20) : QByteArray());
        QVERIFY(file->links().isEmpty());
    }
}

QTEST_GUILESS_MAIN(tst_NetworkHtmlEngine)
#include "tst_NetworkHtmlEngine.moc"
