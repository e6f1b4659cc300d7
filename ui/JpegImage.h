// JPEG pictures of the windows (the launcher's banner, the about picture),
// decoded with libjpeg from the bytes embedded in the program.
#pragma once

#include <QImage>
#include <QString>
#include <cstdint>
#include <span>

namespace ui {

// A null image when the bytes are not a JPEG libjpeg can decode.
QImage DecodeJpeg(std::span<const std::uint8_t> bytes);
// Decodes an embedded resource (":/art/banner.jpg").
QImage LoadJpegResource(const QString& path);

}  // namespace ui
