// SPDX-License-Identifier: MIT
#include "ui/Avatar.h"

#include "ui/Theme.h"

#include <QPainter>
#include <QPainterPath>

namespace varno::Avatar {

void paint(QPainter& painter, const QRectF& bounds, const QImage& picture) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath circle;
    circle.addEllipse(bounds);

    if (!picture.isNull()) {
        painter.setClipPath(circle);
        // Fill the circle: crop the longer side around the centre.
        const QSizeF source = picture.size();
        const qreal side = std::min(source.width(), source.height());
        const QRectF crop((source.width() - side) / 2, (source.height() - side) / 2, side, side);
        painter.drawImage(bounds, picture, crop);
        painter.restore();
        return;
    }

    // The placeholder: a filled circle with a head and shoulders cut out of it.
    const qreal w = bounds.width();
    const QPointF o = bounds.topLeft();
    QPainterPath person;
    person.addEllipse(o + QPointF(w / 2, w * 0.38), w * 0.17, w * 0.17);
    QPainterPath shoulders;
    shoulders.addEllipse(QRectF(o + QPointF(w * 0.18, w * 0.62), QSizeF(w * 0.64, w * 0.56)));
    person = person.united(shoulders.intersected(circle));
    painter.fillPath(circle.subtracted(person), theme::secondaryText());
    painter.restore();
}

} // namespace varno::Avatar
