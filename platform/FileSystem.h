#pragma once

#include <QByteArray>
#include <QString>

// Interface for the file system, as Export uses it. Abstract so that tests can make writes
// fail; the real implementation is DiskFileSystem.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    // True when the attributes of `path` can be read and say it is a directory; false for
    // anything else, a file or a path that cannot be read included.
    virtual bool DirExists(const QString &path) = 0;
    // Replaces the file at `path` with `bytes` as a whole: the old file, if any, stays as it
    // was unless every byte was written. A null string on success, else the reason.
    virtual QString replaceFile(const QString &path, const QByteArray &bytes) = 0;
};

class DiskFileSystem final : public FileSystem {
public:
    bool DirExists(const QString &path) override;
    QString replaceFile(const QString &path, const QByteArray &bytes) override;
};
