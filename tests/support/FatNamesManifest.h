// The files that tests/fixtures/make-fatnames.sh puts on each of its
// volumes (names12.img, names16.img, names32.img), with the names a scan
// lists and recovers them under and the names their contents were made from.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vt::test {

struct NamedFile {
    std::string shown;     // the name the scan lists (long name, or short name by the case rule)
    std::string target;    // the name it is recovered under
    std::string original;  // the name its contents were made from
    std::size_t size;
};

// What make-fatnames.sh put on each of its volumes, deleted files included;
// short names that stand in for a long name that cannot be used follow the
// volume's case rule.
inline std::vector<NamedFile> NamedFiles(bool fat32) {
    auto shortName = [&](const std::string& fat32Name, const std::string& fat16Name) {
        return fat32 ? fat32Name : fat16Name;
    };
    auto same = [](const std::string& n, std::size_t size) { return NamedFile{n, n, n, size}; };
    return {
        same("._Quarterly Report.docx", 1300),
        same(".gitignore_global_backup", 700),
        same(".Spotlight-V100", 90),
        same("._Report A final.docx", 2100),
        same("._Report B final.docx", 2200),
        same("仿宋字体.ttf", 1500),
        same("会议记录-忿.txt", 800),
        same("ÿabcdefgh.txt", 600),
        // A long name whose checksum is not its short entry's, pieces out
        // of order, a run without its first piece: the short name.
        {shortName("RENAMED.TXT", "Renamed.txt"), shortName("RENAMED.TXT", "Renamed.txt"), "stale name.txt", 1100},
        {shortName("OUTOFO~1.TXT", "Outofo~1.txt"), shortName("OUTOFO~1.TXT", "Outofo~1.txt"),
         "Out of order pieces name.txt", 1200},
        {shortName("MISSIN~1.TXT", "Missin~1.txt"), shortName("MISSIN~1.TXT", "Missin~1.txt"),
         "Missing first piece of it.txt", 1250},
        // 0x05 stands for a first byte 0xE5 (GBK 逍遥 is E5 D0 D2 A3).
        {shortName("逍遥.TXT", "逍遥.txt"), shortName("逍遥.TXT", "逍遥.txt"), "XYZW.TXT", 1400},
        // Control characters stay in the shown name; a target name holds none.
        {"esc\x1bred.txt", "esc_red.txt", "escXred.txt", 300},
        {"tab\there.txt", "tab_here.txt", "tabXhere.txt", 310},
        {"one\x01x.txt", "one_x.txt", "oneXx.txt", 320},
        // Pieces that do not carry one checksum: the short name; the name
        // whose piece went into it keeps its own.
        {shortName("MIXEDP~1.TXT", "Mixedp~1.txt"), shortName("MIXEDP~1.TXT", "Mixedp~1.txt"),
         "Mixed pieces, first name.txt", 1330},
        same("Mixed pieces, other name.txt", 1340),
        // Deleted: a long name whose checksum some first byte gives, and
        // one whose checksum none gives (the short name, "?" for the mark).
        same("Deleted with its name.txt", 900),
        {shortName("?IST.TXT", "?ist.txt"), shortName("@IST.TXT", "@ist.txt"), "Deleted stale name.txt", 950},
    };
}

}  // namespace vt::test
