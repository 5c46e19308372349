#include "LinkScanner.h"

#include "Scanner.h"

LinkScan scanLinks(std::string_view page, const std::atomic<bool> *stop,
                   std::string_view tentativeEncoding) {
    using namespace linkscan;
    LinkScan out;
    std::vector<HrefRef> pool;
    std::vector<std::int64_t> links;
    std::vector<HrefRef> robotsMeta;
    std::optional<HrefRef> canonical;
    {
        Scanner scanner(page, stop, tentativeEncoding, out);
        scanner.run();
        scanner.take(pool, links, robotsMeta, canonical);
    }
    const auto view = [&](const HrefRef &ref) {
        return ref.decoded ? std::string_view(out.decoded.data() + ref.offset, ref.length)
                           : page.substr(ref.offset, ref.length);
    };
    out.hrefs.reserve(links.size());
    for (const std::int64_t link : links) {
        const HrefRef &ref = pool[std::size_t(link)];
        if (!ref.base)
            out.hrefs.push_back(view(ref));
        else if (!out.baseHref)
            out.baseHref = view(ref);
    }
    for (const HrefRef &content : robotsMeta)
        out.robotsMeta.push_back(view(content));
    if (canonical)
        out.canonicalHref = view(*canonical);
    return out;
}
