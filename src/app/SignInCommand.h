// SPDX-License-Identifier: MIT
#pragma once

#include "app/AppCore.h"
#include "async/Job.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <cstdio>
#include <memory>
#include <optional>

namespace varno {

class StandardInputLines;

struct SignInOptions {
    // The build and analytics; the session storage is chosen at start.
    AppCoreOptions core;
    // The server for this sign-in (checked already); none: the usual choice.
    std::optional<QString> server;
    int input = 0; // standard input
    std::FILE* out = stdout;
    std::FILE* err = stderr;
};

// `varno --sign-in [--server URL]`: the browser sign-in for a terminal, where the
// browser may be on another machine. Prints the address to open, then takes the
// first varno:// callback: a line pasted on standard input or a link that reaches
// this machine's varno:// handler. The rest is the store's sign-in, first sync
// included; a failing first sync is only a warning. End of input or Ctrl+C cancels.
class SignInCommand : public QObject {
    Q_OBJECT
public:
    // The whole command; returns the exit status.
    static int main(int argc, char** argv, std::optional<QString> server);

    explicit SignInCommand(SignInOptions options, QObject* parent = nullptr);
    ~SignInCommand() override;

    void start();
    // Once the event loop has ended: cancels a sign-in still running (Ctrl+C),
    // flushes analytics and returns the exit status.
    int finish(int loopStatus);

    // Where links forwarded by a second `varno` process go; none until set up.
    CallbackRouter* router() const;

private:
    QCoro::Task<void> run(std::stop_token token);
    void waitingChanged(bool waiting);
    void sessionChanged();
    void say(const QString& line) const;
    void complain(const QString& line) const;

    SignInOptions options_;
    std::unique_ptr<AppCore> core_;
    std::unique_ptr<StandardInputLines> input_;
    std::shared_ptr<Job> job_;
    bool announced_ = false;
    bool reported_ = false; // the outcome has been printed
};

} // namespace varno
