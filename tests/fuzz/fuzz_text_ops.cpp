// Fuzzes the text operations of release/text_ops against the plain reference
// in reference_text_ops.h and against invariants that hold whatever the input.
//
// Input layout (seeds in corpus/fuzz_text_ops are written in it):
//   byte 0      flags: bit 0 ignoreCase; bits 1-2 how the start position is
//               made, bits 3-4 how the length is made (see number())
//   bytes 1-2   start, signed 16-bit little-endian
//   bytes 3-4   length, signed 16-bit little-endian
//   the rest    raw bytes for bytesToText; split at zero bytes into
//               text, needle (left delimiter, sought text) and a third part
//               (right delimiter, replacement)
#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "release/text_ops.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/reference_text_ops.h"

namespace {

// A position or length: a small signed value, one near either end of the
// 32-bit range, or one relative to the text's length (to reach "one past the
// last byte" and its neighbours easily).
std::int32_t number(unsigned mode, std::int16_t raw, std::size_t textSize) {
    switch (mode & 3) {
        case 0: return raw;
        case 1: return INT32_MAX - static_cast<std::uint16_t>(raw);
        case 2: return INT32_MIN + static_cast<std::uint16_t>(raw);
        default: return static_cast<std::int32_t>(textSize) + raw;
    }
}

bool isUnitStart(std::string_view text, std::size_t skip, std::size_t at) {
    for (std::size_t s : reference::unitStarts(text, skip))
        if (s == at) return true;
    return false;
}

bool occursAt(std::string_view text, std::size_t at, std::string_view part) {
    return at <= text.size() && text.size() - at >= part.size() && text.substr(at, part.size()) == part;
}

void checkFindText(std::string_view text, std::string_view needle, std::int32_t start, bool ignoreCase) {
    const release::Position got = release::findText(text, needle, start, ignoreCase);
    FUZZ_CHECK(got == reference::findText(text, needle, start, ignoreCase));
    FUZZ_CHECK(got == -1 || (got >= 1 && static_cast<std::size_t>(got) <= text.size()));
    const std::size_t skip = reference::skipFor(start);
    if (needle.empty()) {
        // Position 1 whenever anything is left to search, whatever the start.
        FUZZ_CHECK(got == (skip < text.size() ? 1 : -1));
        return;
    }
    if (got != -1) {
        const std::size_t at = static_cast<std::size_t>(got) - 1;
        FUZZ_CHECK(at >= skip);
        FUZZ_CHECK(isUnitStart(text, skip, at));
        FUZZ_CHECK(reference::bytesEqual(text, at, needle, ignoreCase));
        if (!ignoreCase) FUZZ_CHECK(occursAt(text, at, needle));
    }
    // Ignoring case can only find the same match or an earlier one.
    if (!ignoreCase && got != -1) {
        const release::Position folded = release::findText(text, needle, start, true);
        FUZZ_CHECK(folded != -1 && folded <= got);
    }
    // Start positions 0, 1 and every negative one all search from the first byte.
    if (start <= 1) FUZZ_CHECK(got == release::findText(text, needle, 0, ignoreCase));
}

void checkMidText(std::string_view text, std::int32_t start, std::int32_t length) {
    const release::Text got = release::midText(text, start, length);
    FUZZ_CHECK(got == reference::midText(text, start, length));
    if (!got.empty()) {
        FUZZ_CHECK(length > 0 && got.size() <= static_cast<std::size_t>(length));
        FUZZ_CHECK(start >= 1 && occursAt(text, static_cast<std::size_t>(start) - 1, got));
    }
}

void checkReplaceAll(std::string_view text, std::string_view sought, std::string_view replacement) {
    const release::Text got = release::replaceAll(text, sought, replacement);
    FUZZ_CHECK(got == reference::replaceAll(text, sought, replacement));
    if (sought == replacement) FUZZ_CHECK(got == text);
    if (text.empty() || sought.empty()) {
        FUZZ_CHECK(got == text);
        return;
    }
    // The first replacement lands where findText finds the first occurrence.
    const release::Position first = release::findText(text, sought, 0, false);
    if (first == -1) {
        FUZZ_CHECK(got == text);
    } else {
        const std::string expectedHead = std::string(text.substr(0, first - 1)) + std::string(replacement);
        FUZZ_CHECK(got.compare(0, expectedHead.size(), expectedHead) == 0);
    }
}

void checkTextBetween(std::string_view text, std::string_view left, std::string_view right, std::int32_t start,
                      bool ignoreCase) {
    const release::Text got = release::textBetween(text, left, right, start, ignoreCase);
    FUZZ_CHECK(got == reference::textBetween(text, left, right, start, ignoreCase));
    if (got.empty()) return;
    // A non-empty result is a slice of the text, preceded by the left delimiter
    // and holding no right delimiter at any of its own unit starts.
    FUZZ_CHECK(text.find(got) != std::string_view::npos);
    const std::string l = reference::replaceAll(left, reference::QUOTE_PLACEHOLDER, "\"");
    const std::string r = reference::replaceAll(right, reference::QUOTE_PLACEHOLDER, "\"");
    FUZZ_CHECK(!r.empty());
    FUZZ_CHECK(release::findText(got, r, 0, ignoreCase) == -1);
    if (!ignoreCase) FUZZ_CHECK(text.find(l + got) != std::string_view::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) return 0;
    const unsigned flags = data[0];
    const bool ignoreCase = (flags & 1) != 0;
    const auto rawStart = static_cast<std::int16_t>(data[1] | (data[2] << 8));
    const auto rawLength = static_cast<std::int16_t>(data[3] | (data[4] << 8));
    const std::string_view rest(reinterpret_cast<const char*>(data) + 5, size - 5);

    // bytesToText sees the raw bytes, zero bytes included.
    const release::Text fromBytes = release::bytesToText(rest);
    FUZZ_CHECK(fromBytes == reference::bytesToText(rest));
    FUZZ_CHECK(fromBytes.find('\0') == std::string::npos);
    FUZZ_CHECK(rest.substr(0, fromBytes.size()) == fromBytes);

    // Texts never hold a zero byte, so the zero bytes separate the arguments.
    std::string_view parts[3];
    std::string_view remaining = rest;
    for (int i = 0; i < 3; ++i) {
        const std::size_t cut = i < 2 ? remaining.find('\0') : std::string_view::npos;
        parts[i] = remaining.substr(0, cut);
        remaining = cut == std::string_view::npos ? std::string_view() : remaining.substr(cut + 1);
    }
    const std::string_view text = parts[0], needle = parts[1], third = parts[2];
    const std::int32_t start = number(flags >> 1, rawStart, text.size());
    const std::int32_t length = number(flags >> 3, rawLength, text.size());

    FUZZ_CHECK(release::textLength(text) == reference::textLength(text));
    checkFindText(text, needle, start, ignoreCase);
    checkFindText(text, needle, start, !ignoreCase);
    checkMidText(text, start, length);
    checkReplaceAll(text, needle, third);
    checkTextBetween(text, needle, third, start, ignoreCase);

    const release::Text joined = release::concatText({text, needle, third});
    FUZZ_CHECK(joined == std::string(text) + std::string(needle) + std::string(third));
    FUZZ_CHECK(release::concatText({}).empty());
    FUZZ_CHECK(release::concatText({needle}) == needle);
    return 0;
}
