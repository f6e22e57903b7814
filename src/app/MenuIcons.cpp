// SPDX-License-Identifier: MIT
#include "app/MenuIcons.h"

#include <QImage>
#include <QPainter>
#include <QPixmap>

namespace varno {

namespace {

const char* resourceOf(MenuIcons::Symbol symbol) {
    switch (symbol) {
    case MenuIcons::Symbol::panel:
        return "panel";
    case MenuIcons::Symbol::signIn:
        return "sign-in";
    case MenuIcons::Symbol::usage:
        return "usage";
    case MenuIcons::Symbol::link:
        return "link";
    case MenuIcons::Symbol::signOut:
        return "sign-out";
    case MenuIcons::Symbol::notifications:
        return "bell";
    case MenuIcons::Symbol::startAtLogin:
        return "autostart";
    case MenuIcons::Symbol::quit:
        break;
    }
    return "power";
}

} // namespace

QIcon MenuIcons::icon(Symbol symbol, const QColor& colour) {
    QIcon icon;
    for (int size : {16, 32, 48}) {
        QImage image(QStringLiteral(":/menu-icons/%1-%2.png")
                         .arg(QString::fromLatin1(resourceOf(symbol)))
                         .arg(size));
        if (image.isNull())
            continue;
        // The shipped pictures are masks: their shape, in the colour wanted.
        image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&image);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), colour);
        painter.end();
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

} // namespace varno
