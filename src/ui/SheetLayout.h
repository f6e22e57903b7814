// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <functional>

class QHBoxLayout;
class QPushButton;
class QVBoxLayout;
class QWidget;

namespace varno {

// What every sheet's content shares: its width, name, fonts and style, a padded column,
// and a header row that starts with the title. The sheet adds its own parts to the
// header, then finish() ends the header with "Done" and puts a divider under it.
class SheetLayout {
public:
    SheetLayout(QWidget* content, const QString& title);

    QVBoxLayout* column() const { return column_; }
    QHBoxLayout* header() const { return header_; }
    // "Done", the sheet's default button, calls onDone.
    QPushButton* finish(std::function<void()> onDone);

private:
    QWidget* content_;
    QVBoxLayout* column_;
    QHBoxLayout* header_;
};

} // namespace varno
