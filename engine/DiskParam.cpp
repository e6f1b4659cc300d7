#include "DiskParam.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstring>
#include <ctime>
#include <exception>
#include <stdexcept>
#include <string_view>

#include <iconv.h>

#include "DiskUtils.h"
#include "System.h"
#include "WinApi.h"
#include "WriteBehind.h"

std::string AppDir;
std::string FolderTypeName;

const std::array<TFileSignature, 34> FileSignatures = {{
    {"#$%", {0x2E, 0x20}}, {"exe", {0x4D, 0x5A}}, {"dll", {0x4D, 0x5A}}, {"gif", {0x47, 0x49}},
    {"zip", {0x50, 0x4B}}, {"pdf", {0x25, 0x50}}, {"bmp", {0x42, 0x4D}}, {"ocx", {0x4D, 0x5A}},
    {"rm", {0x2E, 0x52}},  {"ani", {0x52, 0x49}}, {"fon", {0x4D, 0x5A}}, {"chm", {0x49, 0x54}},
    {"wav", {0x52, 0x49}}, {"bpl", {0x4D, 0x5A}}, {"tlb", {0x4D, 0x53}}, {"vxd", {0x4D, 0x5A}},
    {"rar", {0x52, 0x61}}, {"jpg", {0xFF, 0xD8}}, {"sfx", {0x4D, 0x5A}}, {"scp", {0x3B, 0x0D}},
    {"toc", {0x3A, 0x42}}, {"hlp", {0x3F, 0x5F}}, {"png", {0x89, 0x50}}, {"dwg", {0x41, 0x43}},
    {"pas", {0x75, 0x6E}}, {"dpr", {0x70, 0x72}}, {"dfm", {0x6F, 0x62}}, {"avi", {0x52, 0x49}},
    {"wma", {0x30, 0x26}}, {"icl", {0x4D, 0x5A}}, {"doc", {0xD0, 0xCF}}, {"xls", {0xD0, 0xCF}},
    {"mdb", {0x00, 0x01}}, {"ppt", {0xD0, 0xCF}},
}};

namespace {

std::string TrimBlanks(std::string s) {
    std::size_t a = 0, b = s.size();
    while (a < b && static_cast<unsigned char>(s[a]) <= ' ') ++a;
    while (b > a && static_cast<unsigned char>(s[b - 1]) <= ' ') --b;
    return s.substr(a, b - a);
}

// Eight characters at the offset, up to the first NUL, lower-cased, with
// characters up to the blank trimmed at both ends.
std::string TypeField(std::span<const std::uint8_t> sector, std::size_t offset) {
    std::string s;
    for (std::size_t i = 0; i < 8 && offset + i < sector.size(); ++i) {
        const std::uint8_t c = sector[offset + i];
        if (c == 0) break;
        s += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
    return TrimBlanks(s);
}

// Length of the valid UTF-8 sequence at s[i], 0 when none starts there.
std::size_t Utf8SequenceAt(const std::string& s, std::size_t i) {
    const auto u = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = u(i);
    if (c < 0x80) return 1;
    std::size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? (c <= 0xEF ? 3 : 0) : c >= 0xC2 ? 2 : 0;
    if (n == 0 || s.size() - i < n) return 0;
    for (std::size_t k = 1; k < n; ++k)
        if ((u(i + k) & 0xC0) != 0x80) return 0;
    if (n == 3 && c == 0xE0 && u(i + 1) < 0xA0) return 0;
    if (n == 4 && c == 0xF0 && u(i + 1) < 0x90) return 0;
    if (n == 4 && c == 0xF4 && u(i + 1) > 0x8F) return 0;
    return n;
}

bool IsValidUtf8(const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = Utf8SequenceAt(s, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

// Short names are in the OEM code page of the system that wrote them; the
// Chinese systems this program grew up on used code page 936 (GBK). Bytes
// that are neither UTF-8 nor GBK are kept as Latin-1 letters, so the name
// stays readable and distinct.
std::string OemToUtf8(const std::string& raw) {
    if (IsValidUtf8(raw)) return raw;
    iconv_t cd = iconv_open("UTF-8", "GBK");
    if (cd != reinterpret_cast<iconv_t>(-1)) {
        std::string in = raw;
        std::string out(in.size() * 4 + 4, '\0');
        char* ip = in.data();
        char* op = out.data();
        std::size_t il = in.size(), ol = out.size();
        const std::size_t r = iconv(cd, &ip, &il, &op, &ol);
        iconv_close(cd);
        if (r != static_cast<std::size_t>(-1) && il == 0) {
            out.resize(out.size() - ol);
            return out;
        }
    }
    std::string out;
    for (unsigned char c : raw) vt::AppendUtf8(out, c);
    return out;
}

// UTF-16 to UTF-8 without loss: a surrogate without its partner (a name
// character split over two long-name pieces, or a damaged entry) is kept in
// its three-byte form, which JoinUtf8 pairs up again.
std::string Utf16ToUtf8(const std::vector<std::uint16_t>& units) {
    std::string out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const std::uint32_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            vt::AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00));
            ++i;
        } else {
            vt::AppendUtf8(out, u);
        }
    }
    return out;
}

