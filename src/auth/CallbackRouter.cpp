// SPDX-License-Identifier: MIT
#include "auth/CallbackRouter.h"

#include "auth/GitHubLogin.h"
#include "auth/SignInCancelled.h"
#include "model/Errors.h"

#include <QCoroSignal>
#include <QDesktopServices>
#include <QFileOpenEvent>
#include <QProcess>
#include <QTimer>

namespace varno {

namespace {

// Any spelling of the scheme is ours to route; the sign-in judges the text itself.
bool isAppURL(const QString& text) {
    const QUrl url(text);
    return url.isValid() && url.scheme() == QLatin1String("varno");
}

} // namespace

namespace detail {

// One sign-in's wait. Ends exactly once: with a URL, or with an error.
class CallbackWait : public QObject {
    Q_OBJECT
public:
    void end(std::optional<QString> result, std::exception_ptr failure) {
        if (ended)
            return;
        ended = true;
        url = std::move(result);
        error = std::move(failure);
        limit.stop();
        emit finished();
    }

    QTimer limit;
    bool ended = false;
    bool routerGone = false;
    std::optional<QString> url;
    std::exception_ptr error;

signals:
    void finished();
};

} // namespace detail

using detail::CallbackWait;

CallbackRouter::CallbackRouter(Opener opener, std::chrono::milliseconds timeLimit, QObject* parent)
    : QObject(parent), opener_(std::move(opener)), timeLimit_(timeLimit) {}

CallbackRouter::~CallbackRouter() {
    if (current_) {
        current_->routerGone = true;
        current_->end(std::nullopt, std::make_exception_ptr(SignInCancelled()));
    }
}

CallbackRouter::Opener CallbackRouter::defaultOpener() {
    return [](const QUrl& url) {
        const QString browser = qEnvironmentVariable("VARNO_BROWSER");
        if (!browser.isEmpty())
            return QProcess::startDetached(browser, {url.toString(QUrl::FullyEncoded)});
        return QDesktopServices::openUrl(url);
    };
}

bool CallbackRouter::isWaiting() const {
    return current_ && !current_->ended;
}

QCoro::Task<QString> CallbackRouter::openGitHub(QUrl url, std::stop_token token) {
    if (token.stop_requested())
        throw SignInCancelled();
    // Only one browser sign-in at a time: a newer one replaces an older wait.
    if (current_)
        current_->end(std::nullopt, std::make_exception_ptr(SignInCancelled()));

    auto wait = std::make_shared<CallbackWait>();
    current_ = wait;
    emit waitingChanged(true);

    const auto finish = [this, wait] {
        if (wait->routerGone)
            return;
        if (current_ == wait) {
            current_.reset();
            emit waitingChanged(false);
        }
    };

    if (!opener_ || !opener_(url)) {
        wait->end(std::nullopt, nullptr);
        finish();
        throw AppError(QStringLiteral("Could not open GitHub sign-in."));
    }

    wait->limit.setSingleShot(true);
    QObject::connect(&wait->limit, &QTimer::timeout, wait.get(), [w = wait.get()] {
        w->end(std::nullopt, std::make_exception_ptr(
                                 AppError(QStringLiteral("GitHub sign-in did not complete."))));
    });
    wait->limit.start(timeLimit_);

    {
        std::stop_callback onStop(token, [w = wait.get()] {
            QMetaObject::invokeMethod(
                w, [w] { w->end(std::nullopt, std::make_exception_ptr(SignInCancelled())); },
                Qt::QueuedConnection);
        });
        if (!wait->ended)
            co_await qCoro(wait.get(), &CallbackWait::finished);
    }

    finish();
    if (wait->error)
        std::rethrow_exception(wait->error);
    if (!wait->url)
        throw SignInCancelled();
    co_return *wait->url;
}

bool CallbackRouter::deliver(const QString& url) {
    if (!isAppURL(url))
        return false;
    if (!isWaiting()) {
        if (GitHubLogin::isCallbackLink(url))
            emit unclaimedSignInLink(url);
        return false;
    }
    current_->end(url, nullptr);
    return true;
}

bool CallbackRouter::deliverPasted(const QString& text) {
    if (!isWaiting())
        return false;
    current_->end(text, nullptr);
    return true;
}

bool CallbackRouter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FileOpen) {
        // The system hands over a parsed URL; its text is the best there is.
        const QString url = static_cast<QFileOpenEvent*>(event)->url().toString(QUrl::FullyEncoded);
        if (isAppURL(url)) {
            deliver(url);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace varno

#include "CallbackRouter.moc"
