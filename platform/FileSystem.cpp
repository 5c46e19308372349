#include "FileSystem.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

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
    // a file cut short by a full disk or a size limit as written.) The files are made and
    // written one after another, each file's bytes dropped once they are on disk.
    const mode_t newMode = [] {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        return mode_t(0666 & ~mask);
    }();
    struct Staged {
        QByteArray temporary; // empty when none was made
        int error = 0;
    };
    const auto stage = [newMode](const NewFile &file) {
        const QByteArray target = QFile::encodeName(file.path);
        Staged staged{target + ".XXXXXX"};
        const int fd = ::mkstemp(staged.temporary.data());
        if (fd < 0)
            return Staged{{}, errno};
        struct stat old {};
        const mode_t mode =
            ::stat(target.constData(), &old) == 0 ? mode_t(old.st_mode & 07777) : newMode;
        staged.error = ::fchmod(fd, mode) == 0 ? 0 : errno;
        if (!staged.error)
            staged.error = writeAll(fd, file.bytes());
        if (!staged.error && ::fsync(fd) != 0)
            staged.error = errno;
        if (::close(fd) != 0 && !staged.error)
            staged.error = errno;
        return staged;
    };
    std::vector<Staged> staged;
    for (const NewFile &file : files) {
        staged.push_back(stage(file));
        if (staged.back().error)
            break;
    }

    const auto failed = [&staged](std::size_t from, const QString &path, int error) {
        for (std::size_t i = from; i < staged.size(); ++i) {
            if (!staged[i].temporary.isEmpty())
                ::unlink(staged[i].temporary.constData());
        }
        return FileFailure{path, systemReason(error)};
    };
    // The first file in order that failed is the one named.
    for (std::size_t i = 0; i < staged.size(); ++i) {
        if (staged[i].error)
            return failed(0, files.at(qsizetype(i)).path, staged[i].error);
    }
    for (std::size_t i = 0; i < staged.size(); ++i) {
        const QByteArray target = QFile::encodeName(files.at(qsizetype(i)).path);
        if (::rename(staged[i].temporary.constData(), target.constData()) != 0) {
            // The files renamed so far are whole new ones; the rest stay as they were.
            return failed(i, files.at(qsizetype(i)).path, errno);
        }
    }
    return {};
}
