// SPDX-License-Identifier: MIT
#include "app/StandardInputLines.h"

#include <cerrno>
#include <unistd.h>

#include <utility>

namespace varno {

StandardInputLines::StandardInputLines(int descriptor, qsizetype maxLength, QObject* parent)
    : QObject(parent), descriptor_(descriptor), maxLength_(maxLength),
      notifier_(descriptor, QSocketNotifier::Read) {
    connect(&notifier_, &QSocketNotifier::activated, this, &StandardInputLines::readAvailable);
}

void StandardInputLines::readAvailable() {
    // The descriptor is readable, so one read returns at once; the descriptor itself
    // stays blocking (it is shared with the shell).
    char chunk[4096];
    const ssize_t got = ::read(descriptor_, chunk, sizeof chunk);
    if (got < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (got <= 0) {
        notifier_.setEnabled(false);
        // A last line without its end still counts.
        if (!discarding_ && !pending_.isEmpty())
            emit line(QString::fromLocal8Bit(std::exchange(pending_, {})));
        emit ended();
        return;
    }
    pending_.append(chunk, got);
    qsizetype end;
    while ((end = pending_.indexOf('\n')) >= 0) {
        QByteArray text = pending_.left(end);
        pending_.remove(0, end + 1);
        if (discarding_ || text.size() > maxLength_) {
            if (!discarding_)
                emit tooLong();
            discarding_ = false;
            continue;
        }
        if (text.endsWith('\r'))
            text.chop(1);
        emit line(QString::fromLocal8Bit(text));
    }
    if (pending_.size() > maxLength_) {
        // Whatever follows belongs to this line, up to its end.
        if (!discarding_)
            emit tooLong();
        discarding_ = true;
        pending_.clear();
    }
}

} // namespace varno
