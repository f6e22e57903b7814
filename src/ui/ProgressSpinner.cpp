// SPDX-License-Identifier: MIT
#include "ui/ProgressSpinner.h"

#include "ui/Theme.h"

#include <QPainter>
#include <QtMath>

namespace varno {

namespace {
constexpr int spokes = 8;
}

ProgressSpinner::ProgressSpinner(Size size, QWidget* parent)
    : QWidget(parent), diameter_(size == Size::Mini ? 12 : 16) {
    setFixedSize(diameter_, diameter_);
    setAccessibleName(QStringLiteral("Progress"));
    timer_.setInterval(90);
    connect(&timer_, &QTimer::timeout, this, [this] {
        step_ = (step_ + 1) % spokes;
        update();
    });
}

QSize ProgressSpinner::sizeHint() const {
    return QSize(diameter_, diameter_);
}

void ProgressSpinner::showEvent(QShowEvent* event) {
    timer_.start();
    QWidget::showEvent(event);
}

void ProgressSpinner::hideEvent(QHideEvent* event) {
    timer_.stop();
    QWidget::hideEvent(event);
}

void ProgressSpinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal radius = diameter_ / 2.0;
    const qreal inner = radius * 0.45;
    const qreal width = diameter_ >= 16 ? 2.0 : 1.6;
    painter.translate(radius, radius);
    QColor colour = theme::text();
    for (int i = 0; i < spokes; ++i) {
        // The spoke at the current step is darkest; the others fade behind it.
        const int age = (step_ - i + spokes) % spokes;
        colour.setAlphaF(0.85 - 0.09 * age);
        painter.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap));
        const qreal angle = 2 * M_PI * i / spokes - M_PI / 2;
        const QPointF direction(qCos(angle), qSin(angle));
        painter.drawLine(direction * inner, direction * (radius - width / 2));
    }
}

} // namespace varno
