#pragma once

// The language the code under test speaks, as the test chooses it.

#include "locale/AppMetadata.h"

#include <optional>
#include <string>

namespace harkwell::testing {

// Speaks `locale` ("en-US", "ko-KR") from now on.
inline void useLocale(const std::string& locale) {
    setAppMetadataLookupForTesting([locale](std::string_view key) -> std::optional<std::string> {
        return key == "HarkwellLocale" ? std::optional<std::string>(locale) : std::nullopt;
    });
}

// English while it lives (a fixture's member), then the build's own language again.
struct TestLocale {
    TestLocale() { useLocale("en-US"); }
    ~TestLocale() { setAppMetadataLookupForTesting(nullptr); }
    TestLocale(const TestLocale&) = delete;
    TestLocale& operator=(const TestLocale&) = delete;
};

} // namespace harkwell::testing
