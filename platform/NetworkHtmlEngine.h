#pragma once

#include "HtmlDocument.h"

#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QThreadPool>

#include <chrono>
#include <memory>
#include <optional>

class Transfers;

// Bounds on one page load. The defaults are the program's; tests shorten them.
struct FetchLimits {
    std::chrono::milliseconds stall{30'000};  // a load that makes no progress this long ends
    std::chrono::milliseconds total{120'000}; // no load takes longer than this in all
    qint64 maxBodyBytes = 16 * 1024 * 1024;   // the part of a body that is parsed
    // Bodies up to this size are parsed on the thread that loads them, larger ones on a
    // thread of their own. A page of ordinary size parses in a millisecond or two: handing it
    // over and back costs more than that saves, and even hostile markup of 32 KiB (thousands
    // of nested elements) parses in tens of milliseconds. Larger ones would hold a window up;
    // a program without one has nothing to hold up.
    qint64 maxBodyParsedHere = 32 * 1024;
};

enum class ProxyMode { System, None };

// Loads pages over HTTP and HTTPS, one connection kept alive per server, and parses them off
// the window's thread. Qt Network carries HTTPS and whatever goes through a proxy; plain HTTP
// straight to the server has a client of its own, on the window's thread. Documents it creates
// must not outlive it.
class NetworkHtmlEngine final : public HtmlEngine {
public:
    // `extraAuthorities` are trusted for HTTPS beside the system's certificate store, which is
    // left as it is; tests hand in the authority of their own loopback server.
    explicit NetworkHtmlEngine(FetchLimits limits = {}, ProxyMode proxy = ProxyMode::System,
                               const QList<QSslCertificate> &extraAuthorities = {});
    ~NetworkHtmlEngine() override;

    std::unique_ptr<HtmlDocument> createDocumentFromUrl(const QString &address) override;
    std::unique_ptr<HtmlDocument> createFileFromUrl(const QString &address, qint64 maxBytes,
                                                    int maxRedirects) override;
    void setRedirectCheck(RedirectCheck check) override { m_redirectCheck = std::move(check); }

private:
    FetchLimits m_limits;
    std::optional<QSslConfiguration> m_tls; // none: Qt's default, the system's store alone
    std::unique_ptr<Transfers> m_transfers;
    QThreadPool m_parsers;
    RedirectCheck m_redirectCheck;
};
