#include "release/release_page_reader.h"

#include <algorithm>

#include "platform/encoding.h"
#include "platform/http.h"

namespace release {
namespace {

// The marker, the value up to the first end marker after it, then the sentinel.
// A missing marker or end marker leaves an empty slice: the sentinel alone.
Text rawLink(std::string_view pageText, std::string_view marker) {
    const Position a = findText(pageText, marker, 0, false);
    const Position c = findText(pageText, LINK_END_MARKER, a, false);
    return concatText({midText(pageText, a, c - a), LINK_SENTINEL});
}

// bytesToText of the converted page, keeping its buffer: a page of megabytes
// is not copied a second time.
Text pageTextOf(Text&& converted) {
    converted.resize(std::min(converted.find('\0'), converted.size()));
    return std::move(converted);
}

}  // namespace

void extractReleaseInfo(std::string_view body, ReleaseInfo& info) {
    info.pageText = pageTextOf(platform::convertEncoding(body, PAGE_ENCODING, TEXT_ENCODING).bytes);
    info.link1Raw = rawLink(info.pageText, LINK1_MARKER);
    info.link2Raw = rawLink(info.pageText, LINK2_MARKER);
    info.download1Url = textBetween(info.link1Raw, LINK1_MARKER, LINK_SENTINEL, 0, false);
    info.latestVersion = textBetween(info.download1Url, DOWNLOAD_URL_PREFIX, DOWNLOAD_URL_SUFFIX, 0, false);
    info.download2Url = textBetween(info.link2Raw, LINK2_MARKER, LINK_SENTINEL, 0, false);
}

void readReleasePage(ReleaseInfo& info) { extractReleaseInfo(platform::httpGet(RELEASE_PAGE_URL), info); }

}  // namespace release
