// SPDX-License-Identifier: MIT
#include "usage/OutputFile.h"

#include "model/Errors.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varno {

namespace {

QString describeErrno(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

OutputFile::OutputFile(QString path) : path_(std::move(path)) {
    const QByteArray name = QFile::encodeName(path_);
    int fd;
    do {
        fd = ::open(name.constData(), O_CREAT | O_EXCL | O_NOFOLLOW | O_RDWR | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throw FileError(
            QStringLiteral("Could not create the file %1: %2").arg(path_, describeErrno(errno)));
    // The umask can only take bits away; this makes the mode exactly owner-only.
    ::fchmod(fd, 0600);
    // A descriptor in 0..2 would be the child's own standard stream; keep ours above.
    if (fd <= STDERR_FILENO) {
        const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        const int error = errno;
        ::close(fd);
        if (moved < 0) {
            ::unlink(name.constData());
            throw FileError(
                QStringLiteral("Could not open the file %1: %2").arg(path_, describeErrno(error)));
        }
        fd = moved;
    }
    fd_ = fd;
}

OutputFile::~OutputFile() {
    ::close(fd_);
    ::unlink(QFile::encodeName(path_).constData());
}

QByteArray OutputFile::readAll(qint64 maxBytes) const {
    auto failure = [this](int error) {
        return FileError(
            QStringLiteral("Could not read the file %1: %2").arg(path_, describeErrno(error)));
    };
    struct stat info {};
    if (::fstat(fd_, &info) != 0)
        throw failure(errno);
    if (info.st_size > maxBytes)
        throw FileError(
            QStringLiteral("Could not read the file %1: it holds %2 bytes, more than %3.")
                .arg(path_)
                .arg(qint64(info.st_size))
                .arg(maxBytes));
    QByteArray data;
    data.reserve(qsizetype(info.st_size));
    char buffer[65536];
    off_t offset = 0;
    for (;;) {
        const ssize_t n = ::pread(fd_, buffer, sizeof buffer, offset);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw failure(errno);
        }
        if (n == 0)
            break;
        offset += n;
        if (offset > maxBytes)
            throw FileError(
                QStringLiteral("Could not read the file %1: it holds more than %2 bytes.")
                    .arg(path_)
                    .arg(maxBytes));
        data.append(buffer, n);
    }
    return data;
}

} // namespace varno
