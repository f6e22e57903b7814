// SPDX-License-Identifier: MIT
#include "ui/Alert.h"

#include "ui/Theme.h"

namespace varno {

Alert::Alert(const QString& text, const QString& informativeText, QWidget* parent)
    : QMessageBox(parent) {
    setAttribute(Qt::WA_DeleteOnClose);
    setIcon(QMessageBox::Warning);
    setWindowTitle(QStringLiteral("Varno"));
    setText(text);
    setInformativeText(informativeText);
    addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    setFont(theme::bodyFont());
    setStyleSheet(theme::styleSheet());
    // Over the panel, which stays on top itself.
    setWindowFlag(Qt::WindowStaysOnTopHint);
}

void Alert::present() {
    setWindowModality(parentWidget() ? Qt::WindowModal : Qt::ApplicationModal);
    // show(), not open(): open() would make a parentless alert window-modal to
    // nothing, and exec() would block the event loop.
    show();
    raise();
    activateWindow();
}

} // namespace varno
