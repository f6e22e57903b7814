// SPDX-License-Identifier: MIT
#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace varno {

// What a second `varno` process asks of the running one.
struct InstanceRequest {
    // Status: what the running Varno is and how its syncing goes (see setStatusSource).
    enum class Kind { Show, Toggle, OpenURL, Development, Status };
    Kind kind = Kind::Show;
    QString argument; // the URL for OpenURL, the command for Development

    // The longest request line, newline included, that the running instance reads:
    // 64 KiB, room for a link of 21,845 characters even if every one of them must be
    // percent-encoded. A longer request is refused as a whole, never cut.
    static constexpr qsizetype maxEncodedSize = 64 * 1024;

    QByteArray encode() const;
    static std::optional<InstanceRequest> decode(const QByteArray& line);
};

// One running Varno per user. The first process holds a lock file for its whole
// life and listens on a user-only local socket; later processes find the lock
// taken, hand their request to it over the socket and exit.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // Whether the running instance acted on a request. TooLong: the request was over
    // InstanceRequest::maxEncodedSize and nothing of it was acted on.
    enum class Reply { Accepted, Ignored, TooLong };
    using Handler = std::function<Reply(const InstanceRequest&)>;

    enum class Role { Primary, Secondary };

    // The folder for the socket and lock: $XDG_RUNTIME_DIR when it is usable,
    // otherwise /tmp/varno-<uid>, created user-only.
    static QString defaultDirectory();

    explicit SingleInstance(QString directory = defaultDirectory(), QObject* parent = nullptr);
    ~SingleInstance() override;

    QString socketPath() const;

    // Takes the lock (Primary) or finds it held by a running process (Secondary).
    // Needs no application object, so a second process can decide before it builds
    // one. Throws AppError for an unusable folder. A lock left by a process that
    // died is taken over.
    Role claim();

    // Whether a live process holds the lock, without taking it. Processes that only
    // carry a request (a sign-in link) use this: taking the lock even for a moment
    // could turn a Varno that is just starting into a secondary that exits.
    bool isRunning() const;

    // While primary, with an application object: starts taking requests. Replaces
    // a socket file left by a crash. Throws AppError when it cannot listen.
    void listen();

    // While primary: called on the main thread for each request that arrives.
    void setHandler(Handler handler) { handler_ = std::move(handler); }
    // While primary: the answer to a status request (one text, sent percent-encoded on
    // the reply line; it must stay well under InstanceRequest::maxEncodedSize).
    void setStatusSource(std::function<QByteArray()> source) { statusSource_ = std::move(source); }

    // Client side. nullopt when no instance answered within the timeout. A request
    // over the size limit is not sent at all: TooLong, as the instance would answer.
    std::optional<Reply> forward(const InstanceRequest& request,
                                 std::chrono::milliseconds timeout = std::chrono::seconds(3));
    // Client side: the running instance's status text; nullopt when none answered
    // in time or it gives none.
    std::optional<QByteArray>
    askStatus(std::chrono::milliseconds timeout = std::chrono::seconds(3));
    // The process that holds the lock, when a live one does.
    std::optional<qint64> runningProcess() const;

private:
    void serve(class QLocalSocket* socket);
    // Sends one request line and returns the reply line (without its end), read up
    // to the request limit; nullopt when no instance answered within the timeout.
    std::optional<QByteArray> exchange(const QByteArray& line, std::chrono::milliseconds timeout);
    QString lockPath() const;

    QString directory_;
    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<QLocalServer> server_;
    Handler handler_;
    std::function<QByteArray()> statusSource_;
};

} // namespace varno
