// SPDX-License-Identifier: MIT
#include "app/SingleInstance.h"

#include "model/Errors.h"
#include "model/TemporaryFolder.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace varno {

namespace {

constexpr int serverReadLimitMs = 3000;

QString userSuffix() {
    return QString::number(::getuid());
}

// A folder only this user may enter, or nothing when that can't be had.
bool isPrivateFolder(const QString& path) {
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::getuid() && (info.st_mode & 077) == 0;
}

} // namespace

QByteArray InstanceRequest::encode() const {
    QByteArray verb;
    switch (kind) {
    case Kind::Show:
        verb = "show";
        break;
    case Kind::Toggle:
        verb = "toggle";
        break;
    case Kind::OpenURL:
        verb = "open";
        break;
    case Kind::Development:
        verb = "dev";
        break;
    case Kind::Status:
        verb = "status";
        break;
    }
    if (!argument.isEmpty())
        verb += ' ' + argument.toUtf8().toPercentEncoding();
    return verb + '\n';
}

std::optional<InstanceRequest> InstanceRequest::decode(const QByteArray& line) {
    const QByteArray trimmed = line.trimmed();
    const qsizetype space = trimmed.indexOf(' ');
    const QByteArray verb = space < 0 ? trimmed : trimmed.left(space);
    const QString argument =
        space < 0 ? QString()
                  : QString::fromUtf8(QByteArray::fromPercentEncoding(trimmed.mid(space + 1)));
    InstanceRequest request;
    request.argument = argument;
    if (verb == "show")
        request.kind = Kind::Show;
    else if (verb == "toggle")
        request.kind = Kind::Toggle;
    else if (verb == "open" && !argument.isEmpty())
        request.kind = Kind::OpenURL;
    else if (verb == "dev" && !argument.isEmpty())
        request.kind = Kind::Development;
    else if (verb == "status" && argument.isEmpty())
        request.kind = Kind::Status;
    else
        return std::nullopt;
    return request;
}

QString SingleInstance::defaultDirectory() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && isPrivateFolder(runtime))
        return runtime;
    return temporaryFolder() + QStringLiteral("/varno-") + userSuffix();
}

SingleInstance::SingleInstance(QString directory, QObject* parent)
    : QObject(parent), directory_(std::move(directory)) {}

SingleInstance::~SingleInstance() {
    if (server_) {
        server_->close();
        QLocalServer::removeServer(socketPath());
    }
}

QString SingleInstance::lockPath() const {
    return directory_ + QStringLiteral("/varno-") + userSuffix() + QStringLiteral(".lock");
}

QString SingleInstance::socketPath() const {
    return directory_ + QStringLiteral("/varno-") + userSuffix() + QStringLiteral(".socket");
}

SingleInstance::Role SingleInstance::claim() {
    if (!QFileInfo(directory_).isDir()) {
        if (!QDir().mkpath(directory_))
            throw AppError(QStringLiteral("Could not create %1.").arg(directory_));
        ::chmod(QFile::encodeName(directory_).constData(), 0700);
    }
    // A shared folder such as /tmp could hold a planted socket; only use ours.
    if (!isPrivateFolder(directory_))
        throw AppError(QStringLiteral("%1 is not a private folder of this user.").arg(directory_));

    lock_ = std::make_unique<QLockFile>(lockPath());
    // Never stale by age: only a lock whose process has gone (or now runs another
    // program under the same id) is taken over.
    lock_->setStaleLockTime(0);
    if (lock_->tryLock(0))
        return Role::Primary;
    const QLockFile::LockError error = lock_->error();
    lock_.reset();
    if (error != QLockFile::LockFailedError)
        throw AppError(QStringLiteral("Could not create the lock file in %1.").arg(directory_));
    return Role::Secondary;
}

bool SingleInstance::isRunning() const {
    return runningProcess().has_value();
}

std::optional<qint64> SingleInstance::runningProcess() const {
    if (!QFileInfo(directory_).isDir() || !isPrivateFolder(directory_))
        return std::nullopt;
    QLockFile probe(lockPath());
    qint64 pid = 0;
    QString hostname, application;
    if (!probe.getLockInfo(&pid, &hostname, &application) || pid <= 0)
        return std::nullopt;
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM)
        return pid;
    return std::nullopt;
}

