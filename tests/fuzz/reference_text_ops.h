// Plain reference versions of the text operations, written
// straight from the rules with no shortcuts, for the fuzz targets to compare
// release/text_ops against. Slow on purpose: byte loops, no memchr, no word tricks.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace reference {

using Text = std::string;
using Position = std::int32_t;

inline bool isLead(char c) { return static_cast<unsigned char>(c) >= 0x80; }

inline char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::size_t skipFor(Position start) {
    return start > 1 ? static_cast<std::size_t>(start - 1) : 0;
}

// The unit starts of the bytes of text from offset skip on (zero-based offsets).
inline std::vector<std::size_t> unitStarts(std::string_view text, std::size_t skip) {
    std::vector<std::size_t> starts;
    std::size_t i = skip;
    while (i < text.size()) {
        starts.push_back(i);
        i += isLead(text[i]) ? 2 : 1;
    }
    return starts;
}

inline bool bytesEqual(std::string_view text, std::size_t at, std::string_view needle, bool ignoreCase) {
    if (text.size() - at < needle.size()) return false;
    for (std::size_t k = 0; k < needle.size(); ++k) {
        char a = text[at + k];
        char b = needle[k];
        if (ignoreCase) {
            a = lower(a);
            b = lower(b);
        }
        if (a != b) return false;
    }
    return true;
}

inline Position findText(std::string_view text, std::string_view needle, Position start, bool ignoreCase) {
    const std::size_t skip = skipFor(start);
    if (skip >= text.size()) return -1;
    if (needle.empty()) return 1;
    for (std::size_t at : unitStarts(text, skip)) {
        if (text.size() - at < needle.size()) return -1;
        if (bytesEqual(text, at, needle, ignoreCase)) return static_cast<Position>(at + 1);
    }
    return -1;
}

inline Text midText(std::string_view text, Position start, Position length) {
    const std::int64_t p = std::int64_t{start} - 1;
    if (p < 0 || p >= static_cast<std::int64_t>(text.size()) || length <= 0) return {};
    Text out;
    for (std::int64_t i = p; i < static_cast<std::int64_t>(text.size()) && i - p < length; ++i) out += text[i];
    return out;
}

inline Position textLength(std::string_view text) { return static_cast<Position>(text.size()); }

inline Text replaceAll(std::string_view text, std::string_view sought, std::string_view replacement) {
    if (text.empty() || sought.empty()) return Text(text);
    Text out;
    std::size_t at = 0;
    while (text.size() - at >= sought.size()) {
        if (bytesEqual(text, at, sought, false)) {
            out += replacement;
            at += sought.size();
        } else if (isLead(text[at]) && at + 1 < text.size()) {
            out += text[at];
            out += text[at + 1];
            at += 2;
        } else {
            out += text[at];
            at += 1;
        }
    }
    for (; at < text.size(); ++at) out += text[at];
    return out;
}

inline Text bytesToText(std::string_view bytes) {
    Text out;
    for (char c : bytes) {
        if (c == '\0') break;
        out += c;
    }
    return out;
}

// "#引号" in GB18030.
inline constexpr std::string_view QUOTE_PLACEHOLDER = "#\xD2\xFD\xBA\xC5";

inline Text textBetween(std::string_view text, std::string_view left, std::string_view right, Position start,
                        bool ignoreCase) {
    const Text l = replaceAll(left, QUOTE_PLACEHOLDER, "\"");
    const Text r = replaceAll(right, QUOTE_PLACEHOLDER, "\"");
    Position p = findText(text, l, start, ignoreCase);
    if (p != -1) p += textLength(l);
    const Position q = findText(text, r, p, ignoreCase);
    if (p == -1 || q == -1) return {};
    return midText(text, p, q - p);
}

}  // namespace reference
