// SPDX-License-Identifier: MIT
#pragma once

#include <QElapsedTimer>
#include <QMargins>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>

#include <chrono>
#include <functional>

class QScreen;

namespace varno {

// Whether the panel is open, as the content sees it: true from showRelativeTo() until
// orderOut(). The main view uses it to run its refresh only while on screen.
class PanelVisibility : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    bool isVisible() const { return visible_; }
    void setVisible(bool visible);

signals:
    void isVisibleChanged(bool visible);

private:
    bool visible_ = false;
};

// The floating panel that hangs from the tray icon: a frameless, translucent tool
// window that stays on top, drawn as a rounded frosted card with a soft shadow. It
// sizes itself to its content (never taller than the screen's free area) and closes on Escape, on a
// click elsewhere in the app and when it loses activation (unless one of its own dialogs or menus
// is up).
class GlassPanel : public QWidget {
    Q_OBJECT
public:
    // Builds the content once, at construction; the panel owns it.
    using ContentBuilder = std::function<QWidget*(PanelVisibility* visibility)>;

    explicit GlassPanel(const ContentBuilder& content, QWidget* parent = nullptr);
    ~GlassPanel() override;

    // Opens the panel under (or, for a bottom bar, above) the anchor, given in global
    // coordinates: the tray icon's area, or a point as an empty rectangle. Calling it
    // while open moves the panel to the new anchor and keeps it open.
    void showRelativeTo(const QRect& anchor);
    // Closes the panel; every way of closing goes through here.
    void orderOut();

    PanelVisibility* visibility() const { return visibility_; }
    QWidget* content() const { return content_; }
    // The card's size: the content's size hint, initially 320 x 100.
    QSize contentSize() const { return contentSize_; }
    // Where the card is on screen (the window also holds the shadow around it).
    QRect cardGeometry() const;

    // True when the panel closed itself because of an outside click or lost activation
    // within the given time. A tray click that took activation away has then already
    // closed the panel, and should not open it again.
    bool dismissedWithin(std::chrono::milliseconds interval) const;

signals:

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void updateContentSize();
    QScreen* anchorScreen() const;
    void positionPanel();
    void dismiss();
    void forgetOpening();
    void checkActivation();
    bool ownsActiveSheetOrMenu() const;
    bool ownsWindow(const QWidget* window) const;

    PanelVisibility* visibility_;
    QWidget* content_ = nullptr;
    QSize contentSize_{320, 100};
    QRect anchor_;
    bool hasAnchor_ = false;
    bool translucent_ = true;
    QMargins margins_;
    bool filtering_ = false;
    QElapsedTimer dismissedAt_;
};

} // namespace varno
