#include "UiHarness.h"

#include "ui/AvatarView.h"

#include <QBuffer>

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
    const QString ok = "https://a.test/ok";
    AvatarView first(ok, &loader), second(ok, &loader);
    EXPECT_FALSE(first.showsPicture()) << "the placeholder shows while it loads";
    ASSERT_TRUE(waitUntil([&] { return first.showsPicture() && second.showsPicture(); }));
    EXPECT_EQ(first.size(), QSize(24, 24));
    // Kept small: the shorter side scaled to the stored size.
    EXPECT_EQ(loader.cached(QUrl(ok))->height(), AvatarLoader::storedPixels);
    AvatarView third(ok, &loader);
    EXPECT_TRUE(third.showsPicture()) << "later rows get it from memory at once";

    for (const QString path : {"/missing", "/junk", "/missing"}) {
        AvatarView failed("https://a.test" + path, &loader);
        ASSERT_TRUE(waitUntil([&] { return loader.loadsInFlight() == 0; }));
        EXPECT_FALSE(failed.showsPicture()) << path;
    }
    EXPECT_EQ(fetched, QStringList({"/ok", "/missing", "/junk", "/missing"}))
        << "a failure is tried again";
}

} // namespace
} // namespace varno
