#pragma once

// The language the code under test speaks, as the test chooses it.

#include "locale/AppLanguage.h"

#include <string>

namespace harkwell::testing {

// Speaks `locale` from now on: English for exactly "en-US", Korean otherwise ("ko-KR"). Korean
// texts need the QCoreApplication of the test's main (MAIN qt, widgets or x11).
inline void useLocale(const std::string& locale) {
    useAppLocale(locale == "en-US" ? AppLocale::english : AppLocale::korean);
}

// English while it lives (a fixture's member), then the language spoken before.
struct TestLocale {
    TestLocale() : before_(currentAppLocale()) { useAppLocale(AppLocale::english); }
    ~TestLocale() { useAppLocale(before_); }
    TestLocale(const TestLocale&) = delete;
    TestLocale& operator=(const TestLocale&) = delete;

private:
    AppLocale before_;
};

} // namespace harkwell::testing
