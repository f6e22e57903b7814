// SPDX-License-Identifier: MIT
#pragma once

#include <QWidget>

namespace varno {

// One line of text, cut with an ellipsis when it does not fit. The full text is
// still what accessibility and tests read.
class ElidedLabel : public QWidget {
    Q_OBJECT
public:
    explicit ElidedLabel(const QString& text, QWidget* parent = nullptr);

    QString text() const { return text_; }
    void setText(const QString& text);
    // The text as it is drawn at the current width.
    QString displayedText() const;
    void setColour(const QColor& colour);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    QColor colour_;
};

} // namespace varno
