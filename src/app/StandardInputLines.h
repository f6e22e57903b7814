// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>

namespace varno {

// Lines from a file descriptor (standard input), read as they arrive without ever
// blocking the event loop. A line is at most maxLength bytes; a longer one is refused
// whole (tooLong) and nothing of it is used.
class StandardInputLines : public QObject {
    Q_OBJECT
public:
    StandardInputLines(int descriptor, qsizetype maxLength, QObject* parent = nullptr);

signals:
    void line(const QString& text); // without its line end
    void tooLong();
    void ended(); // end of input, or it cannot be read

private:
    void readAvailable();

    int descriptor_;
    qsizetype maxLength_;
    QSocketNotifier notifier_;
    QByteArray pending_;
    bool discarding_ = false; // inside a line that is already too long
};

} // namespace varno