// front + back, where a high surrogate ending front and a low surrogate
// starting back become the one character they encode.
std::string JoinUtf8(const std::string& front, const std::string& back) {
    const auto b = [](const std::string& s, std::size_t k) { return static_cast<unsigned char>(s[k]); };
    if (front.size() >= 3 && back.size() >= 3) {
        const std::size_t f = front.size() - 3;
        if (b(front, f) == 0xED && (b(front, f + 1) & 0xF0) == 0xA0 && b(back, 0) == 0xED &&
            (b(back, 1) & 0xF0) == 0xB0) {
            const std::uint32_t hi = 0xD000 | ((b(front, f + 1) & 0x3F) << 6) | (b(front, f + 2) & 0x3F);
            const std::uint32_t lo = 0xD000 | ((b(back, 1) & 0x3F) << 6) | (b(back, 2) & 0x3F);
            std::string out = front.substr(0, f);
            vt::AppendUtf8(out, 0x10000 + ((hi - 0xD800) << 10) + (lo - 0xDC00));
            out += back.substr(3);
            return out;
        }
    }
    return front + back;
}

// The 8 name bytes up to the first NUL and the 3 extension bytes, trimmed,
// joined with "." when the extension is not empty; the raw OEM bytes.
std::string RawShortName(const TFatDirEntry& e) {
    std::string base;
    for (std::uint8_t c : e.Name) {
        if (c == 0) break;
        base += static_cast<char>(c);
    }
    base = TrimBlanks(base);
    const std::string ext = TrimBlanks(std::string(e.Ext.begin(), e.Ext.end()));
    if (!ext.empty()) base += "." + ext;
    return base;
}

std::string EntryName(const TMidEntry& entry, char deletionMark) {
    if (!entry.LongName.empty()) return entry.LongName;
    return FatShortName(entry.DirEntry, deletionMark);
}

bool PathTaken(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// Days from 30 December 1899 to the date; the calendar check is the caller's.
double DateValue(int year, unsigned month, unsigned day) {
    using namespace std::chrono;
    const sys_days d{std::chrono::year{year} / std::chrono::month{month} / std::chrono::day{day}};
    return static_cast<double>(d.time_since_epoch().count()) + 25569.0;  // 1899-12-30 .. 1970-01-01
}

struct DosFields {
    int year;
    unsigned month, day, hour, minute, second;
    bool InRange() const {
        return year <= 2050 && month >= 1 && month <= 12 && day != 0 && hour <= 24 && minute <= 60 && second <= 60;
    }
    bool RealDateTime() const {
        const std::chrono::year_month_day ymd{std::chrono::year{year} / std::chrono::month{month} /
                                              std::chrono::day{day}};
        return ymd.ok() && hour < 24 && minute < 60 && second < 60;
    }
    double Value() const { return DateValue(year, month, day) + (hour * 3600.0 + minute * 60.0 + second) / 86400.0; }
};

DosFields SplitDos(std::uint16_t date, std::uint16_t time) {
    return {1980 + (date >> 9), (date >> 5) & 15u, date & 31u, static_cast<unsigned>(time >> 11),
            (time >> 5) & 63u, 2u * (time & 31u)};
}

// The recursive matcher: (n, m) are the positions in name and mask. The
// answer at a position pair never changes, so failures are remembered; a
// mask of many stars then costs at most name x mask steps, not an
// exponential number of retries.
class WildcardMatcher {
public:
    WildcardMatcher(const std::string& name, const std::string& mask) : name_(name), mask_(mask) {
        failed_.assign((name_.size() + 1) * (mask_.size() + 1), false);
    }
    bool Match(std::size_t n, std::size_t m) {
        if (mask_.size() - m == 1 && mask_[m] == '*') return true;
        if (n == name_.size()) return m == mask_.size();
        if (m == mask_.size()) return false;
        std::vector<bool>::reference failed = failed_[n * (mask_.size() + 1) + m];
        if (failed) return false;
        bool result;
        if (mask_[m] == '*') {
            result = Match(n, m + 1) || Match(n + 1, m);
        } else if (mask_[m] == '?') {
            result = Match(n + 1, m + 1);
        } else {
            result = mask_[m] == name_[n] && Match(n + 1, m + 1);
        }
        if (!result) failed_[n * (mask_.size() + 1) + m] = true;
        return result;
    }

private:
    const std::string& name_;
    const std::string& mask_;
    std::vector<bool> failed_;
};

// The classic buffers of 255 characters and a terminator.
std::string AsCharBuffer(const std::string& s) {
    std::string r = s.substr(0, std::min<std::size_t>(s.find('\0'), 255));
    return r;
}

std::string FormatFixed2(double v, const char* unit) {
    char buf[64];
    auto [p, ec] = std::to_chars(buf, buf + sizeof buf - 8, v, std::chars_format::fixed, 2);
    if (ec != std::errc()) return std::string("0.00") + unit;
    return std::string(buf, p) + unit;
}

void ErrorBox(const std::string& text) { win::MessageBoxA(nullptr, text.c_str(), "Error", win::MB_OK | win::MB_ICONERROR); }

}  // namespace

