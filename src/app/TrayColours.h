// SPDX-License-Identifier: MIT
#pragma once

#include <QColor>
#include <QObject>

#include <memory>
#include <optional>

namespace varno {

// The foreground colour that the system tray asks its icons to use, where the tray
// publishes one (X11 trays set _NET_SYSTEM_TRAY_COLORS on their manager window; Xfce's
// panel does, for its light or dark style). It describes the very bar the icon sits
// in, so it is the surest guide to a readable icon.
class TrayColourWatcher : public QObject {
    Q_OBJECT
public:
    explicit TrayColourWatcher(QObject* parent = nullptr);
    ~TrayColourWatcher() override;

    std::optional<QColor> foreground() const { return foreground_; }
    // Reads the colours again, and watches the tray that now runs (a tray host may
    // have started, or been replaced, since).
    void refresh();

    // _NET_SYSTEM_TRAY_COLORS holds 12 values: red, green and blue (16 bits each) of
    // the foreground, error, warning and success colours. The foreground, or none.
    static std::optional<QColor> foregroundFrom(const QList<quint32>& values);

signals:
    void foregroundChanged();

private:
    class Watch;
    void setForeground(std::optional<QColor> colour);

    std::unique_ptr<Watch> watch_;
    std::optional<QColor> foreground_;
};

} // namespace varno
