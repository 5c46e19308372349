#include "HttpAnswer.h"

#include <QTest>

Q_DECLARE_METATYPE(HttpAnswer::State)

// The plain HTTP client's answer reader on the bytes of a connection, read whole and in reads
// of several sizes: the framing and the limits must not depend on where the reads end.
class tst_HttpAnswer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void answerReadAlike_data();
    void answerReadAlike();
};

namespace {

// 0 stands for the whole answer in one read.
const QList<int> everyRead = {0, 1, 2, 3, 7, 4099, 30011};

QByteArray chunked(const QList<QByteArray> &chunks) {
    QByteArray body;
    for (const QByteArray &chunk : chunks)
        body += QByteArray::number(chunk.size(), 16) + ";ext=1\r\n" + chunk + "\r\n";
    return body + "0\r\nExpires: never\r\n\r\n";
}

} // namespace

void tst_HttpAnswer::answerReadAlike_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QList<int>>("reads");
    QTest::addColumn<bool>("closes"); // the connection ends after the bytes
    QTest::addColumn<HttpAnswer::State>("state");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("headers"); // the names, joined by ','
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("reusable");

    using State = HttpAnswer::State;
    const QByteArray ok = "HTTP/1.1 200 OK\r\n";
    QTest::newRow("empty body of a length awaited")
        << ok + "Content-Length: 0\r\n\r\n"
        << everyRead << false << State::Whole << 200 << QByteArray("content-length") << QByteArray()
        << true;
    QTest::newRow("body of a 304 awaited")
        << QByteArray("HTTP/1.1 304 Not Modified\r\nContent-Length: 120\r\n\r\n") << everyRead
        << false << State::Whole << 304 << QByteArray("content-length") << QByteArray() << true;
    QTest::newRow("interim answers taken for the answer")
        << QByteArray("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: "
                      "</style.css>; rel=preload; as=style, </script.js>; rel=preload; as=script"
                      "\r\n\r\nHTTP/1.1 204 No Content\r\n\r\n")
        << everyRead << false << State::Whole << 204 << QByteArray() << QByteArray() << true;
    QTest::newRow("connection reused after 101")
        << QByteArray("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n\r\n") << everyRead
        << false << State::Whole << 101 << QByteArray("upgrade") << QByteArray() << false;
    const QByteArray big(20 * 1024, 'x');
    const QByteArray small = "<a href=\"/one\">1</a>";
    QTest::newRow("chunk boundaries lost across reads")
        << ok + "Transfer-Encoding: gzip, Chunked\r\nX-Folded: a\r\n b\r\n\r\n" +
               chunked({small, big, "\r\n", big, small})
        << everyRead << false << State::Whole << 200 << QByteArray("transfer-encoding,x-folded")
        << small + big + "\r\n" + big + small << true;
    QTest::newRow("chunk line within 16 KiB refused")
        << ok + "Transfer-Encoding: chunked\r\n\r\n2;" + QByteArray(16 * 1024 - 4, 'e') +
               "\r\nok\r\n0\r\n\r\n"
        << everyRead << false << State::Whole << 200 << QByteArray("transfer-encoding")
        << QByteArray("ok") << true;
    QTest::newRow("chunk line past 16 KiB read")
        << ok + "Transfer-Encoding: chunked\r\n\r\n2;" + QByteArray(20 * 1024, 'e') +
               "\r\nok\r\n0\r\n\r\n"
        << everyRead << false << State::Broken << 200 << QByteArray("transfer-encoding")
        << QByteArray() << false;
    QTest::newRow("chunk size that is no number read")
        << ok + "Transfer-Encoding: chunked\r\n\r\n2x\r\nok\r\n0\r\n\r\n"
        << everyRead << false << State::Broken << 200 << QByteArray("transfer-encoding")
        << QByteArray() << false;
    // 256 KiB of head, its empty line included.
    const QByteArray head = ok + "X-Long: ";
    const QByteArray atLimit = head + QByteArray(256 * 1024 - head.size() - 4, 'h') + "\r\n\r\n";
    QTest::newRow("head of 256 KiB refused")
        << atLimit + "body" << everyRead << true << State::Whole << 200 << QByteArray("x-long")
        << QByteArray("body") << false;
    // Nothing of a refused head is kept, its cookies included, however it arrives.
    QTest::newRow("head past 256 KiB read")
        << ok + "Set-Cookie: id=1\r\nX-Long: " + QByteArray(300 * 1024, 'h') + "\r\n\r\n"
        << everyRead << true << State::Broken << 0 << QByteArray() << QByteArray() << false;
    QTest::newRow("body to the end of the connection cut short")
        << QByteArray("\r\n\r\nHTTP/1.1 200 OK\r\nTransfer-Encoding: identity\r\n\r\n") + big
        << everyRead << true << State::Whole << 200 << QByteArray("transfer-encoding") << big
        << false;
    QTest::newRow("connection reused with bytes after the answer")
        << ok + "Content-Length: 2, 2\r\n\r\nokHTTP/1.1 200 OK\r\n\r\n"
        << everyRead << false << State::Whole << 200 << QByteArray("content-length")
        << QByteArray("ok") << false;
    QTest::newRow("HTTP/1.0 connection reused without keep-alive")
        << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok") << everyRead << false
        << State::Whole << 200 << QByteArray("content-length") << QByteArray("ok") << false;
    QTest::newRow("connection reused after close")
        << ok + "Connection: keep-alive, Close\r\nContent-Length: 2\r\n\r\nok" << everyRead << false
        << State::Whole << 200 << QByteArray("connection,content-length") << QByteArray("ok")
        << false;
    QTest::newRow("not HTTP read")
        << QByteArray("SSH-2.0-OpenSSH_9.2\r\n\r\n") << everyRead << false << State::Broken << 0
        << QByteArray() << QByteArray() << false;
}

void tst_HttpAnswer::answerReadAlike() {
    QFETCH(QByteArray, bytes);
    QFETCH(QList<int>, reads);
    QFETCH(bool, closes);
    QFETCH(HttpAnswer::State, state);
    QFETCH(int, status);
    QFETCH(QByteArray, headers);
    QFETCH(QByteArray, body);
    QFETCH(bool, reusable);

    for (const int read : reads) {
        const qsizetype size = read > 0 ? read : bytes.size();
        HttpAnswer answer;
        QByteArray taken;
        // The body is taken a half at a time, as the client hands it on while it arrives.
        for (qsizetype at = 0; at < bytes.size(); at += size) {
            answer.feed(bytes.mid(at, size));
            taken += answer.takeBody(answer.bodySize() / 2 + 1);
        }
        QCOMPARE(answer.reusable(), reusable);
        if (closes)
            answer.closed();
        taken += answer.takeBody(answer.bodySize());
        QCOMPARE(answer.state(), state);
        QCOMPARE(answer.error().isEmpty(), state != HttpAnswer::State::Broken);
        QCOMPARE(answer.status(), status);
        QByteArrayList names;
        for (const auto &[name, value] : answer.headers())
            names.append(name);
        QCOMPARE(names.join(','), headers);
        QCOMPARE(taken, body);
    }
}

QTEST_APPLESS_MAIN(tst_HttpAnswer)
#include "tst_HttpAnswer.moc"
