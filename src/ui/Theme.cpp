// SPDX-License-Identifier: MIT
#include "ui/Theme.h"

#include "ui/AccessibleRole.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QStyle>
#include <QWidget>

namespace varno::theme {

namespace {
QString rgba(const QColor& c) {
    return QStringLiteral("rgba(%1,%2,%3,%4)")
        .arg(c.red())
        .arg(c.green())
        .arg(c.blue())
        .arg(QString::number(c.alphaF(), 'f', 3));
}
} // namespace

bool isDark() {
    const QColor window = QApplication::palette().color(QPalette::Window);
    return window.lightness() < 128;
}

QColor cardFill() {
    return isDark() ? QColor(38, 38, 42, 238) : QColor(248, 248, 250, 240);
}
QColor cardBorder() {
    return isDark() ? QColor(255, 255, 255, 36) : QColor(0, 0, 0, 30);
}
QColor cardHighlight() {
    return isDark() ? QColor(255, 255, 255, 18) : QColor(255, 255, 255, 200);
}
QColor shadow() {
    return QColor(0, 0, 0, isDark() ? 120 : 70);
}
QColor text() {
    return isDark() ? QColor(245, 245, 247) : QColor(29, 29, 31);
}
QColor secondaryText() {
    return isDark() ? QColor(235, 235, 245, 153) : QColor(60, 60, 67, 158);
}
QColor divider() {
    return isDark() ? QColor(255, 255, 255, 30) : QColor(0, 0, 0, 24);
}
QColor accent() {
    return isDark() ? QColor(10, 132, 255) : QColor(0, 122, 255);
}
QColor hoverFill() {
    return isDark() ? QColor(255, 255, 255, 16) : QColor(0, 0, 0, 10);
}
QColor focusRing() {
    // The accent, a step lighter on a dark card, so that it stands out from both the
    // card and the accent-filled buttons it may surround.
    return isDark() ? QColor(100, 170, 255) : QColor(0, 92, 200);
}

QColor codexColour() {
    // Okabe and Ito's blue and orange.
    return isDark() ? QColor(86, 180, 233) : QColor(0, 114, 178);
}
QColor claudeColour() {
    return isDark() ? QColor(240, 170, 40) : QColor(230, 159, 0);
}

QFont bodyFont() {
    QFont font = QApplication::font();
    font.setPixelSize(13);
    return font;
}

QFont headlineFont() {
    QFont font = bodyFont();
    font.setWeight(QFont::DemiBold);
    return font;
}

QFont monospacedDigitsFont() {
    // The body face's digits are already of equal width in the fonts we ship with;
    // the fixed face stands in only where the body face is unknown.
    QFont font = bodyFont();
    if (!QFontInfo(font).family().contains(QStringLiteral("DejaVu"), Qt::CaseInsensitive)) {
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setPixelSize(12);
    }
    return font;
}

QFont medalFont() {
    QFont font = bodyFont();
    font.setPixelSize(18);
    return font;
}

QString styleSheet() {
    const QColor accentColour = accent();
    const QColor buttonFill = isDark() ? QColor(255, 255, 255, 26) : QColor(0, 0, 0, 13);
    const QColor buttonHover = isDark() ? QColor(255, 255, 255, 40) : QColor(0, 0, 0, 22);
    const QColor buttonPressed = isDark() ? QColor(255, 255, 255, 56) : QColor(0, 0, 0, 34);
    const QColor buttonBorder = isDark() ? QColor(255, 255, 255, 20) : QColor(0, 0, 0, 20);
    const QColor disabledText = isDark() ? QColor(235, 235, 245, 76) : QColor(60, 60, 67, 76);
    const QColor handle = isDark() ? QColor(255, 255, 255, 70) : QColor(0, 0, 0, 60);
    QColor menuFill = cardFill();
    menuFill.setAlpha(255);
    return QStringLiteral(
               "QLabel { color: %1; background: transparent; }"
               "QLabel[secondary=\"true\"] { color: %15; }"
               "QPushButton { color: %1; background: %2; border: 1px solid %3;"
               " border-radius: 6px; padding: 3px 10px; min-height: 16px; }"
               "QPushButton:hover { background: %4; }"
               "QPushButton:pressed { background: %5; }"
               "QPushButton:disabled { color: %6; }"
               "QPushButton[prominent=\"true\"], QPushButton:default { color: white;"
               " background: %7; border: 1px solid %8; }"
               "QPushButton:focus { outline: none; }"
               // Where the keyboard is: a ring two pixels wide (the padding gives back the
               // extra pixel, so nothing moves), while the keyboard is in use.
               "QPushButton[focusVisible=\"true\"]:focus { border: 2px solid %16;"
               " padding: 2px 9px; }"
               // On a filled button the ring is in the text's colour, which stands out
               // from the fill and the card alike.
               "QPushButton[prominent=\"true\"][focusVisible=\"true\"]:focus,"
               " QPushButton:default[focusVisible=\"true\"]:focus { border-color: %1; }"
               "QPushButton[prominent=\"true\"]:hover, QPushButton:default:hover { background: %9; "
               "}"
               "QPushButton[prominent=\"true\"]:pressed, QPushButton:default:pressed {"
               " background: %10; }"
               "QScrollArea, QScrollArea > QWidget > QWidget { background: transparent; border: "
               "none; }"
               "QAbstractScrollArea, QAbstractScrollArea > QWidget { background: transparent; }"
               "QMenu { background: %13; color: %1; border: 1px solid %3; padding: 4px; }"
               "QMenu::item { padding: 4px 24px 4px 12px; border-radius: 4px; }"
               "QMenu::item:selected { background: %7; color: white; }"
               "QMenu::item:disabled { color: %6; background: transparent; }"
               "QMenu::separator { height: 1px; background: %14; margin: 4px 8px; }"
               "QScrollBar:vertical { background: transparent; width: %11px; margin: 0; }"
               "QScrollBar::handle:vertical { background: %12; border-radius: 3px; min-height: "
               "24px; }"
               "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
               "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }"
               // Tool tips of the panel's labels: the panel's text on its card, not
               // the label's own (secondary, transparent) look.
               "QToolTip { color: %1; background: %13; border: 1px solid %3; border-radius: 4px;"
               " padding: 3px 6px; }")
        .arg(rgba(text()), rgba(buttonFill), rgba(buttonBorder), rgba(buttonHover),
             rgba(buttonPressed), rgba(disabledText), rgba(accentColour),
             rgba(accentColour.darker(115)), rgba(accentColour.lighter(110)))
        .arg(rgba(accentColour.darker(120)))
        .arg(scrollBarWidth)
        .arg(rgba(handle))
        .arg(rgba(menuFill), rgba(divider()), rgba(secondaryText()), rgba(focusRing()));
}

void useSecondaryColour(QWidget* widget, bool secondary) {
    // A property the shared style sheet matches, rather than a style sheet of the
    // widget's own: that one would colour its tool tip too.
    if (widget->property("secondary").toBool() == secondary)
        return;
    widget->setProperty("secondary", secondary);
    widget->style()->unpolish(widget);
    widget->style()->polish(widget);
    widget->update();
}

QIcon linkIcon(const QColor& colour) {
    QIcon icon;
    for (int scale : {1, 2}) {
        const int side = 14 * scale;
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(side / 2.0, side / 2.0);
        painter.rotate(-45);
        painter.setPen(QPen(colour, 1.6 * scale, Qt::SolidLine, Qt::RoundCap));
        painter.setBrush(Qt::NoBrush);
        // Two links overlapping along the diagonal.
        const qreal w = 7.5 * scale, h = 4.6 * scale, r = h / 2;
        painter.drawRoundedRect(QRectF(-w + 1.6 * scale, -h / 2, w, h), r, r);
        painter.drawRoundedRect(QRectF(-1.6 * scale, -h / 2, w, h), r, r);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QWidget* makeDivider(QWidget* parent) {
    auto* line = new QWidget(parent);
    line->setFixedHeight(1);
    line->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    line->setAttribute(Qt::WA_StyledBackground);
    line->setStyleSheet(QStringLiteral("background: %1;").arg(rgba(divider())));
    AccessibleRole::set(line, QAccessible::Separator);
    return line;
}

void retire(QWidget* widget) {
    if (!widget)
        return;
    widget->hide();
    widget->setParent(nullptr);
    widget->deleteLater();
}

} // namespace varno::theme