void SingleInstance::listen() {
    Q_ASSERT(lock_);
    // We hold the lock, so a socket file left behind belongs to a dead process.
    QLocalServer::removeServer(socketPath());
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(socketPath())) {
        const QString reason = server_->errorString();
        server_.reset();
        throw AppError(QStringLiteral("Could not listen on %1: %2").arg(socketPath(), reason));
    }
    connect(server_.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection())
            serve(socket);
    });
}

void SingleInstance::serve(QLocalSocket* socket) {
    socket->setParent(this);
    // Qt stops reading from the connection once this much waits unread.
    socket->setReadBufferSize(InstanceRequest::maxEncodedSize);
    // A client that sends nothing useful is dropped; it never holds the app up.
    auto* limit = new QTimer(socket);
    limit->setSingleShot(true);
    connect(limit, &QTimer::timeout, socket, [socket] { socket->abort(); });
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::errorOccurred, socket, [socket] { socket->deleteLater(); });
    connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
        // The whole line or nothing: a request cut at the limit could still parse, and
        // a link cut short is not the link that was sent.
        const QByteArray head = socket->peek(InstanceRequest::maxEncodedSize);
        const qsizetype end = head.indexOf('\n');
        if (end < 0 && head.size() < InstanceRequest::maxEncodedSize)
            return; // more to come
        disconnect(socket, &QLocalSocket::readyRead, socket, nullptr);
        Reply reply = Reply::TooLong;
        if (end >= 0) {
            const auto request = InstanceRequest::decode(socket->read(end + 1));
            if (request && request->kind == InstanceRequest::Kind::Status && statusSource_) {
                socket->write("status " + statusSource_().toPercentEncoding() + '\n');
                socket->disconnectFromServer();
                return;
            }
            reply = request && handler_ ? handler_(*request) : Reply::Ignored;
        }
        socket->write(reply == Reply::Accepted  ? "ok\n"
                      : reply == Reply::TooLong ? "too-long\n"
                                                : "ignored\n");
        socket->disconnectFromServer();
    });
    limit->start(serverReadLimitMs);
}

std::optional<SingleInstance::Reply> SingleInstance::forward(const InstanceRequest& request,
                                                             std::chrono::milliseconds timeout) {
    const QByteArray line = request.encode();
    if (line.size() > InstanceRequest::maxEncodedSize)
        return Reply::TooLong;
    const std::optional<QByteArray> answer = exchange(line, timeout);
    if (answer == "ok")
        return Reply::Accepted;
    if (answer == "ignored")
        return Reply::Ignored;
    if (answer == "too-long")
        return Reply::TooLong;
    return std::nullopt;
}

std::optional<QByteArray> SingleInstance::askStatus(std::chrono::milliseconds timeout) {
    const std::optional<QByteArray> answer =
        exchange(InstanceRequest{InstanceRequest::Kind::Status, {}}.encode(), timeout);
    if (!answer || !answer->startsWith("status "))
        return std::nullopt;
    return QByteArray::fromPercentEncoding(answer->mid(7));
}

std::optional<QByteArray> SingleInstance::exchange(const QByteArray& line,
                                                   std::chrono::milliseconds timeout) {
    QDeadlineTimer deadline(timeout);
    const auto remaining = [&deadline] {
        return static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1));
    };
    QLocalSocket socket;
    // The running instance may be between taking its lock and listening.
    while (true) {
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(remaining()))
            break;
        if (deadline.hasExpired())
            return std::nullopt;
        QThread::msleep(50);
    }
    socket.write(line);
    if (!socket.waitForBytesWritten(remaining()))
        return std::nullopt;
    // The answer is one line; however much the other side sends, no more than a
    // request's worth is read.
    QByteArray answer;
    while (!answer.contains('\n') && answer.size() <= InstanceRequest::maxEncodedSize) {
        if (!socket.bytesAvailable() && !socket.waitForReadyRead(remaining()))
            break;
        answer += socket.read(InstanceRequest::maxEncodedSize + 1 - answer.size());
    }
    const qsizetype end = answer.indexOf('\n');
    if (end < 0)
        return std::nullopt;
    return answer.left(end).trimmed();
}

} // namespace varno
