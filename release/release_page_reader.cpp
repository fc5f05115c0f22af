#include "release/release_page_reader.h"

#include <algorithm>

#include "platform/encoding.h"
#include "platform/http.h"

namespace release {
namespace {

// The marker, the value up to the first end marker after it, then the sentinel.
// A missing marker or end marker leaves an empty slice: the sentinel alone.
// found receives the positions of the marker and the end marker.
Text rawLink(std::string_view pageText, std::string_view marker, LinkTrace& found) {
    const Position a = findText(pageText, marker, 0, false);
    const Position c = findText(pageText, LINK_END_MARKER, a, false);
    found.marker = a;
    found.endMarker = c;
    return concatText({midText(pageText, a, c - a), LINK_SENTINEL});
}

// bytesToText of the converted page, keeping its buffer: a page of megabytes
// is not copied a second time.
Text pageTextOf(Text&& converted) {
    converted.resize(std::min(converted.find('\0'), converted.size()));
    return std::move(converted);
}

// Why the address taken from a raw link is empty, from where rawLink and
// textBetween found their delimiters; and the near misses a maintainer wants
// to hear about when a delimiter is missing.
void explainLink(std::string_view pageText, std::string_view marker, const Text& url, const Delimiters& value,
                 LinkTrace& link) {
    const Position valueLength = link.endMarker - link.marker - textLength(marker);
    if (value.afterLeft != NOT_FOUND) link.cutAtSentinel = value.right - value.afterLeft < valueLength;
    if (!url.empty()) return;
    if (pageText.empty()) {
        link.problem = LinkProblem::NoPageText;
    } else if (link.marker == NOT_FOUND) {
        link.problem = LinkProblem::NoMarker;
        link.markerInOtherCase = findText(pageText, marker, 0, true) != NOT_FOUND;
        const std::string_view name = marker.substr(0, marker.find(' ', 4));  // "var linkN"
        link.nameWithoutMarker = findText(pageText, name, 0, false) != NOT_FOUND;
    } else if (link.endMarker == NOT_FOUND) {
        link.problem = LinkProblem::NoEndMarker;
        link.endsInLfAlone = findText(pageText, "\";\n", link.marker, false) != NOT_FOUND;
    } else if (valueLength <= 0) {
        // Below zero, the end marker begins at the marker's own closing quote.
        link.problem = LinkProblem::EmptyValue;
    } else {
        link.problem = LinkProblem::SentinelFirst;
    }
}

VersionProblem explainVersion(const Text& download1Url, const Text& version, const Delimiters& found) {
    if (!version.empty()) return VersionProblem::None;
    if (download1Url.empty()) return VersionProblem::NoDownload1;
    if (found.afterLeft == NOT_FOUND) return VersionProblem::NoPrefix;
    if (found.right == NOT_FOUND) return VersionProblem::NoSuffix;
    return VersionProblem::NothingBetween;
}

}  // namespace

void extractReleaseInfo(std::string_view body, ReleaseInfo& info, ExtractionTrace* trace) {
    platform::Conversion converted = platform::convertEncoding(body, PAGE_ENCODING, TEXT_ENCODING);
    if (trace != nullptr) {
        PageTrace& page = trace->page;
        page.zeroByte = body.find('\0');
        if (body.empty())
            page.problem = PageProblem::NoBody;
        else if (!converted.ok)
            page.problem = converted.incomplete ? PageProblem::EndsInsideSequence : PageProblem::NotUtf8;
        else if (page.zeroByte == 0)
            page.problem = PageProblem::ZeroByteFirst;
        page.badOffset = converted.errorOffset;
    }
    info.pageText = pageTextOf(std::move(converted.bytes));
    LinkTrace link1;
    LinkTrace link2;
    info.link1Raw = rawLink(info.pageText, LINK1_MARKER, link1);
    info.link2Raw = rawLink(info.pageText, LINK2_MARKER, link2);
    Delimiters value1;
    Delimiters value2;
    Delimiters version;
    info.download1Url = textBetween(info.link1Raw, LINK1_MARKER, LINK_SENTINEL, 0, false, &value1);
    info.latestVersion = textBetween(info.download1Url, DOWNLOAD_URL_PREFIX, DOWNLOAD_URL_SUFFIX, 0, false, &version);
    info.download2Url = textBetween(info.link2Raw, LINK2_MARKER, LINK_SENTINEL, 0, false, &value2);
    if (trace == nullptr) return;

    const std::string_view page = info.pageText;
    trace->page.lfLineEndsOnly =
        page.find('\n') != std::string_view::npos && page.find("\r\n") == std::string_view::npos;
    explainLink(page, LINK1_MARKER, info.download1Url, value1, link1);
    explainLink(page, LINK2_MARKER, info.download2Url, value2, link2);
    trace->link1 = link1;
    trace->link2 = link2;
    trace->version = explainVersion(info.download1Url, info.latestVersion, version);
}

void readReleasePage(ReleaseInfo& info) { extractReleaseInfo(platform::httpGet(RELEASE_PAGE_URL), info); }

}  // namespace release
