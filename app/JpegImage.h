#pragma once

#include <QByteArray>
#include <QImage>

namespace vx::app {

// Decodes a JPEG with libjpeg; a null image when the data is not a JPEG.
QImage decodeJpeg(const QByteArray& data);

} // namespace vx::app
