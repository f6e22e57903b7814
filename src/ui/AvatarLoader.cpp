#include "ui/AvatarLoader.h"

#include "async/CancellationError.h"
#include "async/Job.h"

#include <QBuffer>
#include <QCoroNetworkReply>
#include <QImageReader>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>

#include <stdexcept>

namespace varno {

namespace {
struct DeleteLater {
    void operator()(QObject* object) const { object->deleteLater(); }
};

QCoro::Task<QByteArray> fetchOverNetwork(QPointer<QNetworkAccessManager> manager, QUrl url,
                                         std::stop_token token) {
    if (!manager || token.stop_requested())
        throw CancellationError();
    QNetworkRequest request(url);
    request.setTransferTimeout(20000);
    std::unique_ptr<QNetworkReply, DeleteLater> reply(manager->get(request));
    QNetworkReply* raw = reply.get();
    std::stop_callback abortOnStop(token, [raw] { raw->abort(); });
    QObject::connect(raw, &QNetworkReply::downloadProgress, raw, [raw](qint64 received, qint64) {
        if (received > AvatarLoader::maximumBytes)
            raw->abort();
    });
    co_await raw;
    if (token.stop_requested())
        throw CancellationError();
    if (raw->error() != QNetworkReply::NoError)
        throw std::runtime_error(raw->errorString().toStdString());
    co_return raw->readAll();
}

// Decodes straight to a small size, so a large picture never sits in memory whole.
QImage decodeSmall(const QByteArray& bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid() && size.width() > 0 && size.height() > 0) {
        // Fill the square: scale the shorter side to the stored size.
        const QSize target = size.scaled(AvatarLoader::storedPixels, AvatarLoader::storedPixels,
                                         Qt::KeepAspectRatioByExpanding);
        if (target.width() < size.width())
            reader.setScaledSize(target);
    }
    QImage image = reader.read();
    if (image.isNull())
        return image;
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}
} // namespace

AvatarLoader::AvatarLoader(Fetch fetch, QObject* parent)
    : QObject(parent), fetch_(std::move(fetch)), cache_(256) {}

AvatarLoader::~AvatarLoader() {
    for (const auto& job : std::as_const(inFlight_))
        job->cancel();
}

AvatarLoader::Fetch AvatarLoader::networkFetch(QNetworkAccessManager* manager) {
    QPointer<QNetworkAccessManager> guarded(manager);
    return [guarded](QUrl url, std::stop_token token) {
        return fetchOverNetwork(guarded, std::move(url), std::move(token));
    };
}

std::optional<QUrl> AvatarLoader::avatarUrl(const std::optional<QString>& text) {
    if (!text)
        return std::nullopt;
    const QUrl url(text->trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || url.host().isEmpty())
        return std::nullopt;
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("https") && scheme != QLatin1String("http"))
        return std::nullopt;
    return url;
}

std::optional<QImage> AvatarLoader::cached(const QUrl& url) const {
    if (const QImage* image = cache_.object(url))
        return *image;
    return std::nullopt;
}

void AvatarLoader::load(const QUrl& url) {
    if (!fetch_ || cache_.contains(url) || inFlight_.contains(url))
        return;
    QPointer<AvatarLoader> self(this);
    auto job = Job::start([self, fetch = fetch_, url](std::stop_token token) {
        return fetchOne(self, fetch, url, token);
    });
    if (!job->isFinished())
        inFlight_.insert(url, job);
}

QCoro::Task<void> AvatarLoader::fetchOne(QPointer<AvatarLoader> self, Fetch fetch, QUrl url,
                                         std::stop_token token) {
    QImage image;
    try {
        const QByteArray bytes = co_await fetch(url, token);
        if (bytes.size() <= maximumBytes)
            image = decodeSmall(bytes);
    } catch (...) {
        // A picture that cannot be had keeps the placeholder.
    }
    if (self && !token.stop_requested())
        self->finish(url, image);
}

void AvatarLoader::finish(const QUrl& url, const QImage& image) {
    inFlight_.remove(url);
    if (image.isNull()) {
        emit failed(url);
        return;
    }
    cache_.insert(url, new QImage(image));
    emit loaded(url, image);
}

} // namespace varno
