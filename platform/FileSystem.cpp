#include "FileSystem.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

QString DiskFileSystem::replaceFile(const QString &path, const QByteArray &bytes) {
    // The text goes into a temporary file beside the old one, which is renamed over it only
    // once every byte is on disk. (QSaveFile is not used: it reports a file cut short by a
    // full disk or a size limit as written.)
    const QByteArray target = QFile::encodeName(path);
    QByteArray temporary = target + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return systemReason(errno);

    struct stat old {};
    const mode_t mode = ::stat(target.constData(), &old) == 0 ? (old.st_mode & 07777) : [] {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        return mode_t(0666 & ~mask);
    }();
    int error = ::fchmod(fd, mode) == 0 ? 0 : errno;
    if (!error)
        error = writeAll(fd, bytes);
    if (!error && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && !error)
        error = errno;
    if (!error && ::rename(temporary.constData(), target.constData()) != 0)
        error = errno;
    if (error) {
        ::unlink(temporary.constData());
        return systemReason(error);
    }
    return {};
}
