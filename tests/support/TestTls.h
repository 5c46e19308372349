#pragma once

#include <QByteArray>
#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>

// The test-only certificates of tests/support/certs, made by make-certs.sh there.

enum class ServerCertificate {
    Trusted,    // for 127.0.0.1, signed by testAuthority()
    SelfSigned, // for 127.0.0.1, signed by no authority anyone trusts
};

// The certificate authority that the tests hand to the engine; nothing else trusts it.
QSslCertificate testAuthority();

// What an HTTPS HttpServer needs: `certificate` and its key, and the protocols it agrees to by
// ALPN, in order of preference.
QSslConfiguration serverTls(ServerCertificate certificate,
                            const QList<QByteArray> &protocols = {"http/1.1"});
