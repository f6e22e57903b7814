// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace varno::test {

// One environment variable changed for a scope: set() gives it a value (a null one
// removes it), and what was there before comes back at the end.
class ScopedEnvironment {
public:
    explicit ScopedEnvironment(const char* name) : name_(name) {}
    ScopedEnvironment(const char* name, const QByteArray& value) : name_(name) { set(value); }
    ~ScopedEnvironment() { set(before_); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    void set(const QByteArray& value) const {
        value.isNull() ? qunsetenv(name_) : qputenv(name_, value);
    }

private:
    const char* name_;
    const QByteArray before_ = qEnvironmentVariableIsSet(name_) ? qgetenv(name_) : QByteArray();
};

} // namespace varno::test