// ----------------------------------------------------------------- routines

TFsType DetectFileSystem(std::span<const std::uint8_t> bootSector) {
    const std::string at36 = TypeField(bootSector, 0x36);
    if (at36 == "fat12") return vt::fsFat12;
    if (at36 == "fat16") return vt::fsFat16;
    if (TypeField(bootSector, 0x52) == "fat32") return vt::fsFat32;
    if (TypeField(bootSector, 3) == "ntfs") return vt::fsNtfs;
    return vt::fsUnknown;
}

namespace {

// The characters of one long-name piece (13 UTF-16 units at bytes 1-10,
// 14-25 and 28-31) up to the name's end: a 0x0000 unit, or the 0xFFFF
// padding after it. The 16-bit unit is compared: U+4EFF or U+00FF are
// characters like any other. ends tells whether the name ends in it.
std::string LongNamePiece(std::span<const std::uint8_t, 32> entry, bool& ends) {
    static constexpr std::size_t kUnits[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    std::vector<std::uint16_t> units;
    ends = false;
    for (std::size_t at : kUnits) {
        const std::uint16_t u = vt::LoadLe16(entry.data() + at);
        if (u == 0x0000 || u == 0xFFFF) {
            ends = true;
            break;
        }
        units.push_back(u);
    }
    return Utf16ToUtf8(units);
}

}  // namespace

TFsType DetectFatType(std::span<const std::uint8_t> bootSector) {
    if (bootSector.size() < 512) return vt::fsUnknown;
    const TFsType byString = DetectFileSystem(bootSector);
    if (byString == vt::fsNtfs) return vt::fsUnknown;
    const bool saysFat = byString != vt::fsUnknown || TypeField(bootSector, 0x36) == "fat" ||
                         TypeField(bootSector, 0x52) == "fat";
    const vt::ByteReader b(bootSector);
    const std::uint32_t bytesPerSector = b.U16Or(0x0B), sectorsPerCluster = b.U8Or(0x0D);
    const std::uint32_t reserved = b.U16Or(0x0E), fats = b.U8Or(0x10), rootEntries = b.U16Or(0x11);
    const std::uint32_t media = b.U8Or(0x15);
    const std::uint64_t total = b.U16Or(0x13) ? b.U16Or(0x13) : b.U32Or(0x20);
    const std::uint64_t fatSize = b.U16Or(0x16) ? b.U16Or(0x16) : b.U32Or(0x24);
    const auto powerOfTwo = [](std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; };
    const bool looksFat = (bootSector[0] == 0xEB || bootSector[0] == 0xE9) && bytesPerSector >= 512 &&
                          bytesPerSector <= 4096 && powerOfTwo(bytesPerSector) && powerOfTwo(sectorsPerCluster) &&
                          reserved >= 1 && fats >= 1 && fatSize >= 1 && (media == 0xF0 || media >= 0xF8);
    if (!saysFat && !looksFat) return vt::fsUnknown;
    // The FAT32 layout gives its FAT size at 0x24 only: a FAT12/16 volume
    // has none there. Such a volume is FAT32 whatever its count (as Linux
    // reads it; mkfs.fat makes small ones).
    if (b.U16Or(0x16) == 0 && b.U32Or(0x24) != 0) return vt::fsFat32;
    // The count: data sectors (after the reserved sectors, the FATs and the
    // root's whole sectors) in whole clusters.
    if (bytesPerSector >= 32 && sectorsPerCluster && fats && fatSize) {
        const std::uint64_t rootSectors = (std::uint64_t{rootEntries} * 32 + bytesPerSector - 1) / bytesPerSector;
        const std::uint64_t meta = reserved + fats * fatSize + rootSectors;
        if (total > meta) {
            const std::uint64_t clusters = (total - meta) / sectorsPerCluster;
            if (clusters < 4085) return vt::fsFat12;
            if (clusters < 65525) return vt::fsFat16;
            // More clusters than FAT16 holds, but without the FAT32 fields:
            // only the string can tell.
            return byString;
        }
    }
    return byString;
}

TFsType DetectVolumeType(std::span<const std::uint8_t> bootSector) {
    // A changed byte in "FAT16   " leaves a volume whose fields all hold.
    return DetectFileSystem(bootSector) == vt::fsNtfs ? vt::fsNtfs : DetectFatType(bootSector);
}

std::uint8_t TUndelete::DecodeLfnEntry(std::span<const std::uint8_t, 32> Entry, std::string& LongName,
                                       std::int32_t& Checksum) {
    if (Entry[11] != vt::fat::kAttrLongName) {
        Checksum = -1;
        return 0;
    }
    const std::int32_t sum = Entry[13];
    std::uint8_t result = 2;
    if (sum != Checksum) {
        LongName.clear();
        result = 1;
    }
    Checksum = sum;
    // Pieces stand from the last characters to the first: each goes in front.
    bool ends = false;
    LongName = JoinUtf8(LongNamePiece(Entry, ends), LongName);
    return result;
}

std::uint8_t vt::fat::ShortNameChecksum(std::span<const std::uint8_t, 11> Name) {
    std::uint8_t sum = 0;
    for (std::uint8_t c : Name) sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + c);
    return sum;
}

