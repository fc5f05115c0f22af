// Reading the release page: the two download addresses and the latest version.
#pragma once

#include <cstddef>
#include <string_view>

#include "release/text_ops.h"

namespace release {

// Everything taken from the release page, in the order it is derived.
// Empty texts stand for "not found"; nothing else reports a failure.
struct ReleaseInfo {
    Text pageText;
    Text link1Raw;
    Text link2Raw;
    Text download1Url;
    Text latestVersion;
    Text download2Url;
};

// Built in at compile time (CMake cache variables of the same names).
extern const std::string_view RELEASE_PAGE_URL;
extern const std::string_view DOWNLOAD_URL_PREFIX;

inline constexpr std::string_view LINK1_MARKER = "var link1 = \"";
inline constexpr std::string_view LINK2_MARKER = "var link2 = \"";
inline constexpr std::string_view LINK_END_MARKER = "\";\r";
// "后文本": appended after each slice so that textBetween always has a right delimiter.
inline constexpr std::string_view LINK_SENTINEL = "\xBA\xF3\xCE\xC4\xB1\xBE";
inline constexpr std::string_view DOWNLOAD_URL_SUFFIX = ".zip?update=21";

inline constexpr const char* PAGE_ENCODING = "UTF-8";
inline constexpr const char* TEXT_ENCODING = "GB18030";

// Why pageText is empty.
enum class PageProblem {
    None,
    NoBody,              // the body is empty
    NotUtf8,             // a byte sequence that is not UTF-8, at badOffset
    EndsInsideSequence,  // the body ends inside a UTF-8 sequence that begins at badOffset
    ZeroByteFirst,       // the body begins with a zero byte, where the page text ends
};

// Why a download address is empty.
enum class LinkProblem {
    None,
    NoPageText,
    NoMarker,         // pageText has no link marker
    NoEndMarker,      // no LINK_END_MARKER after the marker
    EmptyValue,       // the end marker follows the marker directly
    SentinelFirst,    // the value begins with LINK_SENTINEL
};

// Why latestVersion is empty.
enum class VersionProblem {
    None,
    NoDownload1,     // download1Url is empty
    NoPrefix,        // download1Url does not contain DOWNLOAD_URL_PREFIX
    NoSuffix,        // no DOWNLOAD_URL_SUFFIX after the prefix
    NothingBetween,  // the suffix follows the prefix directly
};

struct PageTrace {
    PageProblem problem = PageProblem::None;
    std::size_t badOffset = 0;                      // byte offset in the body, for NotUtf8 and EndsInsideSequence
    std::size_t zeroByte = std::string_view::npos;  // byte offset in the body of the zero byte that ends pageText
    bool lfLineEndsOnly = false;                    // the page ends lines in LF and nowhere in CR LF
};

// One link as the extraction found it; positions are one-based in pageText.
struct LinkTrace {
    Position marker = NOT_FOUND;     // the marker's first byte
    Position endMarker = NOT_FOUND;  // the first end marker from the marker's first byte on
    LinkProblem problem = LinkProblem::None;
    bool cutAtSentinel = false;  // the value holds LINK_SENTINEL, where the address stops
    // Near misses, looked for only when the marker or its end marker is missing:
    bool markerInOtherCase = false;  // the marker is there with other letter case
    bool nameWithoutMarker = false;  // "var linkN" is there, not followed by exactly ' = "'
    bool endsInLfAlone = false;      // a double quote and semicolon follow, then LF without CR
};

// How extractReleaseInfo came to each value: what release-check explains.
struct ExtractionTrace {
    PageTrace page;
    LinkTrace link1;
    LinkTrace link2;
    VersionProblem version = VersionProblem::None;
};

// Derives every ReleaseInfo field from the response body (UTF-8 bytes).
// Pure: no network, no state. When trace is given, it receives where each
// value was found and why an empty one is empty.
void extractReleaseInfo(std::string_view body, ReleaseInfo& info, ExtractionTrace* trace = nullptr);

// Fetches RELEASE_PAGE_URL and fills info from whatever body arrives.
void readReleasePage(ReleaseInfo& info);

}  // namespace release
