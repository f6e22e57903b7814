// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>

#include <functional>

class QLabel;
class QPushButton;

namespace varno {

class ElidedLabel;

// A sign-in link that no sign-in here waits for: most likely the end of a terminal
// sign-in (`varno --sign-in`) whose browser is on this desktop. The link is useless
// here (its verifier never left the machine that started the sign-in), so the window
// only shows it, with "Copy link" and "Close"; nothing acts on it.
class SignInLinkWindow : public QDialog {
    Q_OBJECT
public:
    // writeClipboard writes plain text and tells whether it took.
    explicit SignInLinkWindow(std::function<bool(const QString&)> writeClipboard,
                              QWidget* parent = nullptr);

    // Another link replaces the one shown.
    void setLink(const QString& link);
    const QString& link() const { return link_; }

    // Shows it in front, without blocking.
    void present();
    void copyLink();

    QPushButton* copyButton() const { return copy_; }
    QPushButton* closeButton() const { return close_; }
    // The link as the window shows it (cut short when long).
    QString shownLink() const;

    // A link is shown up to this many characters, so a long one costs no more.
    static constexpr qsizetype shownLength = 200;

private:
    void fitHeight();

    std::function<bool(const QString&)> writeClipboard_;
    QString link_;
    ElidedLabel* linkLabel_;
    QLabel* result_;
    QPushButton* copy_;
    QPushButton* close_;
};

} // namespace varno
