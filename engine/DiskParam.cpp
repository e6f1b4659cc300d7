#include "DiskParam.h"

#include <cctype>
#include <string>

namespace {

// Eight characters at the offset, up to the first NUL, lower-cased, with
// characters up to the blank trimmed at both ends.
std::string TypeField(std::span<const std::uint8_t> sector, std::size_t offset) {
    std::string s;
    for (std::size_t i = 0; i < 8 && offset + i < sector.size(); ++i) {
        const std::uint8_t c = sector[offset + i];
        if (c == 0) break;
        s += static_cast<char>(std::tolower(c));
    }
    std::size_t a = 0, b = s.size();
    while (a < b && static_cast<unsigned char>(s[a]) <= ' ') ++a;
    while (b > a && static_cast<unsigned char>(s[b - 1]) <= ' ') --b;
    return s.substr(a, b - a);
}

}  // namespace

TFsType DetectFileSystem(std::span<const std::uint8_t> bootSector) {
    const std::string at36 = TypeField(bootSector, 0x36);
    if (at36 == "fat12") return vt::fsFat12;
    if (at36 == "fat16") return vt::fsFat16;
    if (TypeField(bootSector, 0x52) == "fat32") return vt::fsFat32;
    if (TypeField(bootSector, 3) == "ntfs") return vt::fsNtfs;
    return vt::fsUnknown;
}
