// SPDX-License-Identifier: MIT
#pragma once

#include <QPointer>
#include <QWidget>

namespace varno {

// A sheet drawn inside the panel, over everything the panel shows, as an opaque card
// (no window of its own, so it sits right on the panel on every platform, Wayland
// included). While it is up, what lies beneath is out of reach: hidden from the
// keyboard and from screen readers, and covered for the pointer. Tab cycles through
// the sheet's controls; Escape closes it; Return presses the focused button, or the
// default button when the focus is elsewhere. The host asks sizeHint() for the room it
// needs and gives it at least the host's own size.
class GlassSheet : public QWidget {
    Q_OBJECT
public:
    GlassSheet(QWidget* content, const QString& title, QWidget* host);

    QWidget* content() const { return content_; }
    QString title() const { return title_; }

    // Shows it over the host, and gives the focus to its default button.
    void present();
    // Takes it away and gives the focus back to what had it before; finished() follows.
    void dismiss();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void finished();

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    QList<QWidget*> focusStops() const;
    void pressDefaultButton();

    QWidget* content_;
    QString title_;
    QPointer<QWidget> focusBefore_;
};

} // namespace varno
