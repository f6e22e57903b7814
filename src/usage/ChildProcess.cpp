// SPDX-License-Identifier: MIT
#include "usage/ChildProcess.h"

#include "model/Errors.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace varno {

namespace {

QString describeErrno(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// posix_spawn's own objects, released on every path.
struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
};

} // namespace

ChildProcess::ChildProcess(const QString& program, const QStringList& arguments, int outputFd,
                           std::chrono::milliseconds grace)
    : grace_(grace) {
    const QByteArray path = QFile::encodeName(program);
    std::vector<QByteArray> encoded;
    encoded.reserve(arguments.size() + 1);
    encoded.push_back(path);
    for (const QString& argument : arguments)
        encoded.push_back(argument.toUtf8());
    std::vector<char*> argv;
    for (QByteArray& argument : encoded)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    SpawnSetup setup;
    int error = posix_spawn_file_actions_adddup2(&setup.actions, outputFd, STDOUT_FILENO);
    if (error == 0)
        error = posix_spawn_file_actions_addopen(&setup.actions, STDERR_FILENO, "/dev/null",
                                                 O_WRONLY, 0);
    // The spawning thread may block or ignore signals (Qt's threads, SIGPIPE);
    // the tool starts with the defaults, so that SIGTERM reaches it as intended.
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    if (error == 0)
        error = posix_spawnattr_setsigmask(&setup.attributes, &none);
    if (error == 0)
        error = posix_spawnattr_setsigdefault(&setup.attributes, &all);
    if (error == 0)
        error = posix_spawnattr_setflags(&setup.attributes,
                                         POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    if (error == 0)
        error = posix_spawn(&pid_, path.constData(), &setup.actions, &setup.attributes, argv.data(),
                            environ);
    if (error != 0) {
        pid_ = -1;
        throw FileError(QStringLiteral("Could not run %1: %2").arg(program, describeErrno(error)));
    }
}

ChildProcess::~ChildProcess() {
    stop();
}

bool ChildProcess::hasExited() {
    if (reaped_)
        return true;
    int status = 0;
    pid_t result;
    do {
        result = ::waitpid(pid_, &status, WNOHANG);
    } while (result < 0 && errno == EINTR);
    if (result == pid_) {
        reaped_ = true;
        waitStatus_ = status;
    } else if (result < 0) {
        // Someone else reaped it (ECHILD): it is gone, and its status unknown.
        reaped_ = true;
        waitStatus_ = -1;
    }
    return reaped_;
}

bool ChildProcess::succeeded() const {
    return reaped_ && waitStatus_ != -1 && WIFEXITED(waitStatus_) && WEXITSTATUS(waitStatus_) == 0;
}

void ChildProcess::stop() {
    if (pid_ <= 0 || hasExited())
        return;
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + grace_;
    while (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(
            std::min<std::chrono::milliseconds>(grace_, std::chrono::milliseconds(10)));
        if (hasExited())
            return;
    }
    ::kill(pid_, SIGKILL);
    int status = 0;
    pid_t result;
    do {
        result = ::waitpid(pid_, &status, 0);
    } while (result < 0 && errno == EINTR);
    reaped_ = true;
    waitStatus_ = result == pid_ ? status : -1;
}

} // namespace varno
