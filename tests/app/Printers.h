#pragma once

#include <QRect>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <ostream>

// Readable failure messages for the Qt values these tests compare (in the global
// namespace, next to the Qt types, so that GoogleTest finds them).
inline std::ostream& operator<<(std::ostream& out, const QString& text) {
    return out << '"' << text.toStdString() << '"';
}
inline std::ostream& operator<<(std::ostream& out, const QStringList& list) {
    return out << '[' << list.join(QStringLiteral(", ")).toStdString() << ']';
}
inline std::ostream& operator<<(std::ostream& out, const QRect& r) {
    return out << "QRect(" << r.x() << ", " << r.y() << ", " << r.width() << " x " << r.height()
               << ")";
}
inline std::ostream& operator<<(std::ostream& out, const QUrl& url) {
    return out << url.toString().toStdString();
}
