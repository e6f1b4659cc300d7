// The walk of the folder recovery over found directories of a mutated
// disk: the partition scan finds the directory clusters, the listing reads
// their entries, and every found folder is written into a scratch folder.
// Entries that lead back into a folder being written, or into one
// directory many times, must not make the walk endless; names of any length
// must be written.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "DataStruc.h"
#include "FuzzDisk.h"

namespace {

const std::string& Scratch() {
    static const std::string dir = [] {
        std::string t = (std::filesystem::temp_directory_path() / "vt-found-folder-XXXXXX").string();
        return std::string(mkdtemp(t.data()));
    }();
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2 || size > (64u << 10) + 2) return 0;
    const std::uint8_t mode = data[0];
    const std::uint8_t spc = static_cast<std::uint8_t>(data[1] & 7);
    const std::uint32_t sectors = fuzzdisk::InstallDisk(std::vector<std::uint8_t>(data + 2, data + size), 1);
    TPhysicalDrive drive(fuzzdisk::Geometry(sectors));
    TPartiEntry node;
    node.RawEntry.SectorCount.set(sectors);
    if (!drive.ScanPartition(&node, nullptr)) return 0;
    drive.BuildFatList(nullptr);
    // The estimate, or a layout of the input's choice (0 included).
    if (mode & 1) {
        node.SectorsPerCluster = spc;
        node.DataStart = data[1] >> 3;
    }
    // The kinds a window passes with a FAT folder: the node's FAT type.
    static constexpr TFsType kKinds[] = {vt::fsFat12, vt::fsFat16, vt::fsFat32};
    const TFsType kind = kKinds[((mode >> 1) & 3) % 3];
    const std::string out = Scratch() + "/walk";
    std::size_t walked = 0;
    for (const auto& e : node.FatEntries) {
        if (IsFatFile(e->DirEntry) || ++walked > 4) continue;
        std::filesystem::remove_all(out);
        std::filesystem::create_directory(out);
        // A folder that cannot be created ends the batch with an exception
        // that the window's error handling shows; it stands in for it here.
        // A found name is never too long to be written.
        try {
            drive.RecoverFolder(e.get(), kind, out, nullptr, nullptr);
        } catch (const std::system_error& error) {
            if (error.code() == std::errc::filename_too_long) __builtin_trap();
        }
    }
    std::filesystem::remove_all(out);
    return 0;
}
