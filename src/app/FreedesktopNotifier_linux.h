// SPDX-License-Identifier: MIT
#pragma once

#include "app/Notifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>

#include <chrono>

namespace varno {

// Notifications through the desktop's notification service
// (org.freedesktop.Notifications on the session bus). Every call is asynchronous with
// a deadline; without a service the calls fail and nothing is shown. A click comes
// back as the "default" action, accepted only from the service that showed it.
class FreedesktopNotifier : public Notifier {
    Q_OBJECT
public:
    explicit FreedesktopNotifier(QDBusConnection bus,
                                 std::chrono::milliseconds timeout = std::chrono::seconds(5),
                                 QObject* parent = nullptr);

    void show(const QString& title, const QString& body, const QString& tag) override;

private slots:
    void actionInvoked(uint id, const QString& action, const QDBusMessage& message);
    void notificationClosed(uint id, uint reason, const QDBusMessage& message);

private:
    struct Notice {
        QString title;
        QString body;
        QString tag;
    };
    struct Shown {
        uint id;
        QString service; // the unique bus name of the service that showed it
        QString tag;
    };
    enum class Markup { unknown, asking, yes, no };

    void askCapabilities();
    void send(const Notice& notice);

    QDBusConnection bus_;
    std::chrono::milliseconds timeout_;
    // Whether the service reads markup in the body, so that text from the server
    // must be escaped. Notices wait while the service is asked.
    Markup markup_ = Markup::unknown;
    QList<Notice> waiting_;
    QList<Shown> shown_; // newest last
};

} // namespace varno
