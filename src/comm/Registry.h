#pragma once

#include <string>

namespace tarnflow {

// The settings store: an INI file standing in for the registry key
// "SOFTWARE\ORVENNA\TARNFLOW". The file is $TARNFLOW_CONFIG when set, else
// $XDG_CONFIG_HOME/tarnflow/registry.ini (~/.config when XDG_CONFIG_HOME is unset). Writes go
// to a temporary file renamed over the old one; a damaged or unreadable file reads as empty.
// Values hold at most 127 characters. No instance state; user-interface thread.
class CRegistry {
  public:
    static constexpr const char* kKeyPath = "SOFTWARE\\ORVENNA\\TARNFLOW";
    static constexpr size_t kMaxValueLength = 127;

    // The value's text, or "" when the file, the section or the value is missing or unreadable.
    static std::string ReadString(const std::string& name);
    // True only when the value was stored. A value longer than 127 characters is not stored.
    static bool WriteString(const std::string& name, const std::string& value);
    static int ReadInt(const std::string& name, int defaultValue);
    static void WriteInt(const std::string& name, int value);

    // Values of another section of the same file (port numbers kept per USB socket).
    static std::string ReadSectionString(const std::string& section, const std::string& name);
    static bool WriteSectionString(const std::string& section, const std::string& name,
                                   const std::string& value);

    // The file in use.
    static std::string FilePath();
};

}  // namespace tarnflow
