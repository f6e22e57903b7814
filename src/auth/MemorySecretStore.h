// SPDX-License-Identifier: MIT
#pragma once

#include "auth/SecretStore.h"

#include <QMap>
#include <QPair>

#include <optional>

namespace varno {

// A secret store in memory, for tests: every operation completes at once, and
// each kind of operation can be made to fail.
class MemorySecretStore : public SecretStore {
public:
    QCoro::Task<SecretResult> read(QString service, QString key) override;
    QCoro::Task<SecretResult> write(QString service, QString key, QByteArray data) override;
    QCoro::Task<SecretResult> remove(QString service, QString key) override;

    // Direct access, bypassing the failure switches and the counters.
    std::optional<QByteArray> item(const QString& service, const QString& key) const;
    void setItem(const QString& service, const QString& key, const QByteArray& data);
    int itemCount() const { return int(items_.size()); }

    bool failReads = false;
    bool failWrites = false;
    bool failRemoves = false;
    int reads = 0;
    int writes = 0;
    int removes = 0;

private:
    QMap<QPair<QString, QString>, QByteArray> items_;
};

} // namespace varno
