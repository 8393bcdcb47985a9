#pragma once

#include <string>

namespace tarnflow::phonesim {

// Name of phone `index`'s entry in a device-map folder: tfusbmd00, tfusbmd01, ...
std::string DeviceLinkName(unsigned index);

// Makes `link` a symbolic link to `target`. A stale link of that name is replaced; anything
// else there is left alone and reported.
bool CreateDeviceLink(const std::string& link, const std::string& target, std::string& error);

// Removes `link` if it is still a symbolic link to `target`.
void RemoveDeviceLink(const std::string& link, const std::string& target);

}  // namespace tarnflow::phonesim
