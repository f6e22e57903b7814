// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace varno {

// Edits the text of a freedesktop.org desktop entry (.desktop file) in its main
// "[Desktop Entry]" group, keeping every other line and group as it was.
class DesktopEntryEditor {
public:
    explicit DesktopEntryEditor(const QByteArray& text);

    // Replaces the key's value (dropping repeats of it), or adds the key right
    // after the group header (adding the header too when the text has none).
    void set(const QByteArray& key, const QByteArray& value);
    void remove(const QByteArray& key);
    // Points the entry at `executable`: Exec runs it (with `fieldCodes`, e.g. "%u",
    // after it) and TryExec names it, so desktops skip the entry once the file is gone.
    void setExecutable(const QString& executable, const QByteArray& fieldCodes = {});
    // The value of the key, trimmed (its last one when repeated); none when absent.
    std::optional<QByteArray> value(const QByteArray& key) const;
    QByteArray text() const;

    // One argument for an Exec value: kept as it is when it holds only plain
    // characters, otherwise double-quoted with ", `, $ and \ escaped, then every
    // backslash doubled because the value is itself an escaped string. A % is
    // always doubled, so a path can never turn into a field code.
    static QString execArgument(const QString& argument);
    // The program of an Exec value, undoing execArgument's quoting; empty when the
    // value is empty or its quotes do not close.
    static QString execProgram(const QByteArray& exec);
    // A value of type string, with its backslashes, line breaks, tabs and a leading
    // space escaped.
    static QByteArray stringValue(const QString& text);

private:
    // The indexes of the key's lines in the main group, in order.
    QList<qsizetype> find(const QByteArray& key) const;

    QList<QByteArray> lines_;
};

} // namespace varno
