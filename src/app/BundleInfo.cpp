// SPDX-License-Identifier: MIT
#include "app/BundleInfo.h"

#include "app/BundleValues.h"

namespace varno {

QVariantMap BundleInfo::main() {
    static const QVariantMap values = generated::bundleValues();
    return values;
}

} // namespace varno
