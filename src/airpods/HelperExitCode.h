#pragma once

#include <cstdint>

namespace harkwell {

// How a run of the AirPods helper ended: the value of its last "EXIT_CODE=" line, which is also
// its exit status. The application and the helper both take the codes from here.
namespace helperExitCode {

inline constexpr int32_t success = 0;
// Any other failure; the helper's message says why.
inline constexpr int32_t failure = 1;
// No connected AirPods.
inline constexpr int32_t notConnected = 2;
// Read as no connected AirPods too: the helper's answer format gives that meaning to both 2 and
// 7. ModeRelay itself always writes 2.
inline constexpr int32_t notConnectedAlternative = 7;
// The command line was not understood (EX_USAGE of sysexits.h).
inline constexpr int32_t usage = 64;

inline constexpr bool meansNotConnected(int32_t status) {
    return status == notConnected || status == notConnectedAlternative;
}

} // namespace helperExitCode

} // namespace harkwell
