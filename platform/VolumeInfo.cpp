#include "VolumeInfo.h"

#include <algorithm>
#include <vector>

#include "MachineProfile.h"
#include "Text.h"

namespace platform {

namespace {

std::uint32_t Le(const std::vector<std::uint8_t>& b, std::size_t off, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | (off + i < b.size() ? b[off + i] : 0u);
    return v;
}

// A type field of the boot sector, up to a NUL, trimmed, lower case.
std::string TypeField(const std::vector<std::uint8_t>& b, std::size_t off) {
    std::string s;
    for (std::size_t i = off; i < off + 8 && i < b.size() && b[i] != 0; ++i)
        s += static_cast<char>(b[i] >= 'A' && b[i] <= 'Z' ? b[i] + 32 : b[i]);
    return TrimControls(s);
}

std::vector<std::uint8_t> ReadSectors(const BackingStore& store, std::uint64_t sector, std::uint32_t count) {
    if (count == 0) return {};
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count) * 512);
    const std::int64_t n = store.Read(sector * 512, bytes.data(), bytes.size());
    bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return bytes;
}

// The NTFS volume name: the $VOLUME_NAME attribute (0x60) of file record 3.
std::string NtfsVolumeName(const BackingStore& store, const std::vector<std::uint8_t>& boot) {
    const std::int8_t clusterField = static_cast<std::int8_t>(Le(boot, 0x40, 1));
    const std::uint64_t clusterBytes = Le(boot, 0x0B, 2) * Le(boot, 0x0D, 1);
    const std::uint32_t recordBytes =
        clusterField < 0 ? (clusterField > -31 ? 1u << -clusterField : 0u) : static_cast<std::uint32_t>(clusterField * clusterBytes);
    if (recordBytes < 512 || recordBytes > 65536 || recordBytes % 512 != 0) return {};
    const std::uint64_t mft = (static_cast<std::uint64_t>(Le(boot, 0x34, 4)) << 32 | Le(boot, 0x30, 4)) * clusterBytes;
    std::vector<std::uint8_t> rec = ReadSectors(store, (mft + 3ull * recordBytes) / 512, recordBytes / 512);
    if (rec.size() < recordBytes || std::string(rec.begin(), rec.begin() + 4) != "FILE") return {};
    // Update sequence: the last two bytes of every sector hold the count
    // and the saved values follow it.
    const std::uint32_t usa = Le(rec, 4, 2), usaCount = Le(rec, 6, 2);
    for (std::uint32_t i = 1; i < usaCount && i * 512 <= rec.size() && usa + 2 * i + 1 < rec.size(); ++i) {
        rec[i * 512 - 2] = rec[usa + 2 * i];
        rec[i * 512 - 1] = rec[usa + 2 * i + 1];
    }
    for (std::uint32_t at = Le(rec, 0x14, 2); at + 24 <= rec.size();) {
        const std::uint32_t type = Le(rec, at, 4), length = Le(rec, at + 4, 4);
        if (type == 0xFFFFFFFFu || length < 24 || at + length > rec.size()) break;
        if (type == 0x60 && rec[at + 8] == 0) {
            const std::uint32_t valueLength = Le(rec, at + 0x10, 4), valueAt = at + Le(rec, at + 0x14, 2);
            std::string name;
            for (std::uint32_t i = 0; i + 1 < valueLength && valueAt + i + 1 < rec.size(); i += 2) {
                std::uint32_t c = Le(rec, valueAt + i, 2);
                if (c == 0) break;
                if (c >= 0xD800 && c <= 0xDBFF && i + 3 < valueLength) {
                    const std::uint32_t lo = Le(rec, valueAt + i + 2, 2);
                    if (lo >= 0xDC00 && lo <= 0xDFFF) {
                        c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
                        i += 2;
                    }
                }
                AppendUtf8(name, c);
            }
            return name;
        }
        at += length;
    }
    return {};
}

}  // namespace

std::optional<std::string> FatRootLabel(std::span<const std::uint8_t> entries) {
    for (std::size_t at = 0; at + 32 <= entries.size(); at += 32) {
        const std::uint8_t* e = entries.data() + at;
        if (e[0] == 0) break;
        if (e[0] == 0xE5 || e[11] == 0x0F || (e[11] & 0x08) == 0) continue;
        std::string name(reinterpret_cast<const char*>(e), 11);
        name = TrimControls(name.substr(0, name.find('\0')));
        if (!name.empty()) return name;
    }
    return std::nullopt;
}

VolumeInfo ReadVolumeInfo(const BackingStore& store) {
    VolumeInfo info;
    const std::vector<std::uint8_t> boot = ReadSectors(store, 0, 1);
    if (boot.size() < 512) return info;
    const std::string at36 = TypeField(boot, 0x36);
    const bool fat1216 = at36 == "fat12" || at36 == "fat16";
    const bool fat32 = !fat1216 && TypeField(boot, 0x52) == "fat32";
    if (fat1216 || fat32) {
        info.FileSystem = fat32 ? "FAT32" : "FAT";
        info.Serial = Le(boot, fat32 ? 0x43 : 0x27, 4);
        // The root directory: a fixed region after the FATs, or for FAT32
        // the first cluster of its chain.
        // Sector fields count the volume's own sectors: a volume of
        // 4096-byte sectors counts eight of the store's 512 in each.
        const std::uint32_t bytesPerSector = Le(boot, 0x0B, 2);
        const std::uint32_t k =
            bytesPerSector == 1024 || bytesPerSector == 2048 || bytesPerSector == 4096 ? bytesPerSector / 512 : 1;
        const std::uint32_t spc = Le(boot, 0x0D, 1) * k;
        const std::uint64_t fats = (Le(boot, 0x0E, 2) + static_cast<std::uint64_t>(Le(boot, 0x10, 1)) *
                                                           (fat32 ? Le(boot, 0x24, 4) : Le(boot, 0x16, 2))) *
                                   k;
        std::uint64_t first = fats;
        std::uint32_t sectors = std::min<std::uint32_t>((Le(boot, 0x11, 2) * 32 + 511) / 512, 64);
        if (fat32) {
            const std::uint32_t rootCluster = Le(boot, 0x2C, 4);
            first = fats + (rootCluster >= 2 ? static_cast<std::uint64_t>(rootCluster - 2) * spc : 0);
            sectors = std::min<std::uint32_t>(std::max<std::uint32_t>(spc, 1), 64);
        }
        if (auto label = FatRootLabel(ReadSectors(store, first, sectors))) info.Label = *label;
    } else if (TypeField(boot, 3) == "ntfs") {
        info.FileSystem = "NTFS";
        info.Serial = Le(boot, 0x48, 4);
        info.Label = NtfsVolumeName(store, boot);
    }
    return info;
}

}  // namespace platform
