// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <exception>
#include <stdexcept>

namespace varno {

// The app's own refusal: message is one complete sentence shown to the user as is.
class AppError : public std::runtime_error {
public:
    explicit AppError(const QString& message)
        : std::runtime_error(message.toStdString()), message_(message) {}
    const QString& message() const { return message_; }

private:
    QString message_;
};

// A JSON document that does not match the record it was read as. The text says
// what was wrong and where, e.g. `missing member "ok" at $.user`.
class DecodingError : public std::runtime_error {
public:
    explicit DecodingError(const QString& what) : std::runtime_error(what.toStdString()) {}
};

// A file-system failure, with the platform's description of it.
class FileError : public std::runtime_error {
public:
    explicit FileError(const QString& what) : std::runtime_error(what.toStdString()) {}
};

// The user-facing description of any caught exception: an AppError's message,
// otherwise the exception's own text.
QString describeError(std::exception_ptr error);

} // namespace varno
