// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QString>

#include <memory>

namespace varno {

// Desktop notifications. Showing never waits for the desktop and never fails where
// the desktop has no notification service: nothing is shown then.
class Notifier : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // `body` is plain text. `tag` comes back through activated() when the user
    // clicks the notification.
    virtual void show(const QString& title, const QString& body, const QString& tag) = 0;

    // The desktop's notification service on Linux, the user notifications on macOS,
    // nothing elsewhere.
    static std::shared_ptr<Notifier> forThisSystem();

signals:
    void activated(const QString& tag);
};

} // namespace varno
