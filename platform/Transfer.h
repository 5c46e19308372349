#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

// One GET as the network engine reads it: the status and headers of the answer, the body as
// it arrives, and how the transfer ended. Made by Qt Network or by the engine's own client
// for plain HTTP.
class Transfer : public QObject {
    Q_OBJECT
public:
    enum class Failure {
        None,     // the whole answer arrived
        TimedOut, // no progress for the stall limit
        Other,    // errorString() tells
    };

    // 0 until the status line has arrived.
    virtual int status() const = 0;
    virtual QByteArray reasonPhrase() const = 0;
    // The value of the header `name` (any letter case), several joined by ", "; null when
    // the answer has none.
    virtual QByteArray header(const QByteArray &name) const = 0;
    // The address asked for.
    virtual QUrl url() const = 0;
    // At most `maxSize` bytes of the body that have arrived and were not read yet.
    virtual QByteArray read(qint64 maxSize) = 0;
    // Valid once finished() was emitted.
    virtual Failure failure() const = 0;
    virtual QString errorString() const = 0;
    // Stops the transfer; no signal comes after it.
    virtual void abort() = 0;

Q_SIGNALS:
    // More of the body has arrived.
    void readyRead();
    // The answer is whole, or the transfer failed.
    void finished();
};