bool vt::fat::TLongNameRun::Add(std::span<const std::uint8_t, 32> Entry) {
    if (Entry[11] != kAttrLongName) return false;
    const std::uint8_t ord = Entry[0];
    const std::int32_t sum = Entry[13];
    bool ends = false;
    const std::string piece = LongNamePiece(Entry, ends);
    const bool deleted = ord == kDeletedMark;
    const unsigned seq = ord & 0x1F;
    // A piece that begins a name: flagged last (present), or any deleted
    // piece that does not continue the deleted run before it.
    bool continues = false;
    if (active_ && valid_ && sum == checksum_ && deleted == deleted_ && pieces_ < kMaxLongNamePieces) {
        // A piece in front of others holds 13 characters: only the first
        // piece of the run (the name's last characters) may end the name.
        if (deleted)
            continues = !ends;
        else
            continues = (ord & 0xE0) == 0 && seq == expect_ && seq >= 1 && !ends;
    }
    if (continues) {
        name_ = JoinUtf8(piece, name_);
        ++pieces_;
        if (!deleted) expect_ = seq - 1;
        return true;
    }
    // A deleted piece with the run's checksum that ends the name stands
    // where it cannot: the pieces are out of order.
    if (deleted && active_ && deleted_ && sum == checksum_) {
        valid_ = false;
        return true;
    }
    active_ = true;
    name_ = piece;
    checksum_ = sum;
    pieces_ = 1;
    deleted_ = deleted;
    if (deleted) {
        valid_ = true;
        expect_ = 0;
    } else {
        // Only the piece flagged last can begin a present name; anything
        // else here is a piece out of order or one whose first piece is gone.
        valid_ = (ord & 0xA0) == 0 && (ord & 0x40) != 0 && seq >= 1 && seq <= kMaxLongNamePieces;
        expect_ = seq - 1;
    }
    return true;
}

std::string vt::fat::TLongNameRun::Take(std::span<const std::uint8_t, 32> ShortEntry) {
    const bool gathered = active_ && valid_;
    active_ = false;
    valid_ = false;
    std::string name;
    name.swap(name_);
    if (!gathered) return {};
    std::array<std::uint8_t, 11> shortName;
    std::copy(ShortEntry.begin(), ShortEntry.begin() + 11, shortName.begin());
    const bool shortDeleted = shortName[0] == kDeletedMark;
    // A slot never used (first byte 0) carries no name.
    if (shortName[0] == 0 || shortDeleted != deleted_) return {};
    if (!deleted_) return expect_ == 0 && ShortNameChecksum(shortName) == checksum_ ? name : std::string();
    // The deletion mark took the first byte: some byte that may begin a
    // short name (0x05 standing for 0xE5) must give the checksum.
    static constexpr std::string_view kNotInShortNames = "\"*+,./:;<=>?[\\]|";
    for (unsigned b = 0x05; b <= 0xFF; ++b) {
        if (b != 0x05 && (b <= 0x20 || b == 0x7F || b == kDeletedMark ||
                          kNotInShortNames.find(static_cast<char>(b)) != std::string_view::npos))
            continue;
        shortName[0] = static_cast<std::uint8_t>(b);
        if (ShortNameChecksum(shortName) == checksum_) return name;
    }
    return {};
}

namespace {
char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }
}  // namespace

