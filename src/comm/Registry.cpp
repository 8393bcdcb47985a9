#include "comm/Registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

namespace tarnflow {

namespace {

constexpr size_t kMaxFileBytes = 64 * 1024;

// Sections in file order, each with its values in file order.
struct IniFile {
    std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> sections;

    std::string* Find(const std::string& section, const std::string& name) {
        for (auto& [title, values] : sections) {
            if (title != section) {
                continue;
            }
            for (auto& [key, value] : values) {
                if (key == name) {
                    return &value;
                }
            }
        }
        return nullptr;
    }
    void Set(const std::string& section, const std::string& name, const std::string& value) {
        if (std::string* existing = Find(section, name)) {
            *existing = value;
            return;
        }
        for (auto& [title, values] : sections) {
            if (title == section) {
                values.emplace_back(name, value);
                return;
            }
        }
        sections.push_back({section, {{name, value}}});
    }
};

// A damaged or unreadable file reads as empty: settings are a convenience, never a reason to
// stop.
IniFile Load(const std::string& path) {
    IniFile ini;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return ini;
    }
    std::string text((std::istreambuf_iterator<char>(file)), {});
    if (text.size() > kMaxFileBytes || text.find('\0') != std::string::npos) {
        return {};
    }
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == ';' || line[0] == '#') {
            continue;
        }
        if (line.front() == '[' && line.back() == ']' && line.size() >= 2) {
            ini.sections.push_back({line.substr(1, line.size() - 2), {}});
            continue;
        }
        const size_t equals = line.find('=');
        if (equals == std::string::npos || equals == 0 || ini.sections.empty()) {
            return {};
        }
        ini.sections.back().second.emplace_back(line.substr(0, equals), line.substr(equals + 1));
    }
    return ini;
}

bool Save(const std::string& path, const IniFile& ini) {
    std::string text;
    for (const auto& [title, values] : ini.sections) {
        text += "[" + title + "]\n";
        for (const auto& [key, value] : values) {
            text += key + "=" + value + "\n";
        }
    }
    std::error_code error;
    const std::filesystem::path target(path);
    if (target.has_parent_path()) {
        std::filesystem::create_directories(target.parent_path(), error);
    }
    // Written beside the file and renamed over it, so a crash leaves the old file or the new.
    const std::string temporary = path + ".tmp";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    const bool written =
        write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && fsync(fd) == 0;
    if (close(fd) != 0 || !written || rename(temporary.c_str(), path.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool ValidName(const std::string& name) {
    return !name.empty() && name.find_first_of("=\n\r[]") == std::string::npos;
}

bool ValidValue(const std::string& value) {
    return value.find_first_of("\n\r") == std::string::npos;
}

}  // namespace

std::string CRegistry::FilePath() {
    if (const char* path = std::getenv("TARNFLOW_CONFIG"); path != nullptr && *path != '\0') {
        return path;
    }
    std::string base;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config != '\0') {
        base = config;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        base = std::string(home) + "/.config";
    } else {
        base = ".config";
    }
    return base + "/tarnflow/registry.ini";
}

std::string CRegistry::ReadSectionString(const std::string& section, const std::string& name) {
    IniFile ini = Load(FilePath());
    const std::string* value = ini.Find(section, name);
    return value != nullptr ? *value : "";
}

bool CRegistry::WriteSectionString(const std::string& section, const std::string& name,
                                   const std::string& value) {
    if (!ValidName(name) || !ValidValue(value)) {
        return false;
    }
    const std::string path = FilePath();
    IniFile ini = Load(path);
    ini.Set(section, name, value);
    return Save(path, ini);
}

std::string CRegistry::ReadString(const std::string& name) {
    return ReadSectionString(kKeyPath, name);
}

bool CRegistry::WriteString(const std::string& name, const std::string& value) {
    // A value holds at most 127 characters; a longer folder is not remembered.
    return value.size() <= kMaxValueLength && WriteSectionString(kKeyPath, name, value);
}

int CRegistry::ReadInt(const std::string& name, int defaultValue) {
    const std::string text = ReadString(name);
    return text.empty() ? defaultValue : std::atoi(text.c_str());
}

void CRegistry::WriteInt(const std::string& name, int value) {
    WriteString(name, std::to_string(value));
}

}  // namespace tarnflow
