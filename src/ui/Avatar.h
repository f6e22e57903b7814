// SPDX-License-Identifier: MIT
#pragma once

#include <QImage>
#include <QRectF>

class QPainter;

namespace varno {

// A person's picture drawn in a circle. Until the picture has loaded, when it cannot be
// loaded, and when there is no address, a person silhouette stands in.
namespace Avatar {

void paint(QPainter& painter, const QRectF& bounds, const QImage& picture);

} // namespace Avatar
} // namespace varno