// The case of names without a long name, from NTRes: FAT12/16 volumes of
// this program's systems show an 8.3 name capitalised unless NTRes asks for
// lower case; FAT32 shows it as stored unless the base-name bit alone is set.
// Letters change case where they stand: every byte keeps its place (a first
// byte 0x05, the stored form of 0xE5, is a character like any other), and
// the second byte of a double-byte character is not a letter.
void vt::fat::ApplyCaseRule(TFatDirEntry& e, TFsType type) {
    enum Rule { Keep, Lowercase, Capitalise } rule = Keep;
    if (type == vt::fsFat32) {
        if (e.NTRes == 0x08) rule = Lowercase;
    } else if (e.NTRes == 0) {
        rule = Capitalise;
    } else if (e.NTRes == 0x08 || e.NTRes == 0x18) {
        rule = Lowercase;
    }
    if (rule == Keep) return;
    // A name that is not UTF-8 is read as GBK (see OemToUtf8): there the
    // byte after a lead byte is the second half of one character, and may
    // lie in A to Z without being a letter.
    std::string raw(e.Name.begin(), e.Name.end());
    raw.append(e.Ext.begin(), e.Ext.end());
    // A deleted entry's mark stands where its first character was: no lead
    // byte. 0x05 stands for a first byte 0xE5, one.
    const bool deleted = e.Name[0] == vt::fat::kDeletedMark;
    if (deleted) raw[0] = '_';
    if (raw[0] == 0x05) raw[0] = static_cast<char>(vt::fat::kDeletedMark);
    const bool doubleBytes = !IsValidUtf8(raw);
    const auto trailOfPair = [&](auto at, auto begin, bool first) {
        if (!doubleBytes || at == begin) return false;
        if (at - 1 == begin && first && deleted) return false;
        const unsigned lead = at - 1 == begin && first && *begin == 0x05 ? 0xE5u : *(at - 1);
        return lead >= 0x81 && lead <= 0xFE && *at >= 0x40 && *at <= 0xFE && *at != 0x7F;
    };
    const auto end = std::find(e.Name.begin(), e.Name.end(), std::uint8_t{0});
    bool first = true, pairDone = false;
    for (auto c = e.Name.begin(); c != end; ++c) {
        const bool blank = *c == ' ' || (*c < ' ' && !(c == e.Name.begin() && *c == 0x05));
        const bool trail = !pairDone && trailOfPair(c, e.Name.begin(), true);
        pairDone = trail;
        if (!trail)
            *c = static_cast<std::uint8_t>(rule == Capitalise && first && !blank ? AsciiUpper(static_cast<char>(*c))
                                                                              : AsciiLower(static_cast<char>(*c)));
        if (!blank) first = false;
    }
    pairDone = false;
    for (auto c = e.Ext.begin(); c != e.Ext.end(); ++c) {
        const bool trail = !pairDone && trailOfPair(c, e.Ext.begin(), false);
        pairDone = trail;
        if (!trail) *c = static_cast<std::uint8_t>(AsciiLower(static_cast<char>(*c)));
    }
}

std::string FatShortName(const TFatDirEntry& Entry, char deletionMark) {
    TFatDirEntry e = Entry;
    const bool deleted = e.Name[0] == vt::fat::kDeletedMark;
    // A name whose first byte is 0xE5 (a lead byte of GBK and Shift-JIS)
    // is stored with 0x05 there, so as not to read as deleted.
    if (e.Name[0] == 0x05) e.Name[0] = vt::fat::kDeletedMark;
    std::string raw = RawShortName(e);
    if (deleted && !raw.empty() && static_cast<unsigned char>(raw[0]) == vt::fat::kDeletedMark) raw[0] = deletionMark;
    return OemToUtf8(raw);
}

std::string GetEntryDisplayName(const TMidEntry& Entry) { return EntryName(Entry, '?'); }
std::string GetEntryFileName(const TMidEntry& Entry) { return EntryName(Entry, '@'); }

