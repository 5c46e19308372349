#include "Export.h"

#include "FileSystem.h"
#include "Sitemap.h"

ExportResult ExportSitemap(FileSystem &files, const QString &directory,
                           const SitemapDocument &document, SitemapLimits limits) {
    QString path = directory;
    if (!path.endsWith(u'/'))
        path += u'/';
    if (!files.DirExists(path))
        return {ExportResult::Outcome::NoSuchDirectory, path, {}};

    const QString index = path + QLatin1String("sitemap.xml");
    QList<NewFile> written;
    QStringList parts;
    // Each file's bytes are made as it is written.
    const SitemapPlan plan = PlanSitemap(document, limits.urls, limits.bytes);
    if (plan.parts.size() == 1) {
        written.append(
            {index, [document, part = plan.parts.first()] { return SitemapPart(document, part); }});
    } else {
        for (qsizetype i = 0; i < plan.parts.size(); ++i) {
            parts.append(path + QStringLiteral("sitemap-%1.xml").arg(i + 1));
            written.append({parts.last(), [document, part = plan.parts.at(i)] {
                                return SitemapPart(document, part);
                            }});
        }
        // The index goes last: until it is there, an old index names old parts.
        written.append({index, [plan] { return SitemapIndex(plan); }});
    }
    const FileFailure failure = files.replaceFiles(written);
    if (!failure.reason.isNull())
        return {ExportResult::Outcome::WriteFailed, failure.path, failure.reason};
    return {ExportResult::Outcome::Written, index, {}, parts};
}

QString ExportFailureText(const ExportResult &result) {
    switch (result.outcome) {
    case ExportResult::Outcome::Written:
        break;
    case ExportResult::Outcome::NoSuchDirectory:
        return QStringLiteral("Directory doesn't exist - please check and re-type");
    case ExportResult::Outcome::WriteFailed:
        return QStringLiteral("Could not write %1: %2").arg(result.file, result.reason);
    }
    return {};
}
