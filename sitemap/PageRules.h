#pragma once

#include "HtmlDocument.h"

#include <QByteArrayView>
#include <QDateTime>
#include <QString>
#include <QStringView>

#include <optional>

// What decides whether a loaded page belongs in a sitemap that search engines take without a
// warning, and the date its entry may carry. Pure text code.

// Whether robots directives, split at commas, hold "noindex" or "none" (any case, white space
// around each trimmed). `fromHeader` reads them as an X-Robots-Tag: a directive that starts
// with a crawler's name and a colon ("otherbot: noindex") is that crawler's alone and counts
// only when the name is this program's; a robots meta has no such directives.
enum class DirectiveSource { Meta, Header };
bool holdsNoindex(QStringView directives, DirectiveSource source);

// Whether a page loaded with `facts` may be listed: a 2xx answer at the address asked for, no
// noindex in its robots metas or X-Robots-Tag, and no canonical address but its own.
bool isIndexable(const PageFacts &facts);

// An HTTP date in any of the three forms HTTP/1.1 accepts (IMF-fixdate, RFC 850 with its
// two-digit year read as at most 50 years ahead of `now`, asctime), in UTC; nothing when
// `text` is none of them or names no real moment.
std::optional<QDateTime> parseHttpDate(QByteArrayView text, const QDateTime &now);

// `moment` as a sitemap's <lastmod> writes it: "YYYY-MM-DDThh:mm:ss+00:00".
QString lastmodText(const QDateTime &moment);
