// Fuzzes release::extractReleaseInfo with arbitrary response bodies: no crash,
// no read outside a buffer (AddressSanitizer), and every field exactly what
// the release reader derives, re-derived here with the plain reference operations,
// plus the slices the rules allow: link1Raw ends with the sentinel,
// download1Url is a slice of pageText, latestVersion a slice of download1Url.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/encoding.h"
#include "release/release_page_reader.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/reference_text_ops.h"

namespace {

struct Utf8Scan {
    bool valid = true;        // well-formed UTF-8 (RFC 3629: no overlongs, no surrogates, at most U+10FFFF)
    bool privateUse = false;  // holds a code point of U+E000..U+F8FF
};

// Decodes strictly, independently of iconv.
Utf8Scan scanUtf8(std::string_view bytes) {
    Utf8Scan scan;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto b0 = static_cast<unsigned char>(bytes[i]);
        std::size_t n;
        std::uint32_t cp;
        if (b0 < 0x80) {
            n = 1;
            cp = b0;
        } else if (b0 >= 0xC2 && b0 <= 0xDF) {
            n = 2;
            cp = b0 & 0x1F;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            n = 3;
            cp = b0 & 0x0F;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            n = 4;
            cp = b0 & 0x07;
        } else {
            scan.valid = false;
            return scan;
        }
        if (bytes.size() - i < n) {
            scan.valid = false;
            return scan;
        }
        for (std::size_t k = 1; k < n; ++k) {
            const auto b = static_cast<unsigned char>(bytes[i + k]);
            if ((b & 0xC0) != 0x80) {
                scan.valid = false;
                return scan;
            }
            cp = (cp << 6) | (b & 0x3F);
        }
        const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            scan.valid = false;
            return scan;
        }
        if (cp >= 0xE000 && cp <= 0xF8FF) scan.privateUse = true;
        i += n;
    }
    return scan;
}

bool isAscii(std::string_view bytes) {
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

bool endsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

void checkPageText(std::string_view body, const std::string& pageText) {
    FUZZ_CHECK(pageText.find('\0') == std::string::npos);
    const Utf8Scan scan = scanUtf8(body);
    if (!scan.valid) {
        FUZZ_CHECK(pageText.empty());  // all or nothing: no partial text
        return;
    }
    const std::string upToZero = reference::bytesToText(body);
    if (isAscii(body)) FUZZ_CHECK(pageText == upToZero);  // GB18030 keeps ASCII as it is
    // glibc's GB18030 table leaves a few private-use code points unmapped, so a
    // body with private-use characters may fail to convert (and then yields nothing).
    if (scan.privateUse && pageText.empty()) return;
    // Converting back gives the body up to its first zero byte: nothing lost, nothing added.
    FUZZ_CHECK(platform::gb18030ToUtf8(pageText) == upToZero);
}

void checkLink(const std::string& pageText, std::string_view marker, const std::string& raw, const std::string& url) {
    using namespace release;
    // The marker slice and textBetween of the reader, with the reference operations.
    const reference::Position a = reference::findText(pageText, marker, 0, false);
    const reference::Position c = reference::findText(pageText, LINK_END_MARKER, a, false);
    FUZZ_CHECK(raw == reference::midText(pageText, a, c - a) + std::string(LINK_SENTINEL));
    FUZZ_CHECK(url == reference::textBetween(raw, marker, LINK_SENTINEL, 0, false));

    FUZZ_CHECK(endsWith(raw, LINK_SENTINEL));
    const std::string_view slice = std::string_view(raw).substr(0, raw.size() - LINK_SENTINEL.size());
    // The slice starts with the marker, except for an empty value: then the end
    // marker begins at the marker's closing quote and the slice lacks that quote.
    FUZZ_CHECK(slice.empty() || slice.substr(0, marker.size()) == marker ||
               slice == marker.substr(0, marker.size() - 1));
    FUZZ_CHECK(contains(pageText, slice));
    // The slice stops at the first end marker at a unit start after the marker.
    FUZZ_CHECK(release::findText(slice, LINK_END_MARKER, 0, false) == -1);
    if (!url.empty()) {
        FUZZ_CHECK(contains(pageText, url));
        FUZZ_CHECK(contains(pageText, std::string(marker) + url));
        FUZZ_CHECK(raw.compare(0, marker.size() + url.size(), std::string(marker) + url) == 0);
        FUZZ_CHECK(release::findText(url, LINK_SENTINEL, 0, false) == -1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace release;
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    ReleaseInfo info;
    extractReleaseInfo(body, info);

    checkPageText(body, info.pageText);
    checkLink(info.pageText, LINK1_MARKER, info.link1Raw, info.download1Url);
    checkLink(info.pageText, LINK2_MARKER, info.link2Raw, info.download2Url);

    FUZZ_CHECK(info.latestVersion ==
               reference::textBetween(info.download1Url, DOWNLOAD_URL_PREFIX, DOWNLOAD_URL_SUFFIX, 0, false));
    if (!info.latestVersion.empty()) {
        FUZZ_CHECK(contains(info.download1Url, info.latestVersion));
        FUZZ_CHECK(contains(info.download1Url, std::string(DOWNLOAD_URL_PREFIX) + info.latestVersion +
                                                   std::string(DOWNLOAD_URL_SUFFIX)));
    }
    if (info.pageText.empty()) {
        FUZZ_CHECK(info.link1Raw == LINK_SENTINEL && info.link2Raw == LINK_SENTINEL);
        FUZZ_CHECK(info.download1Url.empty() && info.latestVersion.empty() && info.download2Url.empty());
    }
    return 0;
}
