// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>

namespace varno {

// A new file that only its owner can read, created exclusively (an existing file
// or symlink at the path is an error, never followed or reused), open for reading
// and writing. Closed and deleted when this object ends.
class OutputFile {
public:
    // Throws FileError when the file cannot be created; then nothing is deleted,
    // since whatever is at the path is not ours.
    explicit OutputFile(QString path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    const QString& path() const { return path_; }
    int descriptor() const { return fd_; }

    // Everything written to the file so far, read through the handle (not the
    // path, so a tool that renames or deletes its output cannot swap it). Throws
    // FileError when it cannot be read or is larger than maxBytes.
    QByteArray readAll(qint64 maxBytes) const;

private:
    QString path_;
    int fd_ = -1;
};

} // namespace varno
