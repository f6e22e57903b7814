#include "ui/AvatarLoader.h"
#include "ui/AvatarView.h"

#include "QtPrinters.h"
#include "support/AwaitTask.h"

#include <QBuffer>
#include <QCoroTimer>
#include <QTimer>

#include <gtest/gtest.h>

namespace varno {
namespace {

using test::waitUntil;

QByteArray pngOf(QSize size, QColor colour) {
    QImage image(size, QImage::Format_ARGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

struct FakePictures {
    QList<QUrl> fetched;
    QByteArray answer = pngOf({460, 300}, Qt::red);
    bool fail = false;

    AvatarLoader::Fetch fetch() {
        return [this](QUrl url, std::stop_token) { return serve(url); };
    }
    QCoro::Task<QByteArray> serve(QUrl url) {
        fetched.append(url);
        QTimer tick;
        tick.setSingleShot(true);
        tick.start(5);
        co_await tick; // answers later, like the network
        if (fail)
            throw std::runtime_error("404");
        co_return answer;
    }
};

TEST(AvatarLoader, AcceptsOnlyWebAddresses) {
    EXPECT_EQ(AvatarLoader::avatarUrl(QStringLiteral("https://a.test/x.png")),
              QUrl("https://a.test/x.png"));
    EXPECT_TRUE(AvatarLoader::avatarUrl(QStringLiteral("http://a.test/x.png")));
    for (const char* bad : {"", "not a url", "/relative.png", "file:///etc/passwd",
                            "data:image/png;base64,AAAA", "https://", "javascript:alert(1)"})
        EXPECT_FALSE(AvatarLoader::avatarUrl(QString::fromLatin1(bad))) << bad;
    EXPECT_FALSE(AvatarLoader::avatarUrl(std::nullopt));
}

TEST(AvatarLoader, LoadsEachPictureOnceAndFillsTheCircle) {
    FakePictures pictures;
    AvatarLoader loader(pictures.fetch());
    const QString address = QStringLiteral("https://a.test/x.png");
    AvatarView first(address, &loader);
    AvatarView second(address, &loader);
    EXPECT_FALSE(first.showsPicture()) << "the placeholder shows while it loads";
    ASSERT_TRUE(waitUntil([&] { return first.showsPicture() && second.showsPicture(); }));
    EXPECT_EQ(pictures.fetched.size(), 1);
    EXPECT_EQ(first.size(), QSize(24, 24));
    // Kept small: the shorter side scaled to the stored size.
    EXPECT_EQ(loader.cached(QUrl(address))->height(), AvatarLoader::storedPixels);

    // Later rows get it from memory at once.
    AvatarView third(address, &loader);
    EXPECT_TRUE(third.showsPicture());
    EXPECT_EQ(pictures.fetched.size(), 1);
}

TEST(AvatarLoader, FailuresKeepThePlaceholderAndAreTriedAgainLater) {
    FakePictures pictures;
    pictures.fail = true;
    AvatarLoader loader(pictures.fetch());
    const QString address = QStringLiteral("https://a.test/missing.png");
    {
        AvatarView view(address, &loader);
        ASSERT_TRUE(waitUntil([&] { return loader.loadsInFlight() == 0; }));
        EXPECT_FALSE(view.showsPicture());
    }
    pictures.answer = QByteArray("not an image");
    pictures.fail = false;
    {
        AvatarView view(address, &loader);
        ASSERT_TRUE(waitUntil([&] { return loader.loadsInFlight() == 0; }));
        EXPECT_FALSE(view.showsPicture()) << "bytes that are no picture";
    }
    EXPECT_EQ(pictures.fetched.size(), 2);
}

TEST(AvatarLoader, ALoaderThatGoesAwayCancelsItsLoads) {
    bool cancelled = false;
    auto loader = std::make_unique<AvatarLoader>(
        [&cancelled](QUrl, std::stop_token token) -> QCoro::Task<QByteArray> {
            QTimer tick;
            tick.start(5);
            while (!token.stop_requested())
                co_await tick;
            cancelled = true;
            throw std::runtime_error("cancelled");
        });
    AvatarView view(QStringLiteral("https://a.test/slow.png"), loader.get());
    loader.reset();
    EXPECT_TRUE(waitUntil([&] { return cancelled; }));
    EXPECT_FALSE(view.showsPicture());
}

} // namespace
} // namespace varno
