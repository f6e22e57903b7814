// SPDX-License-Identifier: MIT
#include "auth/SessionFile.h"

#include "async/Background.h"
#include "model/Errors.h"
#include "model/Json.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace varno {

namespace {

// A path as one shell word, for the commands in the messages.
QString quoted(const QString& path) {
    QString text = path;
    text.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

QString userName() {
    if (const passwd* entry = ::getpwuid(::getuid()))
        return QString::fromLocal8Bit(entry->pw_name);
    return QString::number(::getuid());
}

QString systemMessage(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

QString modeText(mode_t mode) {
    return QStringLiteral("%1").arg(mode & 07777, 4, 8, QLatin1Char('0'));
}

// Refuses what others may read or replace, as ssh does with a private key.
void checkPrivate(const struct stat& info, const QString& path, bool folder) {
    if (info.st_uid != ::getuid())
        throw AppError(QStringLiteral("%1 belongs to another user, so Varno will not use the "
                                      "session in it. Make it yours with: sudo chown %2 %3")
                           .arg(quoted(path), userName(), quoted(path)));
    if ((info.st_mode & 077) != 0) {
        if (folder)
            throw AppError(QStringLiteral("Permissions %1 for the folder %2 are too open: others "
                                          "may read or replace the session in it, so Varno will "
                                          "not use it. Fix it with: chmod 700 %3")
                               .arg(modeText(info.st_mode), quoted(path), quoted(path)));
        throw AppError(QStringLiteral("Permissions %1 for %2 are too open: the session file must "
                                      "be readable and writable by you alone, so Varno will not "
                                      "use it. Fix it with: chmod 600 %3")
                           .arg(modeText(info.st_mode), quoted(path), quoted(path)));
    }
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

} // namespace

SessionFile::SessionFile(QString path) : path_(std::move(path)) {}

QString SessionFile::defaultPath() {
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    // XDG base directories must be absolute; a relative one is ignored.
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return QDir::cleanPath(state + QStringLiteral("/Varno/session.json"));
}

QString SessionFile::folder() const {
    return QFileInfo(path_).absolutePath();
}

QString SessionFile::place() const {
    return path_;
}

bool SessionFile::exists() const {
    struct stat info {};
    return ::lstat(QFile::encodeName(path_).constData(), &info) == 0;
}

void SessionFile::checkFolder() const {
    const QString dir = folder();
    struct stat info {};
    if (::lstat(QFile::encodeName(dir).constData(), &info) != 0)
        throw AppError(QStringLiteral("Could not open the folder %1: %2.")
                           .arg(quoted(dir), systemMessage(errno)));
    if (!S_ISDIR(info.st_mode))
        throw AppError(QStringLiteral("%1 is not a folder, so Varno will not keep its session "
                                      "there. Remove it and sign in again with varno --sign-in.")
                           .arg(quoted(dir)));
    checkPrivate(info, dir, true);
}

std::optional<SavedSession> SessionFile::readNow() const {
    const QByteArray name = QFile::encodeName(path_);
    Descriptor file(::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) {
        if (errno == ENOENT)
            return std::nullopt;
        if (errno == ELOOP)
            throw AppError(QStringLiteral("%1 is a symbolic link, so Varno will not use it as its "
                                          "session. Remove it and sign in again with varno "
                                          "--sign-in.")
                               .arg(quoted(path_)));
        throw AppError(QStringLiteral("Could not read your session from %1: %2.")
                           .arg(quoted(path_), systemMessage(errno)));
    }
    checkFolder();
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode))
        throw AppError(QStringLiteral("%1 is not a regular file, so Varno will not use it as its "
                                      "session. Remove it and sign in again with varno --sign-in.")
                           .arg(quoted(path_)));
    checkPrivate(info, path_, false);
    if (info.st_size > maxSize)
        return std::nullopt;

    QByteArray data(maxSize + 1, Qt::Uninitialized);
    qsizetype filled = 0;
    while (filled < data.size()) {
        const ssize_t got = ::read(file.get(), data.data() + filled, size_t(data.size() - filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw AppError(QStringLiteral("Could not read your session from %1: %2.")
                               .arg(quoted(path_), systemMessage(errno)));
        if (got == 0)
            break;
        filled += got;
    }
    if (filled > maxSize)
        return std::nullopt;
    data.truncate(filled);
    try {
        return decodeJson<SavedSession>(data);
    } catch (const DecodingError&) {
        // Not a session: left as it is, like a bad keychain item.
        return std::nullopt;
    }
}

void SessionFile::saveNow(const SavedSession& session) const {
    const QString dir = folder();
    const QByteArray dirName = QFile::encodeName(dir);
    const auto failed = [this](int error) {
        return AppError(QStringLiteral("Could not save your session in %1: %2.")
                            .arg(quoted(path_), systemMessage(error)));
    };
    // Ours and any missing folder above it are made 0700, as XDG asks of the state
    // folder.
    QStringList missing;
    for (QString at = dir; !QFileInfo::exists(at) && at != QFileInfo(at).absolutePath();
         at = QFileInfo(at).absolutePath())
        missing.prepend(at);
    for (const QString& at : missing)
        if (::mkdir(QFile::encodeName(at).constData(), 0700) != 0 && errno != EEXIST)
            throw failed(errno);
    checkFolder();

    const QByteArray data = session.toJson();
    QByteArray temporary = QFile::encodeName(path_) + ".XXXXXX";
    // mkstemp creates the file 0600 and never follows or reuses an existing name.
    Descriptor file(::mkstemp(temporary.data()));
    if (file.get() < 0)
        throw failed(errno);
    const auto discard = [&temporary] { ::unlink(temporary.constData()); };
    qsizetype written = 0;
    while (written < data.size()) {
        const ssize_t put =
            ::write(file.get(), data.constData() + written, size_t(data.size() - written));
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0) {
            const int error = errno;
            discard();
            throw failed(error);
        }
        written += put;
    }
    if (::fchmod(file.get(), 0600) != 0 || ::fsync(file.get()) != 0 ||
        ::close(file.release()) != 0) {
        const int error = errno;
        discard();
        throw failed(error);
    }
    if (::rename(temporary.constData(), QFile::encodeName(path_).constData()) != 0) {
        const int error = errno;
        discard();
        throw failed(error);
    }
    // The rename itself lasts only once the folder is on disk.
    Descriptor folderHandle(::open(dirName.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folderHandle.get() >= 0)
        ::fsync(folderHandle.get());
}

void SessionFile::removeNow() const {
    ::unlink(QFile::encodeName(path_).constData());
}

// The work goes in named lambdas: GCC 12 destroys the captures of a lambda written
// inside a co_await expression twice.
QCoro::Task<std::optional<SavedSession>> SessionFile::read() {
    auto work = [file = *this](std::stop_token) { return file.readNow(); };
    co_return co_await runInBackground(std::move(work));
}

QCoro::Task<void> SessionFile::save(SavedSession session) {
    auto work = [file = *this, session = std::move(session)](std::stop_token) {
        file.saveNow(session);
    };
    co_await runInBackground(std::move(work));
}

QCoro::Task<void> SessionFile::remove() {
    auto work = [file = *this](std::stop_token) { file.removeNow(); };
    co_await runInBackground(std::move(work));
}

} // namespace varno
