#pragma once

#include <QHash>
#include <QNetworkCookie>
#include <QNetworkCookieJar>

#include <list>
#include <map>

// The crawl's cookies, shared by the plain HTTP client and Qt Network, bounded as browsers
// bound theirs: a site that sets thousands of cookies would otherwise make every later
// request, to any server, carry and pay for all of them.
//
// Which cookies a server may set, and which go back with a request, are Qt's jar's rules
// (its setCookiesFromUrl() normalises and validates each cookie and calls insertCookie()
// here); only the storage differs. Cookies are indexed by their domain, so building a
// request's cookies looks at the few domains its host lies in, not at the whole jar, and past
// a bound the least recently used cookie (set or sent) goes first. allCookies() and
// setAllCookies() are unused: the base class's own list stays empty.
//
// Use on one thread.
class CookieJar final : public QNetworkCookieJar {
public:
    struct Bounds {
        int perSite = 180;      // cookies of one site: a registrable domain and its subdomains
        int inAll = 3000;       // cookies in the jar
        int cookieBytes = 4096; // a cookie's name and value together; a larger one is refused
    };

    CookieJar();
    explicit CookieJar(Bounds bounds);
    ~CookieJar() override;

    // In Qt's jar's order: longer paths first, then in the order they were set.
    QList<QNetworkCookie> cookiesForUrl(const QUrl &url) const override;
    bool insertCookie(const QNetworkCookie &cookie) override;
    bool deleteCookie(const QNetworkCookie &cookie) override;

    // Every cookie held, in the order they were set.
    QList<QNetworkCookie> cookies() const;

protected:
    bool validateCookie(const QNetworkCookie &cookie, const QUrl &url) const override;

private:
    struct Stored {
        QNetworkCookie cookie;
        QString site;
        quint64 set = 0;          // when it was set: orders cookies of the same path length
        mutable quint64 used = 0; // when last set or sent: the least recently used goes first
    };
    using Held = std::list<Stored>::iterator;

    // Whether Qt takes `domain` for a public suffix (a "com" or "co.uk"): cookies set for
    // one are sent to that host alone.
    bool isPublicSuffix(const QString &domain) const;
    // The registrable domain that `domain` (a cookie's, without its leading dot) belongs to:
    // the site whose cookies are counted together.
    QString siteOf(const QString &domain) const;
    void touch(Held held) const;
    void remove(Held held);

    const Bounds m_bounds;
    std::list<Stored> m_cookies;            // in the order they were set
    QHash<QString, QList<Held>> m_byDomain; // by the cookie's domain, as Qt keeps it
    mutable std::map<quint64, Held> m_lru;  // every cookie by its `used`
    mutable QHash<QString, std::map<quint64, Held>> m_sites; // each site's, by `used`
    mutable quint64 m_clock = 0;
    quint64 m_sets = 0;
    mutable QHash<QString, bool> m_publicSuffixes; // asked of Qt once per domain
    mutable QHash<QString, QString> m_siteOf;
};
