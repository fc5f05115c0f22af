// Text operations on GB18030 byte texts.
//
// A text is a byte string in GB18030 without zero bytes. Positions are one-based
// byte offsets in a signed 32-bit integer; -1 means "not found". Scans move from
// unit to unit: a byte of 0x80 or more starts a two-byte unit, so a match is only
// tried where a unit begins and an ASCII needle never matches the trail byte of a
// two-byte character. (A four-byte GB18030 sequence is stepped as two units.)
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace release {

using Text = std::string;
using Position = std::int32_t;

inline constexpr Position NOT_FOUND = -1;

// "#引号": stands for a double quote inside a textBetween delimiter.
inline constexpr std::string_view QUOTE_PLACEHOLDER = "#\xD2\xFD\xBA\xC5";

// First match of needle at a unit start, searching from start (0, 1 and any
// negative value search from the first byte); -1 when there is none.
Position findText(std::string_view text, std::string_view needle, Position start = 0,
                  bool ignoreCase = false);

// Up to length bytes from the one-based start; empty when start is outside the
// text or length is not positive. Counts bytes, so it may split a character.
Text midText(std::string_view text, Position start, Position length);

Position textLength(std::string_view text);

// Every occurrence of sought (at unit starts, case-sensitive) replaced.
Text replaceAll(std::string_view text, std::string_view sought, std::string_view replacement);

Text concatText(std::initializer_list<std::string_view> parts);

// The bytes up to the first zero byte.
Text bytesToText(std::string_view bytes);

// Where textBetween found its delimiters.
struct Delimiters {
    Position afterLeft = NOT_FOUND;  // the first byte after the left delimiter
    Position right = NOT_FOUND;      // the right delimiter's first byte
};

// The text between the first left delimiter (from start) and the first right
// delimiter after it; empty when either is missing. QUOTE_PLACEHOLDER in a
// delimiter stands for a double quote. When found is given, it receives the
// positions the result was cut at.
Text textBetween(std::string_view text, std::string_view left, std::string_view right,
                 Position start = 0, bool ignoreCase = false, Delimiters* found = nullptr);

}  // namespace release
