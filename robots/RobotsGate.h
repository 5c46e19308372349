#pragma once

#include "HtmlDocument.h"
#include "RobotsRules.h"

#include <QHash>
#include <QString>

#include <memory>
#include <optional>

// Hands out the engine's documents as robots.txt allows: before the first request to an
// origin its /robots.txt is loaded through the same engine; an address its rules disallow is
// not requested, and its document completes at once without links, failed. The wait for the
// rules is part of the wait for the first page's document. A page's redirects are followed
// only where the rules known by then allow.
class RobotsGate final : public HtmlEngine {
public:
    // The rules are those for crawlerName.
    explicit RobotsGate(HtmlEngine &engine);
    ~RobotsGate() override;

    std::unique_ptr<HtmlDocument> createDocumentFromUrl(const QString &address) override;
    std::unique_ptr<HtmlDocument> createFileFromUrl(const QString &address, qint64 maxBytes,
                                                    int maxRedirects) override;

    // Whether the rules of the address's origin allow it, as far as they are known: an
    // address of an origin never asked for, or that is no http or https address, is allowed.
    // An address asked for keeps the decision made then.
    bool allows(const QString &address) const;

private:
    class Gated;

public:
    // An address as the rules read it.
    struct Place {
        QString origin;          // "http://host:port", as serialised
        QByteArray pathAndQuery; // "/a/b?c"
    };

private:
    // The origin ("http://host:port") of an http or https address, and its path and query;
    // nothing for any other address.
    std::optional<Place> placeOf(const QString &address) const;
    // The rules of `origin`, once they have arrived.
    const RobotsRules *rulesOf(const QString &origin);

    struct Origin {
        std::optional<RobotsRules> rules;
        std::unique_ptr<HtmlDocument> robotsTxt; // while it loads
    };

    HtmlEngine &m_engine;
    QHash<QString, std::shared_ptr<Origin>> m_origins; // by "scheme://host:port"
    QHash<QString, bool> m_decided;                    // whether an address asked for was allowed
};
