#include "IniFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <random>
#include <sstream>
#include <stdexcept>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Text.h"

namespace platform {

namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Trim(const std::string& s) { return platform::TrimControls(s); }

std::function<void(int, const std::string&)>& BeforeRenameHook() {
    static std::function<void(int, const std::string&)> hook;
    return hook;
}

// A descriptor closed when it goes out of scope.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    // Closes now, for the error a close may report.
    int Close() {
        const int r = ::close(fd_);
        fd_ = -1;
        return r;
    }

private:
    int fd_;
};

// The folder of a settings file, opened by its path (the program folder: the
// links on the way to it are the user's), though not itself through a link,
// and the file's name in it. An invalid descriptor when it does not open or
// the path names no file.
struct Place {
    std::string leaf;
    int folder = -1;
};
Place OpenPlace(const std::string& path) {
    Place place;
    const std::size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
    place.leaf = slash == std::string::npos ? path : path.substr(slash + 1);
    if (place.leaf.empty() || place.leaf == "." || place.leaf == "..") return place;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (folder.empty()) folder = "/";
    place.folder = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return place;
}

[[noreturn]] void Fail(const std::string& fileName, const std::string& why) {
    throw std::runtime_error("Unable to write to " + fileName + ": " + why);
}

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

// The program may run as root in a folder that belongs to a user, who may put
// a link at the settings' name: reading and writing go relative to the
// folder's descriptor and never through a link, and anything at that name
// that is not a plain file is left alone (its settings are the defaults).
TIniFile::TIniFile(std::string fileName) : fileName_(std::move(fileName)) {
    const Place place = OpenPlace(fileName_);
    if (place.folder < 0) return;
    const Fd folder(place.folder);
    // Not blocking on a pipe planted there; a plain file never blocks.
    const Fd file(::openat(folder.get(), place.leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (file.get() < 0 || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    std::string text;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(file.get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buf, static_cast<std::size_t>(n));
    }
    Parse(text);
}

TIniFile TIniFile::FromText(const std::string& text) {
    TIniFile ini{std::string()};
    ini.Parse(text);
    return ini;
}

void TIniFile::Parse(const std::string& text) {
    lines_.clear();
    std::string section;
    std::istringstream in(text);
    std::string raw;
    while (std::getline(in, raw)) {
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        Line line{raw, section, {}};
        std::string t = Trim(raw);
        if (!t.empty() && t.front() == '[') {
            std::size_t close = t.find(']');
            section = Lower(Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1)));
            line.section = section;
        } else if (!t.empty() && t.front() != ';' && t.front() != '#') {
            std::size_t eq = t.find('=');
            if (eq != std::string::npos) line.key = Lower(Trim(t.substr(0, eq)));
        }
        lines_.push_back(std::move(line));
    }
}

const TIniFile::Line* TIniFile::Find(const std::string& section, const std::string& key) const {
    const std::string s = Lower(Trim(section)), k = Lower(Trim(key));
    for (const Line& line : lines_)
        if (!line.key.empty() && line.section == s && line.key == k) return &line;
    return nullptr;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& def) const {
    const Line* line = Find(section, key);
    if (!line) return def;
    std::string value = Trim(line->text.substr(line->text.find('=') + 1));
    // A value in matching quotes loses them, as the profile functions do.
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return value;
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int def) const {
    std::string value = ReadString(section, key, std::string());
    if (value.empty()) return def;
    errno = 0;
    char* end = nullptr;
    int base = 10;
    const char* start = value.c_str();
    if (value.size() > 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X')) {
        base = 16;
        start += 2;
    }
    long v = std::strtol(start, &end, base);
    if (end == start || *end != '\0' || errno == ERANGE || v < INT_MIN || v > INT_MAX) return def;
    return static_cast<int>(v);
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool TIniFile::SectionExists(const std::string& section) const {
    const std::string s = Lower(Trim(section));
    return std::any_of(lines_.begin(), lines_.end(), [&](const Line& l) { return l.section == s; });
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
    return Find(section, key) != nullptr;
}

std::vector<std::string> TIniFile::ReadSections() const {
    std::vector<std::string> out;
    for (const Line& line : lines_) {
        std::string t = Trim(line.text);
        if (!t.empty() && t.front() == '[') {
            std::size_t close = t.find(']');
            out.push_back(Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1)));
        }
    }
    return out;
}

