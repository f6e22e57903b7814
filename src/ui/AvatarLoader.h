// SPDX-License-Identifier: MIT
#pragma once

#include "net/HttpExchange.h"

#include <QCache>
#include <QCoroTask>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

namespace varno {

class Job;

// Loads people's pictures in the background, decodes them small and keeps them in
// memory. One load per address at a time; a failed load leaves the placeholder and is
// tried again the next time a row asks for it.
class AvatarLoader : public QObject {
    Q_OBJECT
public:
    // Returns the bytes at the address, or throws.
    using Fetch = std::function<QCoro::Task<QByteArray>(QUrl, std::stop_token)>;

    // The largest picture we accept, and the pixel size pictures are kept at (24
    // points at up to 3x).
    static constexpr qint64 maximumBytes = 2 * 1024 * 1024;
    static constexpr int storedPixels = 72;

    explicit AvatarLoader(Fetch fetch, QObject* parent = nullptr);
    ~AvatarLoader() override;

    // A fetch over the network core: a 20-second stall limit, a one-minute deadline,
    // answers up to maximumBytes and redirects within the picture's origin. The
    // environment is for tests.
    static Fetch networkFetch(TransferEnvironment environment = {});

    // The address as a picture address: absent unless it is an absolute http or https
    // URL (nothing else is fetched, local files included).
    static std::optional<QUrl> avatarUrl(const std::optional<QString>& text);

    std::optional<QImage> cached(const QUrl& url) const;
    // Starts loading unless the picture is cached or already loading; loaded() follows.
    void load(const QUrl& url);
    int loadsInFlight() const { return int(inFlight_.size()); }

signals:
    void loaded(const QUrl& url, const QImage& image);
    void failed(const QUrl& url);

private:
    static QCoro::Task<void> fetchOne(QPointer<AvatarLoader> self, Fetch fetch, QUrl url,
                                      std::stop_token token);
    void finish(const QUrl& url, const QImage& image);

    Fetch fetch_;
    mutable QCache<QUrl, QImage> cache_;
    QHash<QUrl, std::shared_ptr<Job>> inFlight_;
};

} // namespace varno
