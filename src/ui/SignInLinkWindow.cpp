// SPDX-License-Identifier: MIT
#include "ui/SignInLinkWindow.h"

#include "ui/ElidedLabel.h"
#include "ui/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace varno {

SignInLinkWindow::SignInLinkWindow(std::function<bool(const QString&)> writeClipboard,
                                   QWidget* parent)
    : QDialog(parent), writeClipboard_(std::move(writeClipboard)) {
    setWindowTitle(QStringLiteral("Varno"));
    setFont(theme::bodyFont());
    setStyleSheet(theme::styleSheet());
    // It answers a link the browser just handed over: in front of the browser.
    setWindowFlag(Qt::WindowStaysOnTopHint);
    setModal(false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(theme::friendsPadding, theme::friendsPadding, theme::friendsPadding,
                               theme::friendsPadding);
    layout->setSpacing(10);

    auto* headline = new QLabel(
        QStringLiteral("This sign-in link belongs to a sign-in started elsewhere"), this);
    headline->setFont(theme::headlineFont());
    headline->setWordWrap(true);
    layout->addWidget(headline);

    auto* explanation = new QLabel(
        QStringLiteral("No sign-in is waiting for it here. If you are signing in from a "
                       "terminal (varno --sign-in), on this computer or another one, copy the "
                       "link and paste it there."),
        this);
    explanation->setWordWrap(true);
    layout->addWidget(explanation);

    linkLabel_ = new ElidedLabel(QString(), this);
    linkLabel_->setColour(theme::secondaryText());
    layout->addWidget(linkLabel_);

    result_ = new QLabel(this);
    theme::useSecondaryColour(result_);
    result_->hide();
    layout->addWidget(result_);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    close_ = new QPushButton(QStringLiteral("Close"), this);
    close_->setAutoDefault(false);
    connect(close_, &QPushButton::clicked, this, &QDialog::close);
    buttons->addWidget(close_);
    copy_ = new QPushButton(QStringLiteral("Copy link"), this);
    copy_->setDefault(true);
    connect(copy_, &QPushButton::clicked, this, &SignInLinkWindow::copyLink);
    buttons->addWidget(copy_);
    layout->addLayout(buttons);

    setFixedWidth(theme::signedInWidth + 2 * theme::friendsPadding);
}

void SignInLinkWindow::setLink(const QString& link) {
    link_ = link;
    linkLabel_->setText(shownLink());
    linkLabel_->setToolTip(shownLink());
    result_->hide();
    fitHeight();
}

QString SignInLinkWindow::shownLink() const {
    return link_.size() > shownLength ? link_.left(shownLength) + QStringLiteral("…") : link_;
}

void SignInLinkWindow::fitHeight() {
    // Wrapped text needs the height that goes with the fixed width.
    layout()->activate();
    setFixedHeight(layout()->totalHeightForWidth(width()));
}

void SignInLinkWindow::present() {
    fitHeight();
    show();
    raise();
    activateWindow();
}

void SignInLinkWindow::copyLink() {
    const bool copied = writeClipboard_ && writeClipboard_(link_);
    result_->setText(copied ? QStringLiteral("Copied. Paste it where the sign-in waits.")
                            : QStringLiteral("Could not copy the link."));
    result_->show();
    fitHeight();
}

} // namespace varno
