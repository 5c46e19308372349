#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

// Turns the bytes of an HTTP response body into the text a browser would parse, choosing the
// character encoding the way browsers do (a byte order mark, the Content-Type's charset, the
// prescan of the first 1024 bytes for a meta, the default) and decoding it with the Encoding
// Standard's decoders. Pure text code, safe to use from any thread.
struct DecodedPage {
    // True when the response is an HTML or XHTML document (by its Content-Type, or, when it
    // has none, by sniffing the body); false for everything else, whose text stays empty.
    bool isHtml = false;
    // True when the document is XHTML served as application/xhtml+xml, which browsers parse
    // as XML rather than as HTML.
    bool isXml = false;
    // The text, in the form asked for; the other one stays empty.
    QString text;
    QByteArray utf8; // a page in well-formed UTF-8 is the body itself (its byte order mark cut)
    // The name of the encoding the text was decoded from ("UTF-8", "windows-1252",
    // "Shift_JIS" ...). Links' queries are percent-encoded in it.
    QByteArray encoding;
    // Whether the encoding was only the prescan's or the default's guess, which a meta that the
    // tree builder meets may still change (the page is then read again: decodePageAs).
    bool tentative = false;
};

enum class TextForm { Utf16, Utf8 };

// `contentType` is the Content-Type header's value as received; empty when none was sent.
DecodedPage decodePage(const QByteArray &body, const QByteArray &contentType,
                       TextForm form = TextForm::Utf16);

// The HTML page `body` decoded in the encoding named `encoding`, with certainty.
DecodedPage decodePageAs(const QByteArray &body, const QByteArray &encoding,
                         TextForm form = TextForm::Utf16);

// The encoding named by the charset in a meta element's content attribute ("text/html;
// charset=EUC-JP"), as its name; nullopt when there is none.
std::optional<QByteArray> encodingFromMetaContent(QByteArrayView content);
