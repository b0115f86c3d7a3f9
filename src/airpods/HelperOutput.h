#pragma once

#include "airpods/CommandResult.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace harkwell {

// The non-empty lines of `text`, split at every line break: line feed, carriage return, the
// carriage-return line-feed pair, vertical tab, form feed, U+0085, U+2028 and U+2029.
std::vector<std::string_view> helperOutputLines(std::string_view text);

// The value of the last line that begins with "EXIT_CODE=": a decimal 32-bit integer with an
// optional sign and nothing else. None when there is no such line or its value does not parse
// (earlier exit-code lines are not consulted then).
std::optional<int32_t> parseExitCode(std::string_view text);

// Cuts `text`, which was cut after a byte limit, back to the end of its last whole UTF-8
// character, so that the cut does not make it ill-formed.
void dropIncompleteUtf8Tail(std::string& text);

// Combines what a helper left behind into its result: the output file's text, then what it
// printed, each trimmed and counted as empty when it is not well-formed UTF-8. The status is the
// exit-code line's value, else `exitStatus`.
CommandResult commandResultFromHelperOutput(std::string_view fileText, std::string_view printedText,
                                            int32_t exitStatus);

} // namespace harkwell
