// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <sys/types.h>

namespace varno {

// A child process started directly (no shell), owned by this object: whatever
// happens, it does not outlive it. Meant for a background thread: nothing here
// needs an event loop.
class ChildProcess {
public:
    // Starts program with arguments; its standard output goes to outputFd, its
    // standard error to the null device; environment, working directory and
    // standard input are this process's. Throws FileError when it cannot start.
    // The destructor stops it as stop(grace) does.
    ChildProcess(const QString& program, const QStringList& arguments, int outputFd,
                 std::chrono::milliseconds grace);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Whether it has ended; reaps it when it has. Never blocks.
    bool hasExited();
    // True once it has ended with exit status 0 (not by a signal).
    bool succeeded() const;

    // Asks it to terminate, gives it the grace period, then kills it, and waits
    // until it is gone. Does nothing once it has ended.
    void stop();

    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    int waitStatus_ = 0;
    std::chrono::milliseconds grace_;
};

} // namespace varno
