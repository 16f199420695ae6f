// Size and seed of the robustness campaigns. The test suite runs their short
// forms; the long forms run the same code with every count multiplied by
// NTPSYNCD_ROBUSTNESS_SCALE (a positive integer, default 1). Randomised
// campaigns draw everything from NTPSYNCD_ROBUSTNESS_SEED (default fixed),
// so a failing run is repeated exactly by setting the seed it reports.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace robustness {

inline uint64_t EnvironmentNumber(const char* name, uint64_t fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return fallback;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 0);
    return end != nullptr && *end == '\0' && value > 0 ? value : fallback;
}

inline uint32_t Scaled(uint32_t short_form) {
    return static_cast<uint32_t>(short_form * EnvironmentNumber("NTPSYNCD_ROBUSTNESS_SCALE", 1));
}

inline uint64_t Seed() { return EnvironmentNumber("NTPSYNCD_ROBUSTNESS_SEED", 0x5EED2024); }

// Puts a campaign's figures into the test log (and the XML report).
inline void Report(const std::string& key, uint64_t value) {
    testing::Test::RecordProperty(key, std::to_string(value));
    std::printf("[ campaign ] %s = %llu\n", key.c_str(), static_cast<unsigned long long>(value));
}

}  // namespace robustness
