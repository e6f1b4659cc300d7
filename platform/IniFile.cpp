#include "IniFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "Text.h"

namespace platform {

namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Trim(const std::string& s) { return platform::TrimControls(s); }

}  // namespace

TIniFile::TIniFile(std::string fileName) : fileName_(std::move(fileName)) {
    std::ifstream in(fileName_, std::ios::binary);
    if (!in) return;
    std::stringstream ss;
    ss << in.rdbuf();
    Parse(ss.str());
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

void TIniFile::UpdateFile() const {
    std::ofstream out(fileName_, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("Unable to write to " + fileName_);
    for (const Line& line : lines_) out << line.text << "\r\n";
    out.flush();
    if (!out) throw std::runtime_error("Unable to write to " + fileName_);
}

}  // namespace platform