std::vector<std::string> TIniFile::ReadSection(const std::string& section) const {
    std::vector<std::string> out;
    const std::string s = Lower(Trim(section));
    for (const Line& line : lines_)
        if (!line.key.empty() && line.section == s) out.push_back(Trim(line.text.substr(0, line.text.find('='))));
    return out;
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
    const std::string s = Lower(Trim(section)), k = Lower(Trim(key));
    const std::string text = Trim(key) + "=" + value;
    for (Line& line : lines_)
        if (!line.key.empty() && line.section == s && line.key == k) {
            line.text = text;
            return;
        }
    // After the last line of the section, or a new section at the end.
    std::size_t insertAt = lines_.size();
    bool found = false;
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].section == s) {
            found = true;
            if (!Trim(lines_[i].text).empty()) insertAt = i + 1;
        }
    if (!found) {
        lines_.push_back(Line{"[" + Trim(section) + "]", s, {}});
        insertAt = lines_.size();
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), Line{text, s, k});
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
    WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

// The whole text goes into a new file beside the old one, which is renamed
// over it only when it is complete and on the disk: a crash or a full disk
// mid-write leaves the old settings as they were, never half a file. A link
// (or anything else that is not a plain file) at the settings' name is
// neither followed nor replaced: then nothing is saved.
void TIniFile::UpdateFile() const {
    const Place place = OpenPlace(fileName_);
    if (place.folder < 0) Fail(fileName_, std::strerror(errno ? errno : ENOENT));
    const Fd folder(place.folder);
    const char* leaf = place.leaf.c_str();
    struct stat old {};
    const bool hadOld = ::fstatat(folder.get(), leaf, &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (!hadOld && errno != ENOENT) Fail(fileName_, std::strerror(errno));
    if (hadOld && !S_ISREG(old.st_mode)) Fail(fileName_, "not a plain file");

    std::string text;
    for (const Line& line : lines_) text += line.text + "\r\n";

    // A name nobody uses, made exclusively: a link or file someone put at
    // one name makes the next one be tried.
    std::random_device random;
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%08x", static_cast<unsigned>(random()));
        temp = "." + place.leaf + suffix;
        fd = ::openat(folder.get(), temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      hadOld ? (old.st_mode & 0777) : 0666);
        if (fd < 0 && errno != EEXIST) Fail(fileName_, std::strerror(errno));
    }
    if (fd < 0) Fail(fileName_, "no free name for the new file");
    Fd file(fd);
    auto discard = [&](int error) {
        ::unlinkat(folder.get(), temp.c_str(), 0);
        Fail(fileName_, std::strerror(error));
    };
    if (hadOld) {
        // The file stays its owner's (root writing a user's settings) with
        // its permissions; where that is not allowed it becomes ours.
        if (::fchown(file.get(), old.st_uid, old.st_gid) != 0) {
            // Not ours to give (we are not root): the file is ours then.
        }
        ::fchmod(file.get(), old.st_mode & 0777);
    }
    if (!WriteAll(file.get(), text) || ::fsync(file.get()) != 0) discard(errno);
    if (file.Close() != 0) discard(errno);

    if (BeforeRenameHook()) BeforeRenameHook()(folder.get(), place.leaf);
    int moved;
    if (hadOld) {
        // Checked once more: a rename replaces whatever stands at the name
        // and never writes through it, but a link put there meanwhile is
        // still not to be replaced.
        struct stat now {};
        if (::fstatat(folder.get(), leaf, &now, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(now.st_mode))
            discard(EEXIST);
        moved = ::renameat(folder.get(), temp.c_str(), folder.get(), leaf);
    } else {
        // Nothing was there: nothing may be replaced.
        moved = ::renameat2(folder.get(), temp.c_str(), folder.get(), leaf, RENAME_NOREPLACE);
        if (moved != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // A file system without that flag (a network share): a hard
            // link cannot replace anything either.
            moved = ::linkat(folder.get(), temp.c_str(), folder.get(), leaf, 0);
            if (moved == 0) ::unlinkat(folder.get(), temp.c_str(), 0);
        }
    }
    if (moved != 0) discard(errno);
    ::fsync(folder.get());  // the rename itself on the disk; a failure here loses nothing written
}

void SetBeforeRenameHookForTests(std::function<void(int folderFd, const std::string& name)> hook) {
    BeforeRenameHook() = std::move(hook);
}

}  // namespace platform
