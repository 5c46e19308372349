#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

// An absolute web address parsed and serialised the way a current web browser does it (the
// WHATWG URL rules), so that a link's address reads exactly as a browser reports its href.
// Pure text code: no network, no event loop; safe to use from any thread.
class WebUrl {
public:
    // Parses `input` against `base` (none for an absolute address). `queryEncoding` names the
    // encoding of the page the address came from ("UTF-8", "windows-1252", "Shift_JIS" ..., any
    // of the Encoding Standard's labels); the query of an http, https, ftp or file address is
    // percent-encoded in it, as browsers do (ws, wss and the other schemes always use UTF-8, and
    // so do UTF-16 pages). Empty means UTF-8.
    // Returns nothing when the address is not valid (a browser's URL parser fails on it).
    static std::optional<WebUrl> parse(QStringView input, const WebUrl *base = nullptr,
                                       const QByteArray &queryEncoding = {});

    // What parse(input, &base, queryEncoding) reports as its href, or a null string when that
    // fails. The forms most links take (a path, an absolute path, a query or a fragment, in
    // plain ASCII, against an http or https base) are joined to the base as written, without
    // the general parser.
    static QString resolve(QStringView input, const WebUrl &base,
                           const QByteArray &queryEncoding = {});

    // The serialised address, as a browser's `href` reports it.
    QString href() const { return m_href; }
    // Lower-case scheme without the colon: "http", "https", "mailto" ...
    QString scheme() const;

private:
    // The state machine that fills in the parts below; defined in WebUrl.cpp.
    class Parser;

    // Builds m_href and m_schemeEnd from the parts.
    void serialise();

    // The parts of the address, kept so that it can serve as the base of another one. All of
    // them are already percent-encoded, so they are plain ASCII.
    QString m_scheme;
    QString m_username;
    QString m_password;
    std::optional<QString> m_host; // as written in the href ("[::1]", "" for file:///); none
                                   // when the address has no "//" authority at all
    int m_port = -1;               // -1 when none, or the scheme's default port
    QStringList m_path;            // the segments between slashes, when the path is not opaque
    std::optional<QString> m_opaquePath; // "x@y" of "mailto:x@y", "void(0)" of "javascript:..."
    std::optional<QString> m_query;      // without the '?'
    std::optional<QString> m_fragment;   // without the '#'

    // Filled in by the parser.
    QString m_href;
    qsizetype m_schemeEnd = 0; // index of the ':' after the scheme in m_href
};
