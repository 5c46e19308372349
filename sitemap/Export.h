#pragma once

#include <QString>

class FileSystem;

// What became of an export.
struct ExportResult {
    enum class Outcome { Written, NoSuchDirectory, WriteFailed };
    Outcome outcome;
    QString file;   // the file written, or meant to be
    QString reason; // why writing failed, in the system's words
};

// Writes `document` as UTF-8 (no byte-order mark) into "sitemap.xml" in `directory`, a "/"
// added unless it ends in one. An existing file is replaced only once the whole text has
// been written, so a failed export leaves it as it was.
ExportResult ExportSitemap(FileSystem &files, const QString &directory, const QString &document);
