// SPDX-License-Identifier: MIT
#include "ui/SheetLayout.h"

#include "ui/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace varno {

SheetLayout::SheetLayout(QWidget* content, const QString& title) : content_(content) {
    content->setFixedWidth(theme::friendsWidth);
    content->setAccessibleName(title);
    content->setFont(theme::bodyFont());
    content->setStyleSheet(theme::styleSheet());

    column_ = new QVBoxLayout(content);
    column_->setContentsMargins(theme::friendsPadding, theme::friendsPadding, theme::friendsPadding,
                                theme::friendsPadding);
    column_->setSpacing(12);

    header_ = new QHBoxLayout();
    header_->setSpacing(8);
    auto* heading = new QLabel(title, content);
    heading->setFont(theme::headlineFont());
    header_->addWidget(heading);
}

QPushButton* SheetLayout::finish(std::function<void()> onDone) {
    auto* done = new QPushButton(QStringLiteral("Done"), content_);
    done->setDefault(true);
    QObject::connect(done, &QPushButton::clicked, content_, [onDone = std::move(onDone)] {
        if (onDone)
            onDone();
    });
    header_->addWidget(done);
    column_->addLayout(header_);
    column_->addWidget(theme::makeDivider(content_));
    return done;
}

} // namespace varno
