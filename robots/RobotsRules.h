#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

// What one site's robots.txt allows one crawler, read as RFC 9309 says: the groups whose
// user-agent names the crawler's product token (any case) or, when none does, the groups of
// "*", combined; the longest matching allow or disallow rule decides, with "*" for any run of
// characters and a final "$" for the path's end, and allow wins a tie. Pure code on bytes.
class RobotsRules {
public:
    // The most of a robots.txt that is read; a line cut off there is not.
    static constexpr qint64 maxBytes = 500 * 1024;
    // Redirects followed to a robots.txt.
    static constexpr int maxRedirects = 5;

    // The rules an answer to a request for robots.txt gives: a 2xx answer's `body` is parsed
    // for `productToken`; any other 3xx (redirects that led nowhere) or 4xx answer allows
    // everything; a 5xx answer, or `status` 0 for none at all, disallows everything.
    static RobotsRules fromAnswer(int status, QByteArrayView body, QByteArrayView productToken);

    // Whether the path and query of an address ("/a/b?c", percent-encoded as in an address)
    // may be requested. /robots.txt always may.
    bool allows(QByteArrayView pathAndQuery) const;

private:
    struct Rule {
        bool allow;
        QByteArray pattern; // percent-encoding made canonical, runs of "*" as one
        qsizetype length;   // of the pattern as written, encoding made canonical: its weight
        // The octets a path must have for the pattern to match it: all but "*" and "$".
        qsizetype literals;
    };
    static RobotsRules parse(QByteArrayView text, QByteArrayView productToken);

    bool m_disallowAll = false;
    QList<Rule> m_rules;
};
