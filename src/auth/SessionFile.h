// SPDX-License-Identifier: MIT
#pragma once

#include "auth/SessionStorage.h"

namespace varno {

// The session in a private file, for machines where no keyring answers (a server
// reached over SSH). The file is mode 0600 in a folder of mode 0700, both owned by
// the user, and replaced atomically. Like ssh with a private key, a file or folder
// that others may read or write, or that belongs to someone else, is refused with
// the path and the command that fixes it. Blocking file work runs off the calling
// thread.
class SessionFile : public SessionStorage {
public:
    explicit SessionFile(QString path);

    // $XDG_STATE_HOME/Varno/session.json (by default under ~/.local/state).
    static QString defaultPath();

    // A session is far smaller; a larger file is not one.
    static constexpr qint64 maxSize = 64 * 1024;

    const QString& path() const { return path_; }
    // Whether anything (even something unusable) is at the path.
    bool exists() const;

    QCoro::Task<std::optional<SavedSession>> read() override;
    QCoro::Task<void> save(SavedSession session) override;
    QCoro::Task<void> remove() override;
    QString place() const override;

    // The same, on the calling thread.
    std::optional<SavedSession> readNow() const;
    void saveNow(const SavedSession& session) const;
    void removeNow() const;

private:
    QString folder() const;
    void checkFolder() const;

    QString path_;
};

} // namespace varno
