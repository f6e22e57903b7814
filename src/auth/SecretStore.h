// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QString>

namespace varno {

// What a secret store answered for one operation.
struct SecretResult {
    enum class Status { ok, notFound, failed };
    Status status = Status::failed;
    QByteArray data; // the secret, for a successful read
    QString detail;  // the store's own description of a failure

    bool ok() const { return status == Status::ok; }
};

// One item per (service, key), read, written (created or replaced) and deleted
// asynchronously. Implementations never block the calling thread and always
// complete, with a failure when the backing service does not answer in time.
class SecretStore {
public:
    virtual ~SecretStore() = default;
    virtual QCoro::Task<SecretResult> read(QString service, QString key) = 0;
    virtual QCoro::Task<SecretResult> write(QString service, QString key, QByteArray data) = 0;
    virtual QCoro::Task<SecretResult> remove(QString service, QString key) = 0;
};

} // namespace varno
