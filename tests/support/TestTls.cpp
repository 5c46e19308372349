#include "TestTls.h"

#include <QFile>
#include <QSslKey>

namespace {

QByteArray certFile(const char *name) {
    QFile file(QStringLiteral(CORVANE_TEST_CERTS "/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

QSslCertificate testAuthority() {
    return QSslCertificate(certFile("ca.crt"));
}

QSslConfiguration serverTls(ServerCertificate certificate, const QList<QByteArray> &protocols) {
    const bool trusted = certificate == ServerCertificate::Trusted;
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(QSslCertificate(certFile(trusted ? "server.crt" : "untrusted.crt")));
    tls.setPrivateKey(QSslKey(certFile(trusted ? "server.key" : "untrusted.key"), QSsl::Ec));
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    tls.setAllowedNextProtocols(protocols);
    return tls;
}
