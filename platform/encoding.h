// Conversions between encodings, through iconv.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

struct Conversion {
    std::string bytes;         // the whole converted input, or empty when !ok
    bool ok = false;
    std::size_t errorOffset = 0;  // where the input stopped converting, when !ok
    bool incomplete = false;      // when !ok: the input ended inside a sequence that began at errorOffset
};

// Converts all of input in one conversion. All or nothing: an invalid or
// incomplete sequence anywhere yields no bytes. Empty input converts to no bytes.
Conversion convertEncoding(std::string_view input, const char* fromCode, const char* toCode);

// Shorthands for the conversions at the operating-system boundary; empty on failure.
std::string gb18030ToUtf8(std::string_view gb18030);
std::string utf8ToGb18030(std::string_view utf8);

}  // namespace platform
