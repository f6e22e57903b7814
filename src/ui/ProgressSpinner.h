// SPDX-License-Identifier: MIT
#pragma once

#include <QTimer>
#include <QWidget>

namespace varno {

// An indeterminate progress indicator: a ring of fading spokes. It animates only
// while it is on screen, so a hidden panel costs no CPU.
class ProgressSpinner : public QWidget {
    Q_OBJECT
public:
    enum class Size { Mini, Small };
    explicit ProgressSpinner(Size size, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    bool isAnimating() const { return timer_.isActive(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    int diameter_;
    int step_ = 0;
    QTimer timer_;
};

} // namespace varno
