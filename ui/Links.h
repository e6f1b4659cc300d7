// The product's web site and support mail, opened through the desktop.
#pragma once

namespace ui {

inline constexpr const char* kWebSite = "https://vantrel.example/";
inline constexpr const char* kSupportMail = "support@vantrel.example";
inline constexpr const char* kSupportSubject = "Vantrel_v2.0_Support";

}  // namespace ui
