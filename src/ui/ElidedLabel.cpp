// SPDX-License-Identifier: MIT
#include "ui/ElidedLabel.h"

#include "ui/AccessibleRole.h"
#include "ui/Theme.h"

#include <QFontMetrics>
#include <QPainter>

namespace varno {

ElidedLabel::ElidedLabel(const QString& text, QWidget* parent)
    : QWidget(parent), text_(text), colour_(theme::text()) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    AccessibleRole::set(this, QAccessible::StaticText);
    setAccessibleName(text);
}

void ElidedLabel::setText(const QString& text) {
    if (text == text_)
        return;
    text_ = text;
    setAccessibleName(text);
    updateGeometry();
    update();
}

void ElidedLabel::setColour(const QColor& colour) {
    colour_ = colour;
    update();
}

QString ElidedLabel::displayedText() const {
    // Names are shown on one line: line breaks in them become spaces.
    QString line = text_;
    line.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    return fontMetrics().elidedText(line, Qt::ElideRight, width());
}

QSize ElidedLabel::sizeHint() const {
    const QFontMetrics metrics = fontMetrics();
    return QSize(metrics.horizontalAdvance(text_), metrics.height());
}

QSize ElidedLabel::minimumSizeHint() const {
    return QSize(0, fontMetrics().height());
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(colour_);
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, displayedText());
}

} // namespace varno
