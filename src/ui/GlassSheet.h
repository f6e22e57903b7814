#pragma once

#include <QDialog>
#include <QMargins>

namespace varno {

// A window-modal dialog drawn as a glass card, attached to the top of the window it
// belongs to (for the panel: centred over the panel's card), like a sheet. It sizes
// itself to its content; Escape rejects it and Return presses its default button.
class GlassSheet : public QDialog {
    Q_OBJECT
public:
    GlassSheet(QWidget* content, QWidget* parent);

    QWidget* content() const { return content_; }
    // Where the card is on screen (the window also holds the shadow around it).
    QRect cardGeometry() const;

    // Shows it as a sheet without blocking: window-modal, and placed on its parent.
    void present();

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void place();
    void pressDefaultButton();

    QWidget* content_;
    QMargins margins_;
    bool translucent_ = true;
};

} // namespace varno
