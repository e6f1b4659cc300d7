// Private profile (ini) files with the classic rules: [sections] of
// key=value lines, names compared without regard to case, missing keys and
// values that are not numbers give the caller's default, and writing keeps
// every other line of the file as it was.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace platform {

class TIniFile {
public:
    // Reads the file if it is there as a plain file; a link at its name is
    // not followed (the settings are then the defaults).
    explicit TIniFile(std::string fileName);
    const std::string& FileName() const { return fileName_; }

    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& def) const;
    int ReadInteger(const std::string& section, const std::string& key, int def) const;
    bool ReadBool(const std::string& section, const std::string& key, bool def) const;
    bool SectionExists(const std::string& section) const;
    bool ValueExists(const std::string& section, const std::string& key) const;
    std::vector<std::string> ReadSections() const;
    std::vector<std::string> ReadSection(const std::string& section) const;  // key names

    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, int value);
    void WriteBool(const std::string& section, const std::string& key, bool value);

    // Writes the file: a new file, relative to its folder's descriptor and
    // never through a link, renamed over the old one once it is complete.
    // Throws std::runtime_error when it cannot be written, and when a link
    // or anything else than a plain file stands at its name (which is then
    // left as it was).
    void UpdateFile() const;

    // Parses text instead of a file (used for the machine profile).
    static TIniFile FromText(const std::string& text);

private:
    struct Line {
        std::string text;     // the line as read or written
        std::string section;  // lower-cased section it lies in
        std::string key;      // lower-cased key, empty for other lines
    };
    void Parse(const std::string& text);
    const Line* Find(const std::string& section, const std::string& key) const;
    std::string fileName_;
    std::vector<Line> lines_;
};

// For tests only: called when the new settings file is complete, just
// before it is renamed to the settings' name, with the folder's descriptor
// and that name. A test puts a link there meanwhile to show that it is
// not replaced.
void SetBeforeRenameHookForTests(std::function<void(int folderFd, const std::string& name)> hook);

}  // namespace platform
