#include "ui/AvatarView.h"

#include "ui/AvatarLoader.h"
#include "ui/Theme.h"

#include <QPainter>
#include <QPainterPath>

namespace varno {

AvatarView::AvatarView(const std::optional<QString>& address, AvatarLoader* loader, QWidget* parent)
    : QWidget(parent), url_(AvatarLoader::avatarUrl(address)) {
    setFixedSize(theme::avatarSize, theme::avatarSize);
    // Decoration only: the row speaks for the person.
    setAccessibleName(QString());
    if (!url_ || !loader)
        return;
    if (auto image = loader->cached(*url_)) {
        image_ = *image;
        return;
    }
    connect(loader, &AvatarLoader::loaded, this, [this](const QUrl& url, const QImage& image) {
        if (url_ && url == *url_) {
            image_ = image;
            update();
        }
    });
    loader->load(*url_);
}

void AvatarView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF bounds(0, 0, width(), height());
    QPainterPath circle;
    circle.addEllipse(bounds);

    if (!image_.isNull()) {
        painter.setClipPath(circle);
        // Fill the circle: crop the longer side around the centre.
        const QSizeF source = image_.size();
        const qreal side = std::min(source.width(), source.height());
        const QRectF crop((source.width() - side) / 2, (source.height() - side) / 2, side, side);
        painter.drawImage(bounds, image_, crop);
        return;
    }

    // The placeholder: a filled circle with a head and shoulders cut out of it.
    const qreal w = bounds.width();
    QPainterPath person;
    person.addEllipse(QPointF(w / 2, w * 0.38), w * 0.17, w * 0.17);
    QPainterPath shoulders;
    shoulders.addEllipse(QRectF(w * 0.18, w * 0.62, w * 0.64, w * 0.56));
    person = person.united(shoulders.intersected(circle));
    painter.fillPath(circle.subtracted(person), theme::secondaryText());
}

} // namespace varno
