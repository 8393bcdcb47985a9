#pragma once

#include <string>

#include "phonesim/SparseFlash.h"

namespace tarnflow::phonesim {

// Writes phone `index`'s memory into folder `dir` (made if missing):
//   phoneNN-flash-0xAAAAAAAA.bin  one file per run of adjacent written 1 KiB flash pages,
//                                 starting at address AAAAAAAA (8 upper-case hex digits)
//   phoneNN-area<k>.bin           VPX area k (1-6), from offset 0 to the end of its last
//                                 written page, only for areas with something written
// Bytes erased or never written inside these spans are 0xFF.
bool WriteFlashFiles(const std::string& dir, unsigned index, const PhoneMemory& memory,
                     std::string& error);

}  // namespace tarnflow::phonesim
