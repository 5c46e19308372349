#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

// A file to be written whole: its path and what makes every byte it is to hold, called once,
// when the file is written, so that the files of a big sitemap are never all held at once.
struct NewFile {
    QString path;
    std::function<QByteArray()> bytes;
};

// Why a set of files could not be written: the file that failed and the reason, in the
// system's words; a null reason when all were written.
struct FileFailure {
    QString path;
    QString reason;
};

// Interface for the file system, as Export uses it. Abstract so that tests can make writes
// fail; the real implementation is DiskFileSystem.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    // True when the attributes of `path` can be read and say it is a directory; false for
    // anything else, a file or a path that cannot be read included.
    virtual bool DirExists(const QString &path) = 0;
    // Replaces the files at the given paths, in order, with the given bytes, each as a whole:
    // no old file is replaced before every byte of every new one has been written, so a
    // failure while writing leaves them all as they were. Files after one that failed are
    // not made.
    virtual FileFailure replaceFiles(const QList<NewFile> &files) = 0;
};

class DiskFileSystem final : public FileSystem {
public:
    bool DirExists(const QString &path) override;
    FileFailure replaceFiles(const QList<NewFile> &files) override;
};
