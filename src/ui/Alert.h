// SPDX-License-Identifier: MIT
#pragma once

#include <QMessageBox>

namespace varno {

// The app's alert: a warning titled "Varno" with one "OK" button, in the panel's
// colours and font, that stays over the panel and deletes itself once dismissed.
// The panel's error and the controller's two failures all look like this.
class Alert : public QMessageBox {
    Q_OBJECT
public:
    Alert(const QString& text, const QString& informativeText, QWidget* parent = nullptr);

    // Puts it up without blocking the event loop. Window-modal over its parent; without
    // one it is application-modal, since nothing else should go on until it is read.
    void present();
};

} // namespace varno
