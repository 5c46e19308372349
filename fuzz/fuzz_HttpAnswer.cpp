// The plain HTTP client's answer reader against itself: an answer read as it came in one
// piece, and the same bytes read as they trickle in, with the body taken away between the
// pieces, must give the same status, headers, body and end. No input may crash it.
//
// Input: one byte for the size of the pieces (1 to 255 bytes; 0 reads the bytes in three
// uneven pieces), then the bytes that arrive on the connection before it closes.

#include "HttpAnswer.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

struct Reading {
    HttpAnswer::State state;
    int status;
    QByteArray reason;
    QList<QPair<QByteArray, QByteArray>> headers;
    bool reusable;
    QByteArray body;
    QString error;

    bool operator==(const Reading &) const = default;
};

Reading read(QByteArrayView bytes, qsizetype piece) {
    HttpAnswer answer;
    QByteArray body;
    for (qsizetype at = 0; at < bytes.size(); at += piece) {
        answer.feed(bytes.sliced(at, std::min(piece, bytes.size() - at)).toByteArray());
        body += answer.takeBody(answer.bodySize() / 2 + 1);
    }
    // Whether it may be reused is known before the connection ends.
    const bool reusable = answer.reusable();
    answer.closed();
    body += answer.takeBody(answer.bodySize());
    return {answer.state(), answer.status(), answer.reason(), answer.headers(), reusable,
            body,           answer.error()};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0)
        return 0;
    const QByteArrayView bytes(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const qsizetype piece = data[0] != 0 ? data[0] : bytes.size() / 3 + 1;
    const Reading whole = read(bytes, std::max<qsizetype>(bytes.size(), 1));
    const Reading pieces = read(bytes, piece);
    if (!(whole == pieces)) {
        std::fprintf(stderr,
                     "read whole: state %d, status %d, body %lld bytes; in pieces of %lld: "
                     "state %d, status %d, body %lld bytes\n",
                     int(whole.state), whole.status, qlonglong(whole.body.size()), qlonglong(piece),
                     int(pieces.state), pieces.status, qlonglong(pieces.body.size()));
        std::abort();
    }
    return 0;
}
