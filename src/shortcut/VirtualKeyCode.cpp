#include "shortcut/VirtualKeyCode.h"

#include <algorithm>
#include <iterator>

namespace harkwell {
namespace {

// Keysyms (X11 keysymdef.h) of the keys that are not characters.
constexpr std::uint32_t xkReturn = 0xff0d, xkTab = 0xff09, xkIsoLeftTab = 0xfe20, xkBackSpace = 0xff08,
                        xkEscape = 0xff1b, xkDelete = 0xffff, xkInsert = 0xff63, xkHome = 0xff50, xkEnd = 0xff57,
                        xkPrior = 0xff55, xkNext = 0xff56, xkLeft = 0xff51, xkUp = 0xff52, xkRight = 0xff53,
                        xkDown = 0xff54, xkF1 = 0xffbe, xkKp0 = 0xffb0;

constexpr VirtualKey table[] = {
    {0, 'a', "a"},
    {1, 's', "s"},
    {2, 'd', "d"},
    {3, 'f', "f"},
    {4, 'h', "h"},
    {5, 'g', "g"},
    {6, 'z', "z"},
    {7, 'x', "x"},
    {8, 'c', "c"},
    {9, 'v', "v"},
    {11, 'b', "b"},
    {12, 'q', "q"},
    {13, 'w', "w"},
    {14, 'e', "e"},
    {15, 'r', "r"},
    {16, 'y', "y"},
    {17, 't', "t"},
    {18, '1', "1"},
    {19, '2', "2"},
    {20, '3', "3"},
    {21, '4', "4"},
    {22, '6', "6"},
    {23, '5', "5"},
    {24, '=', "equal"},
    {25, '9', "9"},
    {26, '7', "7"},
    {27, '-', "minus"},
    {28, '8', "8"},
    {29, '0', "0"},
    {30, ']', "bracketright"},
    {31, 'o', "o"},
    {32, 'u', "u"},
    {33, '[', "bracketleft"},
    {34, 'i', "i"},
    {35, 'p', "p"},
    {36, xkReturn, "Return"},
    {37, 'l', "l"},
    {38, 'j', "j"},
    {39, '\'', "apostrophe"},
    {40, 'k', "k"},
    {41, ';', "semicolon"},
    {42, '\\', "backslash"},
    {43, ',', "comma"},
    {44, '/', "slash"},
    {45, 'n', "n"},
    {46, 'm', "m"},
    {47, '.', "period"},
    {48, xkTab, "Tab"},
    {49, ' ', "space"},
    {50, '`', "grave"},
    {51, xkBackSpace, "BackSpace"},
    {escapeVirtualKeyCode, xkEscape, "Escape"},
    {64, xkF1 + 16, "F17"},
    {65, 0xffae, "KP_Decimal"},
    {67, 0xffaa, "KP_Multiply"},
    {69, 0xffab, "KP_Add"},
    {75, 0xffaf, "KP_Divide"},
    {76, 0xff8d, "KP_Enter"},
    {78, 0xffad, "KP_Subtract"},
    {79, xkF1 + 17, "F18"},
    {80, xkF1 + 18, "F19"},
    {81, 0xffbd, "KP_Equal"},
    {82, xkKp0 + 0, "KP_0"},
    {83, xkKp0 + 1, "KP_1"},
    {84, xkKp0 + 2, "KP_2"},
    {85, xkKp0 + 3, "KP_3"},
    {86, xkKp0 + 4, "KP_4"},
    {87, xkKp0 + 5, "KP_5"},
    {88, xkKp0 + 6, "KP_6"},
    {89, xkKp0 + 7, "KP_7"},
    {90, xkF1 + 19, "F20"},
    {91, xkKp0 + 8, "KP_8"},
    {92, xkKp0 + 9, "KP_9"},
    {96, xkF1 + 4, "F5"},
    {97, xkF1 + 5, "F6"},
    {98, xkF1 + 6, "F7"},
    {99, xkF1 + 2, "F3"},
    {100, xkF1 + 7, "F8"},
    {101, xkF1 + 8, "F9"},
    {103, xkF1 + 10, "F11"},
    {105, xkF1 + 12, "F13"},
    {106, xkF1 + 15, "F16"},
    {107, xkF1 + 13, "F14"},
    {109, xkF1 + 9, "F10"},
    {111, xkF1 + 11, "F12"},
    {113, xkF1 + 14, "F15"},
    {114, xkInsert, "Insert"},
    {115, xkHome, "Home"},
    {116, xkPrior, "Prior"},
    {117, xkDelete, "Delete"},
    {118, xkF1 + 3, "F4"},
    {119, xkEnd, "End"},
    {120, xkF1 + 1, "F2"},
    {121, xkNext, "Next"},
    {122, xkF1 + 0, "F1"},
    {123, xkLeft, "Left"},
    {124, xkRight, "Right"},
    {125, xkDown, "Down"},
    {126, xkUp, "Up"},
};

// Other keysyms the same keys produce: with Shift on a US layout, and the keypad with Num Lock off.
struct Alias {
    std::uint32_t keysym;
    std::uint32_t code;
};
constexpr Alias aliases[] = {
    {'!', 18},          {'@', 19},    {'#', 20},    {'$', 21},    {'%', 23},    {'^', 22},    {'&', 26},
    {'*', 28},          {'(', 25},    {')', 29},    {'+', 24},    {'_', 27},    {'}', 30},    {'{', 33},
    {'"', 39},          {':', 41},    {'|', 42},    {'<', 43},    {'?', 44},    {'>', 47},    {'~', 50},
    {xkIsoLeftTab, 48}, {0xff9f, 65}, {0xff9e, 82}, {0xff9c, 83}, {0xff99, 84}, {0xff9b, 85}, {0xff96, 86},
    {0xff9d, 87},       {0xff98, 88}, {0xff95, 89}, {0xff97, 91}, {0xff9a, 92},
};

} // namespace

std::span<const VirtualKey> virtualKeys() { return table; }

std::optional<std::uint32_t> virtualKeyCodeFromKeysym(std::uint32_t keysym) {
    if (keysym >= 'A' && keysym <= 'Z') {
        keysym += 'a' - 'A';
    }
    for (const auto& key : table) {
        if (key.keysym == keysym) {
            return key.code;
        }
    }
    for (const auto& alias : aliases) {
        if (alias.keysym == keysym) {
            return alias.code;
        }
    }
    return std::nullopt;
}

std::optional<VirtualKey> virtualKeyFromCode(std::uint32_t code) {
    const auto* found =
        std::find_if(std::begin(table), std::end(table), [code](const VirtualKey& key) { return key.code == code; });
    if (found == std::end(table)) {
        return std::nullopt;
    }
    return *found;
}

} // namespace harkwell
