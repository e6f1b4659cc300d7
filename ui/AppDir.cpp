#include "AppDir.h"

#include "System.h"

namespace ui {

const std::string& AppDir() {
    static const std::string dir = [] {
        std::string path = platform::ProgramPath();
        std::string folder = path.substr(0, path.find_last_of('/') + 1);
        if (folder.empty() || folder.back() != '/') folder += '/';
        return folder;
    }();
    return dir;
}

}  // namespace ui
