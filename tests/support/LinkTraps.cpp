#include "LinkTraps.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "TargetFolder.h"

namespace vt::test {

namespace {
const std::string kPrecious = "not to be overwritten\n";
}

LinkTrap::LinkTrap() : file_(outside_.Path() + "/precious.txt"), folder_(outside_.Path() + "/elsewhere") {
    std::ofstream(file_, std::ios::binary) << kPrecious;
    std::filesystem::create_directory(folder_);
}

LinkTrap::~LinkTrap() { vt::SetCreateHookForTests(nullptr); }

std::string LinkTrap::Target(LinkTo to) const {
    switch (to) {
        case LinkTo::Nothing: return outside_.Path() + "/no such file";
        case LinkTo::OutsideFile: return file_;
        case LinkTo::OutsideFolder: return folder_;
    }
    return {};
}

void LinkTrap::Plant(const std::string& folder, const std::string& name, LinkTo to, PlantWhen when) {
    links_.push_back({folder, name, Target(to)});
    if (when == PlantWhen::Before) {
        std::filesystem::create_symlink(links_.back().target, folder + "/" + name);
        links_.back().planted = true;
        return;
    }
    pending_.push_back({links_.size() - 1, false});
    InstallHook();
}

void LinkTrap::SwapFolderForLink(const std::string& folder, const std::string& name) {
    links_.push_back({folder, name, folder_});
    pending_.push_back({links_.size() - 1, true});
    InstallHook();
}

void LinkTrap::InstallHook() {
    vt::SetCreateHookForTests([this](int dirFd, const std::string& name, vt::CreateStep step) {
        for (const Pending& p : pending_) {
            Link& link = links_[p.link];
            if (link.planted || link.name != name) continue;
            if (p.swap != (step == vt::CreateStep::FolderMade)) continue;
            if (p.swap) ::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR);
            link.planted = ::symlinkat(link.target.c_str(), dirFd, name.c_str()) == 0;
        }
    });
}

bool LinkTrap::AllPlanted() const {
    for (const Link& l : links_)
        if (!l.planted) return false;
    return true;
}

::testing::AssertionResult LinkTrap::Untouched() const {
    namespace fs = std::filesystem;
    for (const Link& l : links_) {
        const std::string path = l.folder + "/" + l.name;
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(path, ec)))
            return ::testing::AssertionFailure() << path << " is no longer a link";
        if (fs::read_symlink(path, ec).string() != l.target)
            return ::testing::AssertionFailure() << path << " points elsewhere now";
    }
    if (ReadTextFile(file_) != kPrecious) return ::testing::AssertionFailure() << "the file outside was written";
    if (!fs::is_empty(folder_)) return ::testing::AssertionFailure() << "something was written into the folder outside";
    if (std::distance(fs::directory_iterator(outside_.Path()), fs::directory_iterator()) != 2)
        return ::testing::AssertionFailure() << "something was created beside the file and folder outside";
    return ::testing::AssertionSuccess();
}

}  // namespace vt::test
