#include "phonesim/DeviceLink.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace tarnflow::phonesim {

namespace fs = std::filesystem;

std::string DeviceLinkName(unsigned index) {
    char name[32];
    std::snprintf(name, sizeof name, "tfusbmd%02u", index);
    return name;
}

bool CreateDeviceLink(const std::string& link, const std::string& target, std::string& error) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(link, ec);
    if (fs::is_symlink(status)) {
        fs::remove(link, ec);
    } else if (fs::exists(status)) {
        error = link + ": exists and is not a symbolic link";
        return false;
    }
    fs::create_symlink(target, link, ec);
    if (ec) {
        error = link + ": " + ec.message();
        return false;
    }
    return true;
}

void RemoveDeviceLink(const std::string& link, const std::string& target) {
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(link, ec)) && fs::read_symlink(link, ec) == target) {
        fs::remove(link, ec);
    }
}

}  // namespace tarnflow::phonesim
