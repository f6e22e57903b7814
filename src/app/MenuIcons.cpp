#include "app/MenuIcons.h"

#include <QImage>
#include <QPainter>
#include <QPixmap>

namespace varno {

namespace {

struct Names {
    const char* theme;
    const char* resource;
};

Names namesOf(MenuIcons::Symbol symbol) {
    switch (symbol) {
    case MenuIcons::Symbol::link:
        return {"insert-link", "link"};
    case MenuIcons::Symbol::signOut:
        return {"system-log-out", "sign-out"};
    case MenuIcons::Symbol::quit:
        break;
    }
    return {"application-exit", "power"};
}

} // namespace

QIcon MenuIcons::icon(Symbol symbol, const QColor& colour) {
    // A theme may name an icon that Qt cannot draw (SVG only, without Qt's SVG
    // module): only one that gives a picture counts.
    const QIcon themed = QIcon::fromTheme(QString::fromLatin1(namesOf(symbol).theme));
    if (!themed.isNull() && !themed.pixmap(16, 16).isNull())
        return themed;
    return shipped(symbol, colour);
}

QIcon MenuIcons::shipped(Symbol symbol, const QColor& colour) {
    QIcon icon;
    for (int size : {16, 32, 48}) {
        QImage image(QStringLiteral(":/menu-icons/%1-%2.png")
                         .arg(QString::fromLatin1(namesOf(symbol).resource))
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
