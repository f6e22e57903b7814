// SPDX-License-Identifier: MIT
#include "UiHarness.h"

#include "ui/Avatar.h"

#include <QBuffer>
#include <QPainter>

namespace varno {
namespace {

using test::waitUntil;

TEST(AvatarLoader, AcceptsOnlyWebAddresses) {
    for (const char* good : {"https://a.test/x.png", "http://a.test/x.png"})
        EXPECT_EQ(AvatarLoader::avatarUrl(QString(good)), QUrl(good)) << good;
    for (const char* bad : {"", "not a url", "/relative.png", "file:///etc/passwd",
                            "data:image/png;base64,AAAA", "https://", "javascript:alert(1)"})
        EXPECT_FALSE(AvatarLoader::avatarUrl(QString(bad))) << bad;
}

TEST(AvatarLoader, LoadsEachPictureOnceAndKeepsThePlaceholderUntilThenOrOnFailure) {
    QImage image(460, 300, QImage::Format_ARGB32);
    image.fill(Qt::red);
    QByteArray picture;
    QBuffer buffer(&picture);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    QStringList fetched;
    // Answers later, like the network: a picture, an error, or bytes that are no picture.
    AvatarLoader loader([&](QUrl url, std::stop_token) -> QCoro::Task<QByteArray> {
        fetched.append(url.path());
        QTimer tick;
        tick.start(5);
        co_await tick;
        if (url.path() == "/missing")
            throw std::runtime_error("404");
        co_return url.path() == "/ok" ? picture : QByteArray("not an image");
    });
    const QUrl ok("https://a.test/ok");
    loader.load(ok);
    loader.load(ok); // one load per address at a time
    EXPECT_FALSE(loader.cached(ok)) << "the placeholder shows while it loads";
    ASSERT_TRUE(waitUntil([&] { return loader.cached(ok).has_value(); }));
    // Kept small: the shorter side scaled to the stored size.
    EXPECT_EQ(loader.cached(ok)->height(), AvatarLoader::storedPixels);

    for (const QString path : {"/missing", "/junk", "/missing"}) {
        loader.load(QUrl("https://a.test" + path));
        ASSERT_TRUE(waitUntil([&] { return loader.loadsInFlight() == 0; }));
        EXPECT_FALSE(loader.cached(QUrl("https://a.test" + path))) << path;
    }
    EXPECT_EQ(fetched, QStringList({"/ok", "/missing", "/junk", "/missing"}))
        << "a failure is tried again";

    // Drawn in a circle: the picture's colour inside, nothing at the corners.
    QImage drawn(24, 24, QImage::Format_ARGB32_Premultiplied);
    drawn.fill(Qt::transparent);
    QPainter painter(&drawn);
    Avatar::paint(painter, QRectF(0, 0, 24, 24), *loader.cached(ok));
    painter.end();
    EXPECT_EQ(drawn.pixelColor(12, 12), QColor(Qt::red));
    EXPECT_EQ(qAlpha(drawn.pixel(0, 0)), 0);
}

} // namespace
} // namespace varno
