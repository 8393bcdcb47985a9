#pragma once

#include <string_view>

namespace tarnflow {

// Order of names as a person reads them: runs of digits compare by their value, so "ttyACM2"
// comes before "ttyACM10" and "tfusbmd9" before "tfusbmd10". Other bytes compare as unsigned
// bytes. Names equal by value ("a01", "a1") fall back to byte order, so the order is strict.
bool NaturalLess(std::string_view a, std::string_view b);

}  // namespace tarnflow
