#include "Export.h"

#include "FileSystem.h"

ExportResult ExportSitemap(FileSystem &files, const QString &directory, const QString &document) {
    QString path = directory;
    if (!path.endsWith(u'/'))
        path += u'/';
    if (!files.DirExists(path))
        return {ExportResult::Outcome::NoSuchDirectory, path, {}};
    path += QLatin1String("sitemap.xml");
    const QString failure = files.replaceFile(path, document.toUtf8());
    if (!failure.isNull())
        return {ExportResult::Outcome::WriteFailed, path, failure};
    return {ExportResult::Outcome::Written, path, {}};
}
