// SPDX-License-Identifier: MIT
#pragma once

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

namespace varno {

namespace detail {
class CallbackWait;
}

// Receives the varno:// URLs that come back from the browser (forwarded by a
// second process on Linux, or a file-open event on macOS) and hands the first one
// to the sign-in that waits for it.
class CallbackRouter : public QObject {
    Q_OBJECT
public:
    // Shows a URL in the user's browser; false when nothing could be opened.
    using Opener = std::function<bool(const QUrl&)>;

    static constexpr std::chrono::milliseconds defaultTimeLimit = std::chrono::minutes(10);

    explicit CallbackRouter(Opener opener = defaultOpener(),
                            std::chrono::milliseconds timeLimit = defaultTimeLimit,
                            QObject* parent = nullptr);
    ~CallbackRouter() override;

    // The system browser, or the program named by VARNO_BROWSER (a development and
    // test aid: it is run with the URL as its only argument).
    static Opener defaultOpener();

    // Opens url and returns the first varno:// URL delivered afterwards, as its text
    // was written (the sign-in checks that text, not QUrl's normalised form). Throws
    // AppError "Could not open GitHub sign-in." when the opener fails, AppError
    // "GitHub sign-in did not complete." when the time limit passes, and
    // SignInCancelled when the token is stopped or a newer sign-in takes over.
    QCoro::Task<QString> openGitHub(QUrl url, std::stop_token token = {});

    // Hands a URL to the waiting sign-in. Returns false, changing nothing, when
    // no sign-in waits or the text is not a varno:// URL. A sign-in link that no
    // sign-in here waits for is announced as unclaimedSignInLink.
    bool deliver(const QString& url);

    // Hands a line the user pasted to the waiting sign-in as it is, whatever it
    // holds, so that the sign-in's own check judges it: a wrong paste fails with that
    // check's message instead of leaving the user waiting. False when none waits.
    bool deliverPasted(const QString& text);

    bool isWaiting() const;

    // Catches QFileOpenEvent's URLs when installed on the application object.
    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    void waitingChanged(bool waiting);
    // A sign-in link came while no sign-in here waits: it belongs to one started
    // elsewhere (a terminal sign-in on another machine), or to one that has ended.
    void unclaimedSignInLink(const QString& url);

private:
    Opener opener_;
    std::chrono::milliseconds timeLimit_;
    std::shared_ptr<detail::CallbackWait> current_;
};

// The outcome of registering this program as the handler of varno:// links.
struct SchemeRegistration {
    enum class Status {
        Registered,     // our desktop entry is in place and now the default
        AlreadyDefault, // it already was
        OtherHandler,   // another application owns the scheme; left alone
        ToolMissing,    // no xdg-mime: the entry is installed, the default not set
        NotNeeded,      // this platform registers through the application bundle
        Installed,      // the installed desktop entry of this program registers it
        EntryKept,      // our entry from an earlier start is there: asked then, not again
        Failed,
    };
    Status status = Status::Failed;
    QString detail; // the other handler's name or what went wrong
};

// What registration needs from the outside world; the defaults are the real ones.
struct SchemeRegistrationOptions {
    // Our desktop entry (packaging/varno.desktop); its Exec line is rewritten to
    // start `executable`.
    QByteArray desktopEntry;
    QString executable;
    // Usually ~/.local/share/applications.
    QString applicationsDirectory;
    // Where packages install desktop entries (/usr/share/applications, …). When
    // the first varno.desktop found there starts `executable`, this program is
    // installed and its entry already declares the scheme.
    QStringList installedApplicationsDirectories;
    // Runs a program with arguments under a time limit; returns its standard
    // output, or nullopt when it could not be started, failed or timed out.
    std::function<std::optional<QByteArray>(const QString& program, const QStringList& args,
                                            std::chrono::milliseconds limit)>
        run;
    std::chrono::milliseconds toolTimeLimit{5000};
    // Rewrite an existing entry of ours (an explicit install) rather than keep it;
    // for an installed program, remove a copy that would shadow the installed entry.
    bool replaceExisting = false;

    // This program, the user's applications folder and QProcess; desktopEntry is
    // left for the caller.
    static SchemeRegistrationOptions defaults();
};

// Installs our desktop entry for the user and makes it the varno:// handler when
// no other application already is. Blocking (runs helper programs): call it off
// the main thread.
SchemeRegistration registerSchemeHandler(const SchemeRegistrationOptions& options);

} // namespace varno
