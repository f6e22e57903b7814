// SPDX-License-Identifier: MIT
#include "ui/GlassCard.h"

#include "ui/Theme.h"

#include <QCache>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <vector>

namespace varno::GlassCard {

namespace {
constexpr int blurRadius = 14;
constexpr int shadowOffsetY = 5;

// One box-blur pass over the alpha of a premultiplied image, along rows or columns.
void boxBlurAlpha(QImage& image, int radius, bool horizontal) {
    const int w = image.width();
    const int h = image.height();
    const int lines = horizontal ? h : w;
    const int length = horizontal ? w : h;
    std::vector<int> source(static_cast<size_t>(length));
    const int window = 2 * radius + 1;
    for (int line = 0; line < lines; ++line) {
        auto pixel = [&](int i) -> QRgb& {
            const int x = horizontal ? i : line;
            const int y = horizontal ? line : i;
            return reinterpret_cast<QRgb*>(image.scanLine(y))[x];
        };
        for (int i = 0; i < length; ++i)
            source[static_cast<size_t>(i)] = qAlpha(pixel(i));
        int sum = 0;
        for (int i = -radius; i <= radius; ++i)
            sum += (i >= 0 && i < length) ? source[static_cast<size_t>(i)] : 0;
        for (int i = 0; i < length; ++i) {
            const int alpha = sum / window;
            pixel(i) = qRgba(0, 0, 0, alpha);
            const int out = i - radius;
            const int in = i + radius + 1;
            if (out >= 0)
                sum -= source[static_cast<size_t>(out)];
            if (in < length)
                sum += source[static_cast<size_t>(in)];
        }
    }
}

// The blurred silhouette of a card of the given size, cached: the panel repaints often
// but changes size rarely.
const QImage& shadowImage(const QSize& card, const QColor& colour) {
    static QCache<QString, QImage> cache(8);
    const QString key =
        QStringLiteral("%1x%2/%3").arg(card.width()).arg(card.height()).arg(colour.rgba());
    if (QImage* hit = cache.object(key))
        return *hit;
    const int pad = blurRadius * 2;
    auto* image = new QImage(card.width() + 2 * pad, card.height() + 2 * pad,
                             QImage::Format_ARGB32_Premultiplied);
    image->fill(Qt::transparent);
    {
        QPainter p(image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::black);
        p.drawRoundedRect(QRectF(pad, pad, card.width(), card.height()), theme::cornerRadius,
                          theme::cornerRadius);
    }
    // Three box passes approximate a Gaussian.
    for (int pass = 0; pass < 3; ++pass) {
        boxBlurAlpha(*image, blurRadius / 3, true);
        boxBlurAlpha(*image, blurRadius / 3, false);
    }
    // Tint: scale the alpha by the shadow colour's alpha.
    for (int y = 0; y < image->height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image->scanLine(y));
        for (int x = 0; x < image->width(); ++x) {
            const int a = qAlpha(line[x]) * colour.alpha() / 255;
            line[x] = qRgba(0, 0, 0, a);
        }
    }
    cache.insert(key, image);
    return *image;
}
} // namespace

QMargins shadowMargins() {
    return QMargins(blurRadius + 4, blurRadius, blurRadius + 4, blurRadius + shadowOffsetY + 6);
}

QMargins marginsWithinScreen(QMargins margins, const QRect& card, const QRect& screen) {
    margins.setLeft(std::clamp(card.left() - screen.left(), 0, margins.left()));
    margins.setRight(std::clamp(screen.right() - card.right(), 0, margins.right()));
    margins.setTop(std::clamp(card.top() - screen.top(), 0, margins.top()));
    margins.setBottom(std::clamp(screen.bottom() - card.bottom(), 0, margins.bottom()));
    return margins;
}

void paint(QPainter& painter, const QRect& rect, bool withShadow, bool opaque) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor shadowColour = theme::shadow();
    if (withShadow) {
        const QImage& shadow = shadowImage(rect.size(), shadowColour);
        const int pad = blurRadius * 2;
        painter.drawImage(rect.topLeft() + QPoint(-pad, -pad + shadowOffsetY), shadow);
    }
    const QRectF card = QRectF(rect).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(card, theme::cornerRadius, theme::cornerRadius);

    // A faint vertical sheen gives the flat fill the look of frosted glass.
    QColor fill = theme::cardFill();
    if (opaque)
        fill.setAlpha(255);
    QLinearGradient sheen(card.topLeft(), card.bottomLeft());
    sheen.setColorAt(0.0, fill.lighter(theme::isDark() ? 118 : 101));
    sheen.setColorAt(1.0, fill);
    painter.fillPath(shape, sheen);

    painter.setPen(QPen(theme::cardBorder(), 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(shape);

    // A hairline of light just inside the top edge.
    QPainterPath inner;
    inner.addRoundedRect(card.adjusted(1, 1, -1, -1), theme::cornerRadius - 1,
                         theme::cornerRadius - 1);
    painter.setClipRect(QRectF(card.left(), card.top(), card.width(), theme::cornerRadius));
    painter.setPen(QPen(theme::cardHighlight(), 1.0));
    painter.drawPath(inner);
    painter.restore();
}

} // namespace varno::GlassCard
