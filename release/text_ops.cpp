#include "release/text_ops.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

namespace release {
namespace {

using Size = std::string_view::size_type;

// A byte of 0x80 or more leads a two-byte unit.
constexpr Size unitWidth(unsigned char lead) { return lead >= 0x80 ? 2 : 1; }

constexpr unsigned char asciiLower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

bool equalAt(std::string_view text, Size at, std::string_view needle, bool ignoreCase) {
    if (!ignoreCase) return std::memcmp(text.data() + at, needle.data(), needle.size()) == 0;
    for (Size i = 0; i < needle.size(); ++i)
        if (asciiLower(static_cast<unsigned char>(text[at + i])) != asciiLower(static_cast<unsigned char>(needle[i])))
            return false;
    return true;
}

std::uint64_t load(const char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// Marks every zero byte of word with its high bit, exactly (no carries between bytes).
constexpr std::uint64_t zeroBytes(std::uint64_t word) {
    constexpr std::uint64_t low7 = 0x7F7F7F7F7F7F7F7Full;
    return ~(((word & low7) + low7) | word | low7);
}

constexpr std::uint64_t everyByte(unsigned char c) { return 0x0101010101010101ull * c; }

// Index (0..7) in memory order of the byte that the lowest-addressed marked bit stands for.
int firstMarkedByte(std::uint64_t marks) {
    if constexpr (std::endian::native == std::endian::little) return std::countr_zero(marks) / 8;
    else return std::countl_zero(marks) / 8;
}

std::uint64_t withoutFirstMarked(std::uint64_t marks) {
    if constexpr (std::endian::native == std::endian::little) return marks & (marks - 1);
    else return marks & ~(std::uint64_t{1} << (63 - std::countl_zero(marks)));
}

// Tells whether candidates, offered in increasing order, begin a unit.
//
// A byte below 0x80 always ends a unit (it is a one-byte unit or a trail
// byte), so the byte after it begins one; each byte of 0x80 or more in the run
// that follows leads a two-byte unit. A candidate therefore begins a unit when
// the run of bytes of 0x80 or more just before it has even length. The run is
// only followed back to the last unit start already known, so all candidates
// together look at each byte at most once.
class UnitStarts {
public:
    UnitStarts(std::string_view text, Size from) : data_(text.data()), known_(from) {}

    bool at(Size candidate) {
        Size runStart = candidate;
        while (runStart > known_ && static_cast<unsigned char>(data_[runStart - 1]) >= 0x80) --runStart;
        const bool start = (candidate - runStart) % 2 == 0;
        known_ = start ? candidate : candidate + 1;  // otherwise candidate - 1 leads the unit over it
        return start;
    }

private:
    const char* data_;
    Size known_;  // a unit start at or before the next candidate
};

// Offset of the first unit start at or after from whose bytes equal needle.
// from must be a unit start; needle must not be empty.
//
// Candidates come from a byte search that ignores units; UnitStarts rejects a
// candidate that begins inside a unit.
Size findUnitMatch(std::string_view text, Size from, std::string_view needle, bool ignoreCase) {
    const Size n = needle.size();
    if (text.size() - from < n) return std::string_view::npos;
    const Size lastStart = text.size() - n;  // the last offset where the needle still fits
    const char* data = text.data();
    UnitStarts unitStarts(text, from);

    if (n == 1 && !ignoreCase) {
        for (Size at = from; at <= lastStart;) {
            const void* hit = std::memchr(data + at, needle[0], lastStart - at + 1);
            if (hit == nullptr) break;
            const Size candidate = static_cast<Size>(static_cast<const char*>(hit) - data);
            if (unitStarts.at(candidate)) return candidate;
            at = candidate + 1;
        }
        return std::string_view::npos;
    }

    Size at = from;
    if (!ignoreCase) {
        // Eight offsets at a time: a candidate has the needle's first byte at
        // its offset and the needle's last byte n - 1 further on; together the
        // two are rare even where each byte alone is common.
        const std::uint64_t first = everyByte(static_cast<unsigned char>(needle.front()));
        const std::uint64_t last = everyByte(static_cast<unsigned char>(needle.back()));
        for (; lastStart - at >= 8; at += 8) {
            std::uint64_t marks = zeroBytes(load(data + at) ^ first) & zeroBytes(load(data + at + n - 1) ^ last);
            for (; marks != 0; marks = withoutFirstMarked(marks)) {
                const Size candidate = at + static_cast<Size>(firstMarkedByte(marks));
                if (std::memcmp(data + candidate + 1, needle.data() + 1, n - 2) == 0 && unitStarts.at(candidate))
                    return candidate;
            }
        }
    }
    for (; at <= lastStart; ++at)
        if (equalAt(text, at, needle, ignoreCase) && unitStarts.at(at)) return at;
    return std::string_view::npos;
}

}  // namespace

Position findText(std::string_view text, std::string_view needle, Position start, bool ignoreCase) {
    const Size skip = start > 1 ? static_cast<Size>(start) - 1 : 0;
    if (skip >= text.size()) return NOT_FOUND;  // nothing left to search
    if (needle.empty()) return 1;
    const Size at = findUnitMatch(text, skip, needle, ignoreCase);
    return at == std::string_view::npos ? NOT_FOUND : static_cast<Position>(at + 1);
}

Text midText(std::string_view text, Position start, Position length) {
    const std::int64_t p = std::int64_t{start} - 1;
    if (p < 0 || p >= static_cast<std::int64_t>(text.size()) || length <= 0) return {};
    return Text(text.substr(static_cast<Size>(p), static_cast<Size>(length)));
}

Position textLength(std::string_view text) { return static_cast<Position>(text.size()); }

Text replaceAll(std::string_view text, std::string_view sought, std::string_view replacement) {
    if (text.empty() || sought.empty()) return Text(text);
    Text out;
    out.reserve(text.size());
    Size at = 0;
    while (text.size() - at >= sought.size()) {
        if (std::memcmp(text.data() + at, sought.data(), sought.size()) == 0) {
            out += replacement;
            at += sought.size();
        } else {
            const Size width = std::min(unitWidth(static_cast<unsigned char>(text[at])), text.size() - at);
            out.append(text, at, width);
            at += width;
        }
    }
    out.append(text, at);
    return out;
}

Text concatText(std::initializer_list<std::string_view> parts) {
    Size total = 0;
    for (std::string_view part : parts) total += part.size();
    Text out;
    out.reserve(total);
    for (std::string_view part : parts) out += part;
    return out;
}

Text bytesToText(std::string_view bytes) { return Text(bytes.substr(0, bytes.find('\0'))); }

Text textBetween(std::string_view text, std::string_view left, std::string_view right, Position start,
                 bool ignoreCase, Delimiters* found) {
    const Text l = replaceAll(left, QUOTE_PLACEHOLDER, "\"");
    const Text r = replaceAll(right, QUOTE_PLACEHOLDER, "\"");
    Position p = findText(text, l, start, ignoreCase);
    if (p != NOT_FOUND) p += textLength(l);
    const Position q = findText(text, r, p, ignoreCase);
    if (found != nullptr) *found = {p, q};
    if (p == NOT_FOUND || q == NOT_FOUND) return {};
    return midText(text, p, q - p);
}

}  // namespace release
