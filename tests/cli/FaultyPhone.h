#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "phonesim/FaultOption.h"
#include "phonesim/Phone.h"

namespace tarnflow::cli {

// A simulated phone started with a fault written as phonesim's --fault takes it, without the
// phone number ("nak-invalid:request:2"); empty for a healthy phone. `baud` 0 is unpaced.
inline std::unique_ptr<phonesim::Phone> StartFaultyPhone(const std::string& fault,
                                                         uint32_t baud = 0) {
    std::vector<phonesim::FaultSettings> faults(1);
    std::string error;
    if (!fault.empty()) {
        EXPECT_TRUE(phonesim::ApplyFaultOption("0:" + fault, faults, error)) << error;
    }
    auto phone = std::make_unique<phonesim::Phone>();
    phonesim::PhoneOptions options;
    options.baud = baud;
    options.faults = faults[0];
    EXPECT_TRUE(phone->Start(options)) << phone->Error();
    return phone;
}

}  // namespace tarnflow::cli
