// Colours given as the Windows COLORREF value (0x00BBGGRR: red in the low
// byte), the form in which the window layouts state them.
#pragma once

#include <QColor>
#include <cstdint>

namespace ui {

inline QColor FromColorRef(std::uint32_t bgr) {
    return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                  static_cast<int>((bgr >> 16) & 0xFF));
}

}  // namespace ui
