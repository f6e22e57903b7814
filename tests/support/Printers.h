// SPDX-License-Identifier: MIT
#pragma once

// How failures show the Qt values tests compare: texts quoted, lists and rectangles on
// one line. Next to the Qt types, where GoogleTest looks for them.

#include <QRect>
#include <QString>
#include <QStringList>

#include <ostream>

QT_BEGIN_NAMESPACE
inline std::ostream& operator<<(std::ostream& out, const QString& text) {
    return out << '"' << text.toStdString() << '"';
}
inline std::ostream& operator<<(std::ostream& out, const QStringList& list) {
    out << '[';
    for (const QString& text : list)
        out << (&text == &list.first() ? "" : ", ") << text;
    return out << ']';
}
inline std::ostream& operator<<(std::ostream& out, const QRect& r) {
    return out << r.x() << ',' << r.y() << ' ' << r.width() << 'x' << r.height();
}
// GoogleTest prints containers element by element unless told otherwise.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << text;
}
inline void PrintTo(const QStringList& list, std::ostream* out) {
    *out << list;
}
inline void PrintTo(const QRect& r, std::ostream* out) {
    *out << r;
}
QT_END_NAMESPACE
