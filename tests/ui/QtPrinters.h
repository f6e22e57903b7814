#pragma once

#include <QRect>
#include <QSize>
#include <QString>
#include <QUrl>

#include <ostream>

// Readable failure messages for the Qt values these tests compare. They live in the
// global namespace, next to the Qt types, so that GoogleTest finds them.
inline std::ostream& operator<<(std::ostream& out, const QString& text) {
    return out << '"' << text.toStdString() << '"';
}
inline std::ostream& operator<<(std::ostream& out, const QRect& r) {
    return out << "QRect(" << r.x() << ", " << r.y() << ", " << r.width() << " x " << r.height()
               << ")";
}
inline std::ostream& operator<<(std::ostream& out, const QSize& s) {
    return out << "QSize(" << s.width() << " x " << s.height() << ")";
}
inline std::ostream& operator<<(std::ostream& out, const QUrl& url) {
    return out << url.toString().toStdString();
}
