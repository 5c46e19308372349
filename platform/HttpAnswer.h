#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// One HTTP/1.1 answer read from the bytes of its connection as they arrive: the status line
// and headers, past any interim (1xx) answer, then the body out of its framing (chunks, a
// length, or the end of the connection). Bytes only: the connection is the caller's.
//
// Each byte is looked at a bounded number of times however thinly the answer trickles in, and
// a head or chunk line past its limit breaks the answer. The limits hold for the answer's
// bytes, not for the reads that bring them: the same bytes are read the same way, whole or in
// pieces of any size.
class HttpAnswer {
public:
    struct Limits {
        qsizetype headBytes = 256 * 1024; // one head: status line, headers, line breaks
        qsizetype lineBytes = 16 * 1024;  // a chunk-size or trailer line, without its break
    };

    HttpAnswer();
    explicit HttpAnswer(Limits limits);

    enum class State {
        Head,   // the status line and headers are still coming
        Body,   // the body is coming
        Whole,  // the answer is complete
        Broken, // not HTTP, or not framed as HTTP says; error() tells
    };

    // Takes bytes that arrived on the connection.
    void feed(QByteArray bytes);
    // The connection has ended: a body that runs to its end is then whole.
    void closed();

    State state() const { return m_state; }
    QString error() const { return m_error; }
    // From the head on (0 before it): once it is not 0, the status line and headers are
    // those of the answer, whatever becomes of its body. A head past its limit, or not HTTP,
    // gives none.
    int status() const { return m_status; }
    QByteArray reason() const { return m_reason; }
    // Names lower-cased, in the order sent.
    const QList<QPair<QByteArray, QByteArray>> &headers() const { return m_headers; }
    // The value of the header `name` (any letter case), several joined by ", "; null when
    // absent.
    QByteArray header(QByteArrayView name) const;
    // Once whole: whether the connection may carry the next request (nothing came after the
    // answer, and its framing and headers allow it).
    bool reusable() const;

    // Body bytes that arrived and were not taken yet.
    qsizetype bodySize() const { return m_body.size(); }
    QByteArray takeBody(qsizetype maxSize);

private:
    enum class Framing { None, Length, Chunked, UntilClose };
    enum class Chunk { Size, Data, DataEnd, Trailer, Done };

    void readHead();
    bool headWhole();
    void frame();
    void readBody();
    void readChunks();
    void take(qsizetype size);
    void fail(const QString &reason);

    const Limits m_limits;
    State m_state = State::Head;
    QString m_error;
    QByteArray m_in;         // arrived, not yet read out of the head or the framing
    qsizetype m_scanned = 0; // of the head in m_in, searched for its end
    int m_status = 0;
    QByteArray m_reason;
    bool m_http10 = false;
    QList<QPair<QByteArray, QByteArray>> m_headers;
    Framing m_framing = Framing::None;
    qint64 m_left = 0; // of the length, or of the chunk
    Chunk m_chunk = Chunk::Size;
    QByteArray m_body;
    bool m_beyond = false; // bytes came after the answer
};
