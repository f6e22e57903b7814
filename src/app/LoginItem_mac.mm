// SPDX-License-Identifier: MIT
#include "app/LoginItem.h"

#include "model/Errors.h"

#include <QString>

#import <ServiceManagement/ServiceManagement.h>

namespace varno {

namespace {

// The app bundle itself as a login item, through the system's Login Items list.
class API_AVAILABLE(macos(13.0)) MainAppLoginItem final : public LoginItem {
public:
    bool isEnabled() const override {
        return SMAppService.mainAppService.status == SMAppServiceStatusEnabled;
    }

    void setEnabled(bool enabled) override {
        SMAppService* service = SMAppService.mainAppService;
        if (!enabled && service.status == SMAppServiceStatusNotRegistered)
            return;
        NSError* error = nil;
        const BOOL done = enabled ? [service registerAndReturnError:&error]
                                  : [service unregisterAndReturnError:&error];
        if (!done)
            throw AppError(QString::fromNSString(error.localizedDescription));
        // The user turned the item off in System Settings before: only they can
        // turn it back on, so show them where.
        if (enabled && service.status == SMAppServiceStatusRequiresApproval)
            [SMAppService openSystemSettingsLoginItems];
    }
};

} // namespace

std::unique_ptr<LoginItem> LoginItem::forThisSystem() {
    if (@available(macOS 13.0, *))
        return std::make_unique<MainAppLoginItem>();
    return nullptr;
}

} // namespace varno