TUniqueNames::TUniqueNames(const std::string& Name, std::size_t NameMax) : limit_(NameMax > 0 ? NameMax : 255) {
    std::string name = Name;
    // A "?" or a deletion mark in front (a deleted short name) becomes "@".
    // In UTF-8 text the byte 0xE5 also begins many Chinese characters; those
    // stay as they are.
    if (!name.empty() && (name[0] == '?' || (static_cast<unsigned char>(name[0]) == vt::fat::kDeletedMark &&
                                             Utf8SequenceAt(name, 0) == 0)))
        name[0] = '@';
    // A found name is only a name: "/" and NUL would lead into other folders
    // or cut the path, "." and ".." name the folder itself or its parent.
    // Control characters (ESC, tab ...) would be obeyed by a terminal that
    // lists the folder: they are replaced the same way.
    for (char& c : name)
        if (c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '_';
    if (name == "." || name == "..") name = "_" + name;

    const std::size_t sep = name.find_last_of("/:");
    const std::size_t dot = name.rfind('.');
    base_ = name;
    if (dot != std::string::npos && (sep == std::string::npos || dot > sep)) {
        base_ = name.substr(0, dot);
        ext_ = name.substr(dot);
    }
    // FAT and NTFS names hold 255 UTF-16 characters, up to 765 bytes of
    // UTF-8; the target's file system takes fewer (255 bytes on Linux). The
    // base is cut at a character bound so that base, number and extension
    // fit; an extension that leaves no room for a base counts as base.
    if (ext_.size() > limit_ / 2) {
        base_ += ext_;
        ext_.clear();
    }
}

std::string TUniqueNames::operator[](unsigned N) const {
    const std::string suffix = N == 0 ? std::string() : "_" + std::to_string(N);
    const std::size_t room = limit_ - std::min(limit_, suffix.size() + ext_.size());
    std::size_t end = 0;
    while (end < base_.size()) {
        const std::size_t n = std::max<std::size_t>(1, Utf8SequenceAt(base_, end));
        if (end + n > room) break;
        end += n;
    }
    return base_.substr(0, end) + suffix + ext_;
}

std::string MakeUniqueFileName(const std::string& Name, const std::string& Dir) {
    std::string dir = Dir;
    if (!dir.empty() && dir.back() == '/') dir.pop_back();
    // Asked once per folder: a recovery names thousands of files in one.
    static thread_local std::string askedDir;
    static thread_local long askedMax = -1;
    const std::string folder = dir.empty() ? "/" : dir;
    if (folder != askedDir || askedMax <= 0) {
        askedMax = ::pathconf(folder.c_str(), _PC_NAME_MAX);
        askedDir = folder;
    }
    const TUniqueNames names(Name, askedMax > 0 ? static_cast<std::size_t>(askedMax) : 255);
    std::string candidate = dir + "/" + names[0];
    for (unsigned n = 1; PathTaken(candidate); ++n) candidate = dir + "/" + names[n];
    return candidate;
}

std::string NotWrittenText(const TFolderContents& Contents) {
    return "，其中 " + std::to_string(Contents.files) + " 个文件、" + std::to_string(Contents.folders) +
           " 个文件夹未写入";
}

double DosDateTimeToDateTime(std::uint16_t Date, std::uint16_t Time) {
    const DosFields f = SplitDos(Date, Time);
    if (!f.InRange() || !f.RealDateTime()) return 0;
    return f.Value();
}

bool FatDateTimeToDateTime(std::uint16_t Date, std::uint16_t Time, double& Value) {
    if (Date == 0 && Time == 0) {
        Value = 0;
        return true;
    }
    const DosFields f = SplitDos(Date, Time);
    if (!f.InRange()) return false;
    if (!f.RealDateTime()) {
        Value = 0;
        return false;
    }
    Value = f.Value();
    return true;
}

bool MatchFileMask(const std::string& Name, const std::string& Mask) {
    const std::string name = AsCharBuffer(Name);
    const std::string mask = AsCharBuffer(Mask);
    WildcardMatcher m(name, mask);
    return m.Match(0, 0);
}

bool IsDriveValid(char Drive) {
    if (Drive >= 'a' && Drive <= 'z') Drive = static_cast<char>(Drive - 32);
    if (Drive < 'A' || Drive > 'Z') throw std::invalid_argument("非有效驱动器 ID");
    const win::UINT previous = win::SetErrorMode(win::SEM_FAILCRITICALERRORS);
    bool ready = false;
    try {
        ready = platform::DiskSize(Drive - 64) != -1;
    } catch (...) {
        win::SetErrorMode(previous);
        throw;
    }
    win::SetErrorMode(previous);
    return ready;
}

void AddLogEvent(platform::IEventLog* ListView, const std::string& Msg, std::uint8_t ImageIndex) {
    if (!ListView) return;
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
    ListView->AddRow(Msg, ImageIndex, buf);
}

int GetShellTypeInfo(const std::string& FileName, std::uint32_t Attributes, std::string& TypeName) {
    return platform::ShellTypeInfo(FileName, Attributes, TypeName);
}

int CompareFatEntries(const TMidEntry& A, const TMidEntry& B) {
    // Compared, not subtracted: a difference of two cluster numbers does not
    // fit the result, and the order must agree with the unsigned key search.
    if (A.ParentCluster != B.ParentCluster) return A.ParentCluster < B.ParentCluster ? -1 : 1;
    const auto key = [](const TFatDirEntry& e) {
        std::string base;
        for (std::uint8_t c : e.Name) {
            if (c == 0) break;
            base += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        }
        base = TrimBlanks(base);
        const std::string ext = TrimBlanks(std::string(e.Ext.begin(), e.Ext.end()));
        if (!ext.empty()) base += "." + ext;
        return base;
    };
    const std::string a = key(A.DirEntry), b = key(B.DirEntry);
    const int c = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
    if (c != 0) return c < 0 ? -1 : 1;
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

namespace DiskParam {

void Initialize() {
    const std::string path = platform::ProgramPath();
    const std::size_t slash = path.rfind('/');
    AppDir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    FolderTypeName.clear();
    GetShellTypeInfo(AppDir, 0xFFFF, FolderTypeName);
    if (AppDir.empty() || AppDir.back() != '/') AppDir += '/';
}

}  // namespace DiskParam

// ---------------------------------------------------------------- drives

bool GetDriveInfo(TLogiDrive& Drive) {
    try {
        const std::string root = Drive.Name + "\\";
        const win::UINT type = win::GetDriveTypeA(root.c_str());
        Drive.DriveType = static_cast<std::uint8_t>(type);
        if (type != win::DRIVE_REMOVABLE && type != win::DRIVE_FIXED) return false;
        std::string label;
        if (!IsDriveValid(Drive.Name.empty() ? '\0' : Drive.Name[0])) {
            Drive.TotalSize = 0;
        } else {
            win::ULARGE_INTEGER freeToCaller{}, total{}, totalFree{};
            if (win::GetDiskFreeSpaceExA(root.c_str(), &freeToCaller, &total, &totalFree)) {
                Drive.TotalSize = static_cast<std::int64_t>(total.QuadPart);
                char buf[257] = {};
                if (win::GetVolumeInformationA(root.c_str(), buf, 256, nullptr, nullptr, nullptr, nullptr, 0))
                    label = buf;
            } else {
                Drive.TotalSize = 0;
            }
        }
        Drive.VolumeLabel = TrimBlanks(label).empty() ? "无卷标" : label;
        const double mb = static_cast<double>(Drive.TotalSize) / 1048576.0;
        Drive.SizeText = mb >= 1000 ? FormatFixed2(mb / 1024, " GB") : FormatFixed2(mb, " MB");
        return true;
    } catch (...) {
        return false;
    }
}

TUndelete::TUndelete() {
    Aborted = false;
    CreateFolderTemplate();
    EnumDrives();
}

TUndelete::~TUndelete() = default;

void TUndelete::EnumDrives() {
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        auto drive = std::make_unique<TLogiDrive>();
        drive->Name = std::string(1, letter) + ":";
        if (GetDriveInfo(*drive)) Drives.push_back(std::move(drive));
    }
}

bool TUndelete::ClearEntryList(TMidEntryList& List) {
    try {
        List.clear();
        return true;
    } catch (...) {
        return false;
    }
}

bool TUndelete::ClearEntryList(TNtfsRecordList& List) {
    try {
        List.clear();
        return true;
    } catch (...) {
        return false;
    }
}

namespace {

// Sets a flag for the lifetime of the guard and clears it however the scope
// ends.
class FlagGuard {
public:
    explicit FlagGuard(bool& flag) : flag_(flag) { flag_ = true; }
    ~FlagGuard() { flag_ = false; }
    FlagGuard(const FlagGuard&) = delete;
    FlagGuard& operator=(const FlagGuard&) = delete;

private:
    bool& flag_;
};

// Whether a FAT32 boot sector's layout is its volume's: its FAT begins
// with its media byte where the reserved sectors put it, and the first
// folder in its root's first cluster begins, where the cluster size puts
// it, with the "." entry that names it (a root without folders: the FAT
// alone tells).
bool Fat32LayoutHolds(const std::string& drive, std::span<const std::uint8_t> bootSector) {
    const vt::ByteReader b(bootSector);
    const std::uint32_t spc = b.U8Or(0x0D), reserved = b.U16Or(0x0E), fats = b.U8Or(0x10);
    const std::uint64_t fatSize = b.U32Or(0x24), root = b.U32Or(0x2C);
    if (b.U16Or(0x0B) != 512 || spc == 0 || (spc & (spc - 1)) != 0 || reserved == 0 || fats == 0 || fatSize == 0 ||
        root < 2)
        return false;
    std::array<std::uint8_t, 512> s{};
    if (!ReadLogicalSectors(drive, reserved, 1, s.data()) || s[0] != b.U8Or(0x15) || s[1] != 0xFF || s[2] != 0xFF ||
        (s[3] & 0x0F) != 0x0F)
        return false;
    const std::uint64_t data = reserved + fats * fatSize;
    auto clusterSector = [&](std::uint64_t c) -> std::optional<std::uint32_t> {
        const std::uint64_t at = data + (c - 2) * spc;
        if (at > UINT32_MAX) return std::nullopt;
        return static_cast<std::uint32_t>(at);
    };
    const auto rootSector = clusterSector(root);
    std::vector<std::uint8_t> dir(spc * 512u);
    if (!rootSector || !ReadLogicalSectors(drive, *rootSector, static_cast<std::uint16_t>(spc), dir.data())) return false;
    const vt::ByteReader entries(dir);
    for (std::size_t off = 0; off + 32 <= dir.size(); off += 32) {
        const std::uint8_t first = dir[off], attr = dir[off + 11];
        if (first == 0) break;
        if (first == vt::fat::kDeletedMark || attr == vt::fat::kAttrLongName || (attr & vt::fat::kAttrVolumeLabel) ||
            !(attr & vt::fat::kAttrDirectory))
            continue;
        const std::uint32_t c = static_cast<std::uint32_t>(entries.U16Or(off + 20)) << 16 | entries.U16Or(off + 26);
        const auto at = c >= 2 ? clusterSector(c) : std::nullopt;
        if (!at || !ReadLogicalSectors(drive, *at, 1, s.data())) return false;
        const vt::ByteReader dot(s);
        return std::memcmp(s.data(), ".          ", 11) == 0 && (s[11] & vt::fat::kAttrDirectory) &&
               (static_cast<std::uint32_t>(dot.U16Or(20)) << 16 | dot.U16Or(26)) == c;
    }
    return true;
}

void UnrecognizedFormatBox(const TLogiDrive& drive) { ErrorBox(drive.Name + " - Unrecognized drive format."); }

}  // namespace

bool TUndelete::OpenDrive(TLogiDrive* Drive, bool Rescan, platform::IProgressBar* ProgressBar,
                          platform::IStatusPanel* StatusPanel) {
    Current = Drive;
    Aborted = false;
    // The FAT windows hold sectors of the drive they were read from.
    fatWindowValid_ = copyWindowValid_ = false;
    badFatSectors_.clear();
    FlagGuard busy(Busy);
    if (!Drive) return false;
    if (Drive->Scanned && !Rescan) {
        if (Drive->FsType <= vt::fsNtfs) return true;
        UnrecognizedFormatBox(*Drive);
        return false;
    }
    std::array<std::uint8_t, 512> sector{};
    if (!ReadLogicalSectors(Drive->Name, 0, 1, sector.data())) return false;
    Drive->Scanned = true;
    Drive->FsType = vt::fsUnknown;
    Drive->BootCopySector = 0;
    // The type string is informational: a FAT volume's type is its cluster
    // count's (a FAT16 volume whose string says FAT12 is read as FAT16).
    const TFsType type = DetectVolumeType(sector);
    // A FAT32 sector 0 whose layout is not its volume's (a changed cluster
    // size) gives way to its copy when the copy's is.
    if (type == vt::fsFat32 && !Fat32LayoutHolds(Drive->Name, sector)) {
        const vt::ByteReader zero(sector);
        std::uint16_t at = zero.U16Or(0x32);
        if (at == 0 || at >= zero.U16Or(0x0E)) at = 6;
        std::array<std::uint8_t, 512> copy{};
        if (ReadLogicalSectors(Drive->Name, at, 1, copy.data()) && DetectFatType(copy) == vt::fsFat32 &&
            Fat32LayoutHolds(Drive->Name, copy)) {
            sector = copy;
            Drive->BootCopySector = at;
        }
    }
    const vt::ByteReader boot(sector);
    const std::uint16_t bytesPerSector = boot.U16Or(0x0B);
    if (type == vt::fsFat12 || type == vt::fsFat16 || type == vt::fsFat32) {
        if (bytesPerSector == 512) {
            Drive->FsType = type;
            Drive->BootSector = sector;
            ScanFatVolume(StatusPanel);
            return true;
        }
    } else if (type == vt::fsNtfs) {
        // The record-size field at 0x40: 0xF6 (-10, records of 2^10 bytes)
        // or a count of clusters; the product is taken in 16 bits.
        std::uint32_t recordSize = 1024;
        if (boot.U32Or(0x40) != 0xF6)
            recordSize = static_cast<std::uint16_t>(std::uint32_t{boot.U8Or(0x0D)} * bytesPerSector * boot.U16Or(0x40));
        if (recordSize == 1024 && bytesPerSector == 512) {
            Drive->FsType = vt::fsNtfs;
            Drive->BootSector = sector;
            ScanNtfsVolume(ProgressBar);
            LinkNtfsParents(nullptr);
            return true;
        }
    }
    UnrecognizedFormatBox(*Drive);
    return false;
}

bool TUndelete::FindChildRange(std::uint32_t ParentKey, std::int32_t& First, std::int32_t& Last) {
    bool result = false;
    try {
        if (Current && Current->FsType <= vt::fsFat32)
            result = FindFatChildRange(Current->Entries, ParentKey, First, Last);
        else if (Current && Current->FsType == vt::fsNtfs)
            result = FindNtfsChildRange(Current->NtfsEntries, static_cast<std::int64_t>(ParentKey), First, Last);
    } catch (const std::exception& e) {
        ErrorBox(e.what());
        return false;
    }
    return (First != -1 && Last != -1) ? true : result;
}

bool TUndelete::FindFatChildRange(const TMidEntryList& List, std::uint32_t Key, std::int32_t& First,
                                  std::int32_t& Last) {
    try {
        const auto count = static_cast<std::int32_t>(std::min<std::size_t>(List.size(), INT32_MAX));
        return vt::FindKeyRange(count, Key, [&](std::int32_t i) { return List[i]->ParentCluster; }, First, Last);
    } catch (const std::exception& e) {
        ErrorBox(e.what());
        return false;
    }
}
