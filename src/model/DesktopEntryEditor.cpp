// SPDX-License-Identifier: MIT
#include "model/DesktopEntryEditor.h"

namespace varno {

namespace {

const QByteArray mainGroup = "[Desktop Entry]";

// Undoes DesktopEntryEditor::stringValue (an unknown escape is kept as it is).
QString unescapedString(const QByteArray& value) {
    QByteArray text;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char c = value.at(i);
        if (c != '\\' || i + 1 == value.size()) {
            text += c;
            continue;
        }
        switch (const char next = value.at(++i)) {
        case 's':
            text += ' ';
            break;
        case 'n':
            text += '\n';
            break;
        case 't':
            text += '\t';
            break;
        case 'r':
            text += '\r';
            break;
        case '\\':
            text += '\\';
            break;
        default:
            text += '\\';
            text += next;
        }
    }
    return QString::fromUtf8(text);
}

} // namespace

DesktopEntryEditor::DesktopEntryEditor(const QByteArray& text) : lines_(text.split('\n')) {}

QList<qsizetype> DesktopEntryEditor::find(const QByteArray& key) const {
    QList<qsizetype> found;
    bool inMainGroup = false;
    for (qsizetype i = 0; i < lines_.size(); ++i) {
        const QByteArray& line = lines_.at(i);
        if (line.startsWith('[')) {
            inMainGroup = line.trimmed() == mainGroup;
            continue;
        }
        if (!inMainGroup || !line.startsWith(key))
            continue;
        // "Key=value" or "Key = value", but not "KeyOther=" or "Key[de]=".
        const QByteArray rest = line.mid(key.size()).trimmed();
        if (rest.startsWith('='))
            found.append(i);
    }
    return found;
}

void DesktopEntryEditor::set(const QByteArray& key, const QByteArray& value) {
    const QByteArray line = key + '=' + value;
    if (const QList<qsizetype> at = find(key); !at.isEmpty()) {
        lines_[at.first()] = line;
        for (qsizetype i = at.size() - 1; i > 0; --i)
            lines_.removeAt(at.at(i));
        return;
    }
    qsizetype header = -1;
    for (qsizetype i = 0; i < lines_.size() && header < 0; ++i)
        if (lines_.at(i).trimmed() == mainGroup)
            header = i;
    if (header < 0) {
        lines_.insert(0, mainGroup);
        header = 0;
    }
    lines_.insert(header + 1, line);
}

void DesktopEntryEditor::remove(const QByteArray& key) {
    const QList<qsizetype> at = find(key);
    for (qsizetype i = at.size() - 1; i >= 0; --i)
        lines_.removeAt(at.at(i));
}

void DesktopEntryEditor::setExecutable(const QString& executable, const QByteArray& fieldCodes) {
    QByteArray exec = execArgument(executable).toUtf8();
    if (!fieldCodes.isEmpty())
        exec += ' ' + fieldCodes;
    set("Exec", exec);
    set("TryExec", stringValue(executable));
}

std::optional<QByteArray> DesktopEntryEditor::value(const QByteArray& key) const {
    // A repeated key counts with its last value, as desktops read it.
    const QList<qsizetype> at = find(key);
    if (at.isEmpty())
        return std::nullopt;
    const QByteArray& line = lines_.at(at.last());
    return line.mid(line.indexOf('=') + 1).trimmed();
}

QByteArray DesktopEntryEditor::text() const {
    return lines_.join('\n');
}

QString DesktopEntryEditor::execArgument(const QString& argument) {
    static const QString reserved = QStringLiteral(" \t\n\r\"'\\><~|&;$*?#()`=%");
    bool plain = true;
    for (QChar c : argument)
        if (reserved.contains(c))
            plain = false;
    if (plain)
        return argument;
    QString quoted;
    for (QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        if (c == u'%')
            quoted += u'%';
        quoted += c;
    }
    // The value is a string too: a line break must not end it.
    return QString::fromUtf8(stringValue(u'"' + quoted + u'"'));
}

QByteArray DesktopEntryEditor::stringValue(const QString& text) {
    QByteArray escaped;
    const QByteArray utf8 = text.toUtf8();
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const char c = utf8.at(i);
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '\n')
            escaped += "\\n";
        else if (c == '\t')
            escaped += "\\t";
        else if (c == '\r')
            escaped += "\\r";
        else if (c == ' ' && i == 0)
            escaped += "\\s";
        else
            escaped += c;
    }
    return escaped;
}

QString DesktopEntryEditor::execProgram(const QByteArray& exec) {
    // First the value's own string escapes, then the Exec quoting.
    QString value = unescapedString(exec.trimmed());
    if (value.isEmpty())
        return {};
    if (value.front() != u'"') {
        const qsizetype end = value.indexOf(u' ');
        return (end < 0 ? value : value.left(end))
            .replace(QStringLiteral("%%"), QStringLiteral("%"));
    }
    QString program;
    for (qsizetype i = 1; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c == u'"')
            return program;
        if (c == u'\\' && i + 1 < value.size()) {
            program += value.at(++i);
            continue;
        }
        if (c == u'%' && i + 1 < value.size() && value.at(i + 1) == u'%')
            ++i;
        program += c;
    }
    return {}; // the quote never closed
}

} // namespace varno
