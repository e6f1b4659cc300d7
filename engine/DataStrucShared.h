// Small helpers the source files of the advanced engine share.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>

#include "Reporting.h"
#include "WinApi.h"

namespace DataStruc::detail {

// Scans, listings and the deep scan read 1000 sectors (512,000 bytes) per
// request.
constexpr std::uint32_t kChunkSectors = 1000;

// Characters up to the blank count as blanks and control characters and are
// trimmed at both ends.
inline std::string TrimControls(const std::string& s) {
    std::size_t a = 0, b = s.size();
    while (a < b && static_cast<unsigned char>(s[a]) <= ' ') ++a;
    while (b > a && static_cast<unsigned char>(s[b - 1]) <= ' ') --b;
    return s.substr(a, b - a);
}

// An error box: the text, the error icon and an OK button.
inline void ErrorBox(const char* text) { win::MessageBoxA(nullptr, text, "Error", win::MB_OK | win::MB_ICONERROR); }

// Position of a progress bar: the nearest integer, halves to even as the
// run-time library's Round does.
inline void SetProgress(platform::IProgressBar* bar, double position) {
    if (bar) bar->SetPosition(static_cast<int>(std::nearbyint(position)));
}

}  // namespace DataStruc::detail
