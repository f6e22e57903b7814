// SPDX-License-Identifier: MIT
#include "app/Notifier.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#import <Foundation/Foundation.h>
#import <UserNotifications/UserNotifications.h>

// Shows banners while Varno is the active app too, and hands clicks back to Qt.
@interface VarnoNotificationDelegate : NSObject <UNUserNotificationCenterDelegate> {
    QPointer<varno::Notifier> _owner;
}
- (instancetype)initWithOwner:(varno::Notifier*)owner;
@end

@implementation VarnoNotificationDelegate
- (instancetype)initWithOwner:(varno::Notifier*)owner {
    if ((self = [super init]))
        _owner = owner;
    return self;
}

- (void)userNotificationCenter:(UNUserNotificationCenter*)center
       willPresentNotification:(UNNotification*)notification
         withCompletionHandler:(void (^)(UNNotificationPresentationOptions))completionHandler {
    completionHandler(UNNotificationPresentationOptionBanner |
                      UNNotificationPresentationOptionList);
}

- (void)userNotificationCenter:(UNUserNotificationCenter*)center
    didReceiveNotificationResponse:(UNNotificationResponse*)response
             withCompletionHandler:(void (^)(void))completionHandler {
    if ([response.actionIdentifier isEqualToString:UNNotificationDefaultActionIdentifier]) {
        id tag = response.notification.request.content.userInfo[@"tag"];
        const QString text =
            [tag isKindOfClass:[NSString class]] ? QString::fromNSString(tag) : QString();
        QPointer<varno::Notifier> owner = _owner;
        // The center may call from any thread; the app's state lives on the main one.
        QMetaObject::invokeMethod(
            qApp,
            [owner, text] {
                if (owner)
                    emit owner->activated(text);
            },
            Qt::QueuedConnection);
    }
    completionHandler();
}
@end

namespace varno {

namespace {

class UserNotifier : public Notifier {
public:
    UserNotifier() {
        delegate_ = [[VarnoNotificationDelegate alloc] initWithOwner:this];
        UNUserNotificationCenter* center = [UNUserNotificationCenter currentNotificationCenter];
        center.delegate = delegate_;
        // The system asks the user once; a refusal just means nothing is shown.
        [center requestAuthorizationWithOptions:UNAuthorizationOptionAlert
                              completionHandler:^(BOOL, NSError*){
                              }];
    }
    ~UserNotifier() override {
        UNUserNotificationCenter* center = [UNUserNotificationCenter currentNotificationCenter];
        if (center.delegate == delegate_)
            center.delegate = nil;
    }

    void show(const QString& title, const QString& body, const QString& tag) override {
        UNMutableNotificationContent* content = [[UNMutableNotificationContent alloc] init];
        content.title = title.toNSString();
        content.body = body.toNSString();
        content.userInfo = @{@"tag" : tag.toNSString()};
        UNNotificationRequest* request =
            [UNNotificationRequest requestWithIdentifier:[[NSUUID UUID] UUIDString]
                                                 content:content
                                                 trigger:nil];
        [[UNUserNotificationCenter currentNotificationCenter] addNotificationRequest:request
                                                               withCompletionHandler:nil];
    }

private:
    // The center holds its delegate weakly; this keeps it (compiled with ARC).
    VarnoNotificationDelegate* delegate_;
};

class NoNotifier : public Notifier {
public:
    void show(const QString&, const QString&, const QString&) override {}
};

} // namespace

std::shared_ptr<Notifier> Notifier::forThisSystem() {
    // The notification center needs an application bundle; a bare binary gets none.
    if ([[NSBundle mainBundle] bundleIdentifier] == nil)
        return std::make_shared<NoNotifier>();
    return std::make_shared<UserNotifier>();
}

} // namespace varno
