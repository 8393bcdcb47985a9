#include "comm/Registry.h"

#include "platform/ReportFiles.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace tarnflow {

namespace {

constexpr size_t kMaxFileBytes = 64 * 1024;

// One line of the file. Blank lines and comments are kept as they were written.
struct Line {
    enum class Kind { Other, Section, Value };
    Kind kind = Kind::Other;
    std::string text;  // Other: the line; Section: the section's name; Value: the name
    std::string value;
};

// A line that is none of blank, comment, [section] or NAME=value makes the file damaged.
std::optional<Line> ParseLine(std::string line) {
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == ';' || line[first] == '#') {
        return Line{Line::Kind::Other, line, ""};
    }
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
        return Line{Line::Kind::Section, line.substr(1, line.size() - 2), ""};
    }
    const size_t equals = line.find('=');
    if (equals == std::string::npos || equals == 0) {
        return std::nullopt;
    }
    return Line{Line::Kind::Value, line.substr(0, equals), line.substr(equals + 1)};
}

std::optional<std::vector<Line>> Parse(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);  // a byte-order mark left by an editor
    }
    if (text.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    std::vector<Line> lines;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        auto line = ParseLine(std::string(text.substr(0, end)));
        if (!line) {
            return std::nullopt;
        }
        lines.push_back(std::move(*line));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

enum class FileState { Read, Missing, Damaged, Unreadable };

struct IniFile {
    FileState state = FileState::Missing;
    std::vector<Line> lines;
};

// Reads at most one byte more than a sound file may hold, whatever the path names.
IniFile Load(const std::string& path) {
    IniFile ini;
    if (path.empty()) {
        ini.state = FileState::Unreadable;
        return ini;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        ini.state = errno == ENOENT ? FileState::Missing : FileState::Unreadable;
        return ini;
    }
    struct stat info {};
    std::string text;
    ini.state = FileState::Read;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ini.state = FileState::Unreadable;
    } else if (static_cast<size_t>(info.st_size) > kMaxFileBytes) {
        ini.state = FileState::Damaged;
    } else {
        char buffer[4096];
        while (text.size() <= kMaxFileBytes) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                ini.state = FileState::Unreadable;
            }
            if (n <= 0) {
                break;
            }
            text.append(buffer, static_cast<size_t>(n));
        }
    }
    close(fd);
    if (ini.state == FileState::Read) {
        auto lines = text.size() <= kMaxFileBytes ? Parse(text) : std::nullopt;
        if (lines) {
            ini.lines = std::move(*lines);
        } else {
            ini.state = FileState::Damaged;
        }
    }
    return ini;
}

const std::string* Find(const std::vector<Line>& lines, const std::string& section,
                        const std::string& name) {
    bool inSection = false;
    for (const auto& line : lines) {
        if (line.kind == Line::Kind::Section) {
            inSection = line.text == section;
        } else if (inSection && line.kind == Line::Kind::Value && line.text == name) {
            return &line.value;
        }
    }
    return nullptr;
}

// Replaces the value where it stands, else adds it after the last value of the section's first
// block, else adds the section at the end of the file.
void Set(std::vector<Line>& lines, const std::string& section, const std::string& name,
         const std::string& value) {
    enum class Block { Before, First, After } block = Block::Before;
    bool inSection = false;
    size_t insertAt = lines.size();
    for (size_t i = 0; i < lines.size(); ++i) {
        Line& line = lines[i];
        if (line.kind == Line::Kind::Section) {
            inSection = line.text == section;
            if (block == Block::First) {
                block = Block::After;
            } else if (block == Block::Before && inSection) {
                block = Block::First;
                insertAt = i + 1;
            }
        } else if (inSection && line.kind == Line::Kind::Value) {
            if (line.text == name) {
                line.value = value;
                return;
            }
            if (block == Block::First) {
                insertAt = i + 1;
            }
        }
    }
    if (block == Block::Before) {
        lines.push_back({Line::Kind::Section, section, ""});
        insertAt = lines.size();
    }
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt),
                 {Line::Kind::Value, name, value});
}

std::string Render(const std::vector<Line>& lines) {
    std::string text;
    for (const auto& line : lines) {
        switch (line.kind) {
            case Line::Kind::Other:
                text += line.text;
                break;
            case Line::Kind::Section:
                text += "[" + line.text + "]";
                break;
            case Line::Kind::Value:
                text += line.text + "=" + line.value;
                break;
        }
        text += '\n';
    }
    return text;
}

bool HasLineBreakOrZero(const std::string& text) {
    return text.find_first_of(std::string("\n\r\0", 3)) != std::string::npos;
}

// A name that would read back as a comment, a section or another name is refused.
bool ValidName(const std::string& name) {
    if (name.empty() || name.front() == '[' || name.find('=') != std::string::npos ||
        HasLineBreakOrZero(name)) {
        return false;
    }
    const size_t first = name.find_first_not_of(" \t");
    return first == std::string::npos || (name[first] != ';' && name[first] != '#');
}

bool ValidSection(const std::string& section) {
    return !section.empty() && !HasLineBreakOrZero(section);
}

std::string ConfigHome() {
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config == '/') {
        return config;
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return std::string(home) + "/.config";
    }
    if (const passwd* user = getpwuid(getuid()); user != nullptr && user->pw_dir != nullptr) {
        return std::string(user->pw_dir) + "/.config";
    }
    return "";
}

}  // namespace

std::string CRegistry::FilePath() {
    if (const char* path = std::getenv("TARNFLOW_CONFIG"); path != nullptr && *path != '\0') {
        return path;
    }
    const std::string home = ConfigHome();
    return home.empty() ? "" : home + "/tarnflow/registry.ini";
}

std::string CRegistry::ReadSectionString(const std::string& section, const std::string& name) {
    if (!ValidSection(section) || !ValidName(name)) {
        return "";
    }
    const IniFile ini = Load(FilePath());
    const std::string* value = Find(ini.lines, section, name);
    return value != nullptr ? *value : "";
}

bool CRegistry::WriteSectionString(const std::string& section, const std::string& name,
                                   const std::string& value) {
    if (!ValidSection(section) || !ValidName(name) || HasLineBreakOrZero(value)) {
        return false;
    }
    const std::string path = FilePath();
    IniFile ini = Load(path);
    // A file that exists but cannot be read is not overwritten: its values would be lost. A
    // damaged one reads as missing and is replaced.
    if (ini.state == FileState::Unreadable) {
        return false;
    }
    Set(ini.lines, section, name, value);
    const std::string text = Render(ini.lines);
    // A file past the limit would read as damaged, losing every value.
    std::string error;
    return text.size() <= kMaxFileBytes && WriteFileAtomically(path, text, error);
}

std::string CRegistry::ReadString(const std::string& name) {
    return ReadSectionString(kKeyPath, name);
}

bool CRegistry::WriteString(const std::string& name, const std::string& value) {
    // A value holds at most 127 characters (bytes); a longer folder is not remembered.
    return value.size() <= kMaxValueLength && WriteSectionString(kKeyPath, name, value);
}

int CRegistry::ReadInt(const std::string& name, int defaultValue) {
    const std::string text = ReadString(name);
    if (text.empty()) {
        return defaultValue;
    }
    // The leading digits as atoi reads them, held to the range of int instead of overflowing.
    const long long number = std::strtoll(text.c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long long>(number, INT_MIN, INT_MAX));
}

void CRegistry::WriteInt(const std::string& name, int value) {
    WriteString(name, std::to_string(value));
}

}  // namespace tarnflow
