#pragma once

#include "SitemapDocument.h"

#include <QString>
#include <QStringList>

class FileSystem;

// What search engines accept in one sitemap file: at most this many <url> entries, and at
// most this many bytes of UTF-8 before any compression.
struct SitemapLimits {
    qsizetype urls = 50'000;
    qsizetype bytes = 52'428'800;
};

// What became of an export.
struct ExportResult {
    enum class Outcome { Written, NoSuchDirectory, WriteFailed };
    Outcome outcome;
    QString file;   // sitemap.xml, or the file that could not be written
    QString reason; // why writing failed, in the system's words
    // The parts of a sitemap too big for one file, in order, as written beside sitemap.xml,
    // which then is their index; empty when the sitemap fitted in one file.
    QStringList parts = {};
};

// Writes `document` as UTF-8 (no byte-order mark) into "sitemap.xml" in `directory`, a "/"
// added unless it ends in one. A document over `limits` is written instead as parts
// "sitemap-1.xml", "sitemap-2.xml", … each within them, and "sitemap.xml" becomes their
// sitemap index. Existing files are replaced only once every new one has been written whole,
// so a failed export leaves them all as they were.
ExportResult ExportSitemap(FileSystem &files, const QString &directory,
                           const SitemapDocument &document, SitemapLimits limits = {});

// Why an export failed, as the user is told; null when the sitemap was written.
QString ExportFailureText(const ExportResult &result);
