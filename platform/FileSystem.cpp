#include "FileSystem.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

QString systemReason(int error) {
    return qt_error_string(error);
}

// Writes every byte, or says why not. Short writes are carried on; any error ends it.
int writeAll(int fd, const QByteArray &bytes) {
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += written;
        left -= written;
    }
    return 0;
}

} // namespace

bool DiskFileSystem::DirExists(const QString &path) {
    // The attributes are read anew; whatever cannot be read is no directory.
    return !path.isEmpty() && QFileInfo(path).isDir();
}

FileFailure DiskFileSystem::replaceFiles(const QList<NewFile> &files) {
    // Each text goes into a temporary file beside the old one; they are renamed over the old
    // ones only once every byte of all of them is on disk. (QSaveFile is not used: it reports
    // a file cut short by a full disk or a size limit as written.)
    QList<QByteArray> temporaries;
    const auto failed = [&temporaries](const QString &path, int error) {
        for (const QByteArray &temporary : std::as_const(temporaries))
            ::unlink(temporary.constData());
        return FileFailure{path, systemReason(error)};
    };
    for (const NewFile &file : files) {
        const QByteArray target = QFile::encodeName(file.path);
        QByteArray temporary = target + ".XXXXXX";
        const int fd = ::mkstemp(temporary.data());
        if (fd < 0)
            return failed(file.path, errno);
        temporaries.append(temporary);

        struct stat old {};
        const mode_t mode = ::stat(target.constData(), &old) == 0 ? (old.st_mode & 07777) : [] {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            return mode_t(0666 & ~mask);
        }();
        int error = ::fchmod(fd, mode) == 0 ? 0 : errno;
        if (!error)
            error = writeAll(fd, file.bytes);
        if (!error && ::fsync(fd) != 0)
            error = errno;
        if (::close(fd) != 0 && !error)
            error = errno;
        if (error)
            return failed(file.path, error);
    }
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QByteArray target = QFile::encodeName(files.at(i).path);
        if (::rename(temporaries.at(i).constData(), target.constData()) != 0) {
            // The files renamed so far are whole new ones; the rest stay as they were.
            const int error = errno;
            temporaries.remove(0, i);
            return failed(files.at(i).path, error);
        }
    }
    return {};
}
