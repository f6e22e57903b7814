// SPDX-License-Identifier: MIT
#include "ui/AvatarLoader.h"

#include "async/CancellationError.h"
#include "async/Job.h"

#include "net/HttpClient.h"
#include <QBuffer>

#include <QImageReader>
#include <QPointer>

#include <stdexcept>
#include <string>

namespace varno {

namespace {
QCoro::Task<QByteArray> fetchOverNetwork(QUrl url, TransferEnvironment environment,
                                         std::stop_token token) {
    HttpExchangeRequest request;
    request.url = std::move(url);
    request.limits.maxAnswerBytes = AvatarLoader::maximumBytes;
    request.limits.deadline = std::chrono::minutes(1);
    request.limits.maxRedirects = 5;
    request.environment = std::move(environment);
    HttpExchangeResponse answer =
        co_await HttpClient::send(std::move(request), HttpClient::Lane::pictures, token);
    if (answer.status < 200 || answer.status > 299)
        throw std::runtime_error("HTTP status " + std::to_string(answer.status));
    co_return std::move(answer.body);
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

AvatarLoader::Fetch AvatarLoader::networkFetch(TransferEnvironment environment) {
    return [environment = std::move(environment)](QUrl url, std::stop_token token) {
        return fetchOverNetwork(std::move(url), environment, std::move(token));
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
