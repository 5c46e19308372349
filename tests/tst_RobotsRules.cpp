#include "RobotsRules.h"

#include <QTest>

// robots.txt as the crawler reads it for "corvane": which group applies, which rule decides.
class tst_RobotsRules : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void rulesDecide_data();
    void rulesDecide();
};

void tst_RobotsRules::rulesDecide_data() {
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("robots");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<bool>("allowed");

    const QByteArray star = "User-agent: other\nDisallow: /\n\nUser-agent: *\nDisallow: /x\n";
    QTest::newRow("own group in any case")
        << 200 << QByteArray("User-agent: CorVane/2.0\nDisallow: /x") << QByteArray("/x/y")
        << false;
    QTest::newRow("star group when none is ours") << 200 << star << QByteArray("/x") << false;
    QTest::newRow("another crawler's group ignored") << 200 << star << QByteArray("/y") << true;
    QTest::newRow("own group over the star group")
        << 200 << QByteArray("User-agent: *\nDisallow: /\nUser-agent: corvane\nDisallow: /x")
        << QByteArray("/y") << true;
    QTest::newRow("own groups combined")
        << 200
        << QByteArray("User-agent: corvane\nDisallow: /a\nUser-agent: x\nDisallow: /b\n"
                      "User-agent: corvane\nDisallow: /c")
        << QByteArray("/c") << false;
    QTest::newRow("user-agent lines in a row share a group")
        << 200 << QByteArray("User-agent: x\nuser-AGENT: corvane # us\r\nDisallow: /p\r\n")
        << QByteArray("/p") << false;
    QTest::newRow("rules before any user-agent ignored")
        << 200 << QByteArray("Disallow: /\nUser-agent: corvane\nDisallow: /x") << QByteArray("/y")
        << true;
    QTest::newRow("longer disallow wins")
        << 200 << QByteArray("User-agent: *\nAllow: /p\nDisallow: /p/q") << QByteArray("/p/q/r")
        << false;
    QTest::newRow("longer allow wins")
        << 200 << QByteArray("User-agent: *\nDisallow: /p\nAllow: /p/q") << QByteArray("/p/q")
        << true;
    QTest::newRow("allow wins a tie")
        << 200 << QByteArray("User-agent: *\nDisallow: /p\nAllow: /p") << QByteArray("/p") << true;
    QTest::newRow("wildcard") << 200 << QByteArray("User-agent: *\nDisallow: /*/b*.pdf")
                              << QByteArray("/a/b/c.pdf?x") << false;
    QTest::newRow("end anchor matches the end")
        << 200 << QByteArray("User-agent: *\nDisallow: /*.pdf$") << QByteArray("/a.pdf") << false;
    QTest::newRow("end anchor refuses more")
        << 200 << QByteArray("User-agent: *\nDisallow: /*.pdf$") << QByteArray("/a.pdf?x") << true;
    QTest::newRow("query matched")
        << 200 << QByteArray("User-agent: *\nDisallow: /s?q=") << QByteArray("/s?q=1") << false;
    QTest::newRow("empty disallow allows")
        << 200 << QByteArray("User-agent: *\nDisallow:\n") << QByteArray("/a") << true;
    QTest::newRow("encoded unreserved character decoded")
        << 200 << QByteArray("User-agent: *\nDisallow: /%7Ea") << QByteArray("/~a") << false;
    QTest::newRow("UTF-8 path encoded")
        << 200 << QByteArray("\xEF\xBB\xBFUser-agent: *\nDisallow: /\xC3\xA4")
        << QByteArray("/%c3%a4") << false;
    QTest::newRow("encoded slash is no slash")
        << 200 << QByteArray("User-agent: *\nDisallow: /a/b") << QByteArray("/a%2Fb") << true;
    QTest::newRow("robots.txt itself always allowed")
        << 200 << QByteArray("User-agent: *\nDisallow: /") << QByteArray("/robots.txt") << true;
    const QByteArray long_ = "User-agent: *\nDisallow: /b\n#" +
                             QByteArray(RobotsRules::maxBytes, ' ') + "\nDisallow: /a\n";
    QTest::newRow("rules past the limit read") << 200 << long_ << QByteArray("/a") << true;
    QTest::newRow("rules before the limit not read") << 200 << long_ << QByteArray("/b") << false;
    QTest::newRow("4xx allows everything") << 404 << star << QByteArray("/x") << true;
    QTest::newRow("redirects leading nowhere allow everything")
        << 301 << QByteArray() << QByteArray("/x") << true;
    QTest::newRow("5xx disallows everything") << 503 << QByteArray() << QByteArray("/y") << false;
    QTest::newRow("no answer disallows everything")
        << 0 << QByteArray() << QByteArray("/y") << false;
}

void tst_RobotsRules::rulesDecide() {
    QFETCH(int, status);
    QFETCH(QByteArray, robots);
    QFETCH(QByteArray, path);
    QFETCH(bool, allowed);
    QCOMPARE(RobotsRules::fromAnswer(status, robots, "corvane").allows(path), allowed);
}

QTEST_APPLESS_MAIN(tst_RobotsRules)
#include "tst_RobotsRules.moc"
