// Symbolic links planted where a recovery is about to create a file or a
// folder, as anyone who may write into the target folder could plant them:
// before the recovery looks at the name, or in the moment between choosing
// the name and creating it (through the creation hook of TargetFolder.h).
// What the links point at lies outside the target folder; after the
// recovery the links and their targets must be as they were.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"

namespace vt::test {

enum class LinkTo { Nothing, OutsideFile, OutsideFolder };
enum class PlantWhen { Before, AfterChoosing };

struct LinkCase {
    const char* label;
    LinkTo to;
    PlantWhen when;
};
// Every kind of link, planted either way.
inline const std::vector<LinkCase> kLinkCases = {
    {"dangling, planted before", LinkTo::Nothing, PlantWhen::Before},
    {"to a file outside, planted before", LinkTo::OutsideFile, PlantWhen::Before},
    {"to a folder outside, planted before", LinkTo::OutsideFolder, PlantWhen::Before},
    {"dangling, planted after the name was chosen", LinkTo::Nothing, PlantWhen::AfterChoosing},
    {"to a file outside, planted after the name was chosen", LinkTo::OutsideFile, PlantWhen::AfterChoosing},
    {"to a folder outside, planted after the name was chosen", LinkTo::OutsideFolder, PlantWhen::AfterChoosing},
};

class LinkTrap {
public:
    LinkTrap();
    ~LinkTrap();
    LinkTrap(const LinkTrap&) = delete;
    LinkTrap& operator=(const LinkTrap&) = delete;

    // A link Name in Folder (a path) pointing at `to`: now, or when the
    // recovery is about to create Name (the first time only).
    void Plant(const std::string& folder, const std::string& name, LinkTo to, PlantWhen when);
    void Plant(const std::string& folder, const std::string& name, const LinkCase& c) { Plant(folder, name, c.to, c.when); }
    // Right after the recovery has made the folder Name in Folder, the
    // folder is removed and a link to the outside folder takes its place.
    void SwapFolderForLink(const std::string& folder, const std::string& name);
    // Every planted link is there, unchanged; the outside file holds what
    // it held; the outside folder is empty.
    ::testing::AssertionResult Untouched() const;
    // Every link that was to be planted during the recovery was planted.
    bool AllPlanted() const;

private:
    struct Link {
        std::string folder, name, target;
        bool planted = false;
    };
    std::string Target(LinkTo to) const;
    void InstallHook();

    TempDir outside_;
    std::string file_, folder_;
    std::vector<Link> links_;
    struct Pending {
        std::size_t link;
        bool swap;  // remove the new folder first (FolderMade)
    };
    std::vector<Pending> pending_;
};

}  // namespace vt::test
