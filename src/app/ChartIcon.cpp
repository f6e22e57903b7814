// SPDX-License-Identifier: MIT
#include "app/ChartIcon.h"

#include <QPainter>
#include <QPixmap>

namespace varno {

namespace {

QPixmap drawChart(int size, const QColor& colour) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    // The 64-unit drawing of varno.svg, scaled.
    painter.scale(size / 64.0, size / 64.0);
    painter.drawRoundedRect(QRectF(14, 34, 8, 18), 2, 2);
    painter.drawRoundedRect(QRectF(28, 14, 8, 38), 2, 2);
    painter.drawRoundedRect(QRectF(42, 24, 8, 28), 2, 2);
    painter.drawRoundedRect(QRectF(6, 55, 52, 4), 2, 2);
    return pixmap;
}

} // namespace

QIcon chartIcon(const QColor& colour) {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128})
        icon.addPixmap(drawChart(size, colour));
    return icon;
}

} // namespace varno
