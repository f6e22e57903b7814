// SPDX-License-Identifier: MIT
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <chrono>

namespace varno::test {

// The real varno-devserver as a child process while this object lives: loopback, a free
// port and a fresh in-memory database (--seed none unless the demo circle is asked for).
// The constructor throws std::runtime_error when no address comes within 10 seconds; the
// server's standard error goes to the test's.
class DevServerProcess {
public:
    enum class Seed { none, demo };

    // `extraArguments` are appended to the command line; a later --db overrides the
    // in-memory database, e.g. {"--db", path} to keep data across restarts.
    explicit DevServerProcess(Seed seed = Seed::none, QStringList extraArguments = {});
    ~DevServerProcess();
    DevServerProcess(const DevServerProcess&) = delete;
    DevServerProcess& operator=(const DevServerProcess&) = delete;

    // The address the server listens on, e.g. "http://127.0.0.1:40123" (no trailing slash).
    QString baseUrl() const { return baseUrl_; }
    QString host() const { return host_; }
    int port() const { return port_; }

    bool isRunning() const { return process_.state() != QProcess::NotRunning; }

    // Stops the server with SIGTERM and returns its exit code; -1 when it crashed or had
    // to be killed. Returns the same code again when already stopped.
    int stop(std::chrono::milliseconds timeout = std::chrono::seconds(3));

    // Path of the built varno-devserver.
    static QString program();

private:
    QProcess process_;
    QString baseUrl_;
    QString host_;
    int port_ = 0;
    int exitCode_ = -1;
    bool stopped_ = false;
};

} // namespace varno::test
