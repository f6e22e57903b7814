// SPDX-License-Identifier: MIT
#include "app/Notifier.h"

namespace varno {

namespace {

class NoNotifier : public Notifier {
public:
    void show(const QString&, const QString&, const QString&) override {}
};

} // namespace

std::shared_ptr<Notifier> Notifier::forThisSystem() {
    return std::make_shared<NoNotifier>();
}

} // namespace varno
