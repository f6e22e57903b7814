#pragma once

#include <QImage>
#include <QUrl>
#include <QWidget>

#include <optional>

namespace varno {

class AvatarLoader;

// A person's picture in a 24-point circle. Until the picture has loaded, when it
// cannot be loaded, and when there is no address, a person silhouette stands in.
class AvatarView : public QWidget {
    Q_OBJECT
public:
    AvatarView(const std::optional<QString>& address, AvatarLoader* loader,
               QWidget* parent = nullptr);

    bool showsPicture() const { return !image_.isNull(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<QUrl> url_;
    QImage image_;
};

} // namespace varno
