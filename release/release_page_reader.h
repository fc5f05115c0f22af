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

// Derives every ReleaseInfo field from the response body (UTF-8 bytes).
// Pure: no network, no state.
void extractReleaseInfo(std::string_view body, ReleaseInfo& info);

// Fetches RELEASE_PAGE_URL and fills info from whatever body arrives.
void readReleasePage(ReleaseInfo& info);

}  // namespace release
