#include "CookieJar.h"

#include <QDateTime>
#include <QHostAddress>
#include <QUrl>

#include <algorithm>

namespace {

// Whether a request for `path` carries a cookie of `cookiePath` (RFC 6265, section 5.1.4),
// as Qt's jar decides it.
bool isParentPath(const QString &path, const QString &cookiePath) {
    if (!(path.isEmpty() && cookiePath == u"/") && !path.startsWith(cookiePath))
        return false;
    return path.size() == cookiePath.size() || cookiePath.endsWith(u'/') ||
           path.at(cookiePath.size()) == u'/';
}

bool expired(const QNetworkCookie &cookie, const QDateTime &now) {
    return !cookie.isSessionCookie() && cookie.expirationDate() < now;
}

} // namespace

CookieJar::CookieJar()
    : CookieJar(Bounds()) {
}

CookieJar::CookieJar(Bounds bounds)
    : m_bounds(bounds) {
}

CookieJar::~CookieJar() = default;

// A domain cookie (".example.com") goes to the host of that name and to every host below
// it; any other cookie to its own host alone. So the cookies a host may get are those of the
// host itself, of "." and the host, and of each ".suffix" of it.
QList<QNetworkCookie> CookieJar::cookiesForUrl(const QUrl &url) const {
    const QString host = url.host();
    const QString path = url.path();
    const bool encrypted = url.scheme() == u"https";
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QList<Held> found;
    const auto take = [&](const QString &domain) {
        const auto bucket = m_byDomain.constFind(domain);
        if (bucket == m_byDomain.cend())
            return;
        // A public suffix's cookies go to that host alone.
        const QString bare = domain.startsWith(u'.') ? domain.mid(1) : domain;
        if (host != bare && isPublicSuffix(bare))
            return;
        for (const Held &held : *bucket) {
            const QNetworkCookie &cookie = held->cookie;
            if (isParentPath(path, cookie.path()) && !expired(cookie, now) &&
                (encrypted || !cookie.isSecure()))
                found.append(held);
        }
    };
    take(host);
    take(u'.' + host);
    for (qsizetype dot = host.indexOf(u'.', 1); dot >= 0; dot = host.indexOf(u'.', dot + 1))
        take(host.mid(dot));

    std::sort(found.begin(), found.end(), [](const Held &a, const Held &b) {
        const qsizetype aPath = a->cookie.path().size();
        const qsizetype bPath = b->cookie.path().size();
        return aPath != bPath ? aPath > bPath : a->set < b->set;
    });
    QList<QNetworkCookie> result;
    result.reserve(found.size());
    for (const Held &held : std::as_const(found)) {
        result.append(held->cookie);
        touch(held);
    }
    return result;
}

bool CookieJar::insertCookie(const QNetworkCookie &cookie) {
    // A cookie that has expired deletes the one it replaces, as in Qt's jar.
    deleteCookie(cookie);
    if (expired(cookie, QDateTime::currentDateTimeUtc()))
        return false;
    const QString &domain = cookie.domain();
    const QString site = siteOf(domain.startsWith(u'.') ? domain.mid(1) : domain);
    m_cookies.push_back({cookie, site, ++m_sets});
    const Held held = std::prev(m_cookies.end());
    m_byDomain[domain].append(held);
    touch(held);

    for (auto ofSite = m_sites.find(site);
         ofSite != m_sites.end() && qsizetype(ofSite->size()) > m_bounds.perSite;
         ofSite = m_sites.find(site))
        remove(ofSite->begin()->second);
    while (qsizetype(m_lru.size()) > m_bounds.inAll)
        remove(m_lru.begin()->second);
    return true;
}

bool CookieJar::deleteCookie(const QNetworkCookie &cookie) {
    const auto bucket = m_byDomain.constFind(cookie.domain());
    if (bucket == m_byDomain.cend())
        return false;
    for (const Held &held : *bucket) {
        if (held->cookie.hasSameIdentifier(cookie)) {
            remove(held);
            return true;
        }
    }
    return false;
}

QList<QNetworkCookie> CookieJar::cookies() const {
    QList<QNetworkCookie> all;
    all.reserve(qsizetype(m_cookies.size()));
    for (const Stored &stored : m_cookies)
        all.append(stored.cookie);
    return all;
}

bool CookieJar::validateCookie(const QNetworkCookie &cookie, const QUrl &url) const {
    return cookie.name().size() + cookie.value().size() <= m_bounds.cookieBytes &&
           QNetworkCookieJar::validateCookie(cookie, url);
}

// Qt keeps its list of public suffixes to itself, but its jar refuses a cookie for a public
// suffix from a host below it: that refusal tells.
bool CookieJar::isPublicSuffix(const QString &domain) const {
    const auto known = m_publicSuffixes.constFind(domain);
    if (known != m_publicSuffixes.cend())
        return *known;
    const QString host = QStringLiteral("x.") + domain;
    QUrl below;
    below.setScheme(QStringLiteral("http"));
    below.setHost(host);
    bool suffix = !domain.contains(u'.'); // Qt's own rule where it has no list
    if (below.host() == host) {
        QNetworkCookie probe;
        probe.setDomain(u'.' + domain);
        suffix = !QNetworkCookieJar::validateCookie(probe, below);
    }
    // Remembered for the domains of the cookies held, and some more.
    if (m_publicSuffixes.size() >= 4 * m_bounds.inAll)
        m_publicSuffixes.clear();
    m_publicSuffixes.insert(domain, suffix);
    return suffix;
}

// The public suffix that `domain` ends in, and one label more; an address, or a name with no
// dot, is a site of its own.
QString CookieJar::siteOf(const QString &domain) const {
    const auto known = m_siteOf.constFind(domain);
    if (known != m_siteOf.cend())
        return *known;
    QString site = domain;
    if (QHostAddress(domain).isNull()) {
        for (qsizetype dot = domain.indexOf(u'.'); dot >= 0;) {
            const QString suffix = domain.mid(dot + 1);
            const qsizetype next = domain.indexOf(u'.', dot + 1);
            // A last label unknown to Qt is taken for a public suffix, as browsers take it.
            if (suffix.isEmpty() || next < 0 || isPublicSuffix(suffix))
                break;
            site = suffix;
            dot = next;
        }
    }
    if (m_siteOf.size() >= 4 * m_bounds.inAll)
        m_siteOf.clear();
    m_siteOf.insert(domain, site);
    return site;
}

void CookieJar::touch(Held held) const {
    auto &ofSite = m_sites[held->site];
    if (held->used != 0) {
        m_lru.erase(held->used);
        ofSite.erase(held->used);
    }
    held->used = ++m_clock;
    m_lru.emplace(held->used, held);
    ofSite.emplace(held->used, held);
}

void CookieJar::remove(Held held) {
    m_lru.erase(held->used);
    const auto ofSite = m_sites.find(held->site);
    ofSite->erase(held->used);
    if (ofSite->empty())
        m_sites.erase(ofSite);
    const auto bucket = m_byDomain.find(held->cookie.domain());
    bucket->removeOne(held);
    if (bucket->isEmpty())
        m_byDomain.erase(bucket);
    m_cookies.erase(held);
}
