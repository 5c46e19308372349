#pragma once

#include <QByteArray>
#include <QString>

// Turns the bytes of an HTTP response body into the text a browser would parse, choosing the
// character encoding the way browsers do. Pure text code, safe to use from any thread.
struct DecodedPage {
    // True when the response is an HTML or XHTML document (by its Content-Type, or, when it
    // has none, by sniffing the body); false for everything else, whose text stays empty.
    bool isHtml = false;
    // True when the document is XHTML served as application/xhtml+xml, which browsers parse
    // as XML rather than as HTML.
    bool isXml = false;
    QString text;
    // The encoding the text was decoded from, as a name QStringEncoder accepts ("UTF-8",
    // "windows-1252", "Shift_JIS" ...). Links' queries are percent-encoded in it.
    QByteArray encoding;
    // With TextForm::Utf8WhenUtf8, the bytes of a UTF-8 page (its byte order mark removed)
    // in place of `text`, which then stays empty: the page needs no conversion.
    QByteArray utf8;
};

enum class TextForm { Utf16, Utf8WhenUtf8 };

// `contentType` is the Content-Type header's value as received; empty when none was sent.
DecodedPage decodePage(const QByteArray &body, const QByteArray &contentType,
                       TextForm form = TextForm::Utf16);
