// Extraction of ReleaseInfo from page bodies (UTF-8 in, GB18030 out).
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/encoding.h"
#include "release/release_page_reader.h"

namespace release {
namespace {

const std::string PREFIX(DOWNLOAD_URL_PREFIX);
const std::string SUFFIX(DOWNLOAD_URL_SUFFIX);
const std::string SENTINEL(LINK_SENTINEL);
const std::string MARKER1(LINK1_MARKER);
const std::string MARKER2(LINK2_MARKER);
const std::string FIRST_URL = PREFIX + "7.14" + SUFFIX;
const std::string MIRROR_URL = "http://mirror.example/KALMERDINE_7.14.zip";

// The two assignments inside a small HTML page; eol ends every line.
std::string page(const std::string& link1Line, const std::string& link2Line, const std::string& eol = "\r\n") {
    return "<html><head><meta charset=\"utf-8\"><title>Orvelline 2016 中文版下载</title></head>" + eol +
           "<body><p>最新版本</p>" + eol + "<script>" + eol + link1Line + eol + link2Line + eol +
           "document.getElementById(\"d1\").href = link1;" + eol + "</script></body></html>" + eol;
}
std::string line1(const std::string& value) { return "var link1 = \"" + value + "\";"; }
std::string line2(const std::string& value) { return "var link2 = \"" + value + "\";"; }

// What a found value leaves in link1Raw / link2Raw.
std::string raw1(const std::string& value) { return MARKER1 + value + SENTINEL; }
std::string raw2(const std::string& value) { return MARKER2 + value + SENTINEL; }

std::string gb(const std::string& utf8) {
    const platform::Conversion c = platform::convertEncoding(utf8, "UTF-8", "GB18030");
    EXPECT_TRUE(c.ok) << "test data is not UTF-8";
    return c.bytes;
}

// Why each empty value is empty, as the extraction explains it.
struct Why {
    PageProblem page;
    LinkProblem link1;
    LinkProblem link2;
    VersionProblem version;
};

struct PageCase {
    const char* name;
    std::string body;  // UTF-8, as the server sends it
    // Expected ReleaseInfo, GB18030.
    std::string pageText;
    std::string link1Raw;
    std::string link2Raw;
    std::string download1Url;
    std::string latestVersion;
    std::string download2Url;
    Why why;
};

std::vector<PageCase> pageCases() {
    std::vector<PageCase> cases;
    auto add = [&](const char* name, const std::string& body, std::string pageText, std::string link1Raw,
                   std::string link2Raw, std::string d1, std::string version, std::string d2, Why why) {
        cases.push_back({name, body, std::move(pageText), std::move(link1Raw), std::move(link2Raw), std::move(d1),
                         std::move(version), std::move(d2), why});
    };
    {
        const std::string body = page(line1(FIRST_URL), line2(MIRROR_URL));
        add("CrlfPageYieldsVersionAndBothAddresses", body, gb(body), raw1(FIRST_URL), raw2(MIRROR_URL), FIRST_URL,
            "7.14", MIRROR_URL,
            {PageProblem::None, LinkProblem::None, LinkProblem::None, VersionProblem::None});
    }
    {
        const std::string body = page(line1(FIRST_URL), line2(MIRROR_URL), "\n");
        add("LfLineEndsOnlyLeaveAllEmpty", body, gb(body), SENTINEL, SENTINEL, "", "", "",
            {PageProblem::None, LinkProblem::NoEndMarker, LinkProblem::NoEndMarker, VersionProblem::NoDownload1});
    }
    {
        const std::string other = PREFIX + "9.99" + SUFFIX;
        const std::string body = page(line1(FIRST_URL) + "\r\n" + line1(other), line2(MIRROR_URL));
        add("FirstMarkerTwiceTakesFirstValue", body, gb(body), raw1(FIRST_URL), raw2(MIRROR_URL), FIRST_URL, "7.14",
            MIRROR_URL,
            {PageProblem::None, LinkProblem::None, LinkProblem::None, VersionProblem::None});
    }
    {
        const std::string value = PREFIX + "7.14后文本" + SUFFIX;
        const std::string body = page(line1(value), line2(MIRROR_URL));
        add("SentinelInsideValueCutsIt", body, gb(body), raw1(gb(value)), raw2(MIRROR_URL), PREFIX + "7.14", "",
            MIRROR_URL,
            {PageProblem::None, LinkProblem::None, LinkProblem::None, VersionProblem::NoSuffix});
    }
    {
        const std::string value = "http://redirect.example/?to=" + PREFIX + "7.15" + SUFFIX;
        const std::string body = page(line1(value), line2(MIRROR_URL));
        add("PrefixFurtherInsideValueStillGivesVersion", body, gb(body), raw1(value), raw2(MIRROR_URL), value, "7.15",
            MIRROR_URL,
            {PageProblem::None, LinkProblem::None, LinkProblem::None, VersionProblem::None});
    }
    {
        const std::string value = "http://other.example/KALMERDINE_7.14.zip";
        const std::string body = page(line1(value), line2(MIRROR_URL));
        add("FirstAddressWithoutPrefixKeepsAddressNotVersion", body, gb(body), raw1(value), raw2(MIRROR_URL), value,
            "", MIRROR_URL,
            {PageProblem::None, LinkProblem::None, LinkProblem::None, VersionProblem::NoPrefix});
    }
    {
        const std::string value = PREFIX + "7.14.zip";
        const std::string body = page(line1(value), line2(MIRROR_URL));
        add("FirstAddressWithoutSuffixKeepsAddressNotVersion", body, gb(body), raw1(value), raw2(MIRROR_URL), value,
            "", MIRROR_URL,
            {PageProblem::None, LinkProblem::None, LinkProblem::None, VersionProblem::NoSuffix});
    }
    {
        std::string body = page(line1(FIRST_URL), line2(MIRROR_URL));
        body.insert(body.find("<body>"), 1, '\xFF');
        add("OneInvalidUtf8ByteLeavesAllEmpty", body, "", SENTINEL, SENTINEL, "", "", "",
            {PageProblem::NotUtf8, LinkProblem::NoPageText, LinkProblem::NoPageText, VersionProblem::NoDownload1});
    }
    {
        std::string body = page(line1(FIRST_URL), line2(MIRROR_URL));
        body.insert(body.find("var link1"), "\xC3\x28");  // a lead byte with an ASCII byte after it
        add("BrokenTwoByteSequenceLeavesAllEmpty", body, "", SENTINEL, SENTINEL, "", "", "",
            {PageProblem::NotUtf8, LinkProblem::NoPageText, LinkProblem::NoPageText, VersionProblem::NoDownload1});
    }
    {
        std::string body = page(line1(FIRST_URL), line2(MIRROR_URL));
        body += "\xE4\xB8";  // the first two bytes of "中"
        add("IncompleteSequenceAtEndLeavesAllEmpty", body, "", SENTINEL, SENTINEL, "", "", "",
            {PageProblem::EndsInsideSequence, LinkProblem::NoPageText, LinkProblem::NoPageText, VersionProblem::NoDownload1});
    }
    {
        std::string body = page(line1(FIRST_URL), line2(MIRROR_URL));
        const std::string::size_type zero = body.find("var link2");
        body.insert(zero, 1, '\0');
        add("ZeroByteEndsPageTextHidingLaterMarker", body, gb(body.substr(0, zero)), raw1(FIRST_URL), SENTINEL,
            FIRST_URL, "7.14", "",
            {PageProblem::None, LinkProblem::None, LinkProblem::NoMarker, VersionProblem::None});
    }
    {
        const std::string body = std::string("<html>\0", 7) + page(line1(FIRST_URL), line2(MIRROR_URL));
        add("ZeroByteBeforeMarkersLeavesAllEmpty", body, "<html>", SENTINEL, SENTINEL, "", "", "",
            {PageProblem::None, LinkProblem::NoMarker, LinkProblem::NoMarker, VersionProblem::NoDownload1});
    }
    {
        const std::string body = page("var other = 1;", line2(MIRROR_URL));
        add("SecondMarkerOnlyFillsSecondAddressOnly", body, gb(body), SENTINEL, raw2(MIRROR_URL), "", "",
            MIRROR_URL,
            {PageProblem::None, LinkProblem::NoMarker, LinkProblem::None, VersionProblem::NoDownload1});
    }
    {
        const std::string body = page(line1(""), line2(MIRROR_URL));
        add("EmptyFirstValueLeavesFirstAddressEmpty", body, gb(body), raw1(""), raw2(MIRROR_URL), "", "", MIRROR_URL,
            {PageProblem::None, LinkProblem::EmptyValue, LinkProblem::None, VersionProblem::NoDownload1});
    }
    {
        // The marker's own quote is the end marker's quote: the slice lacks it, so
        // textBetween finds no marker.
        const std::string body = page("var link1 = \";", line2(MIRROR_URL));
        add("EndMarkerSharingMarkerQuoteLeavesFirstAddressEmpty", body, gb(body), "var link1 = " + SENTINEL,
            raw2(MIRROR_URL), "", "", MIRROR_URL,
            {PageProblem::None, LinkProblem::EmptyValue, LinkProblem::None, VersionProblem::NoDownload1});
    }
    {
        const std::string value = PREFIX + "7.14测试版𠀀" + SUFFIX;
        const std::string body = page(line1(value), line2(MIRROR_URL));
        add("NonAsciiVersionConvertedToGb18030", body, gb(body), raw1(gb(value)), raw2(MIRROR_URL), gb(value),
            "7.14\xB2\xE2\xCA\xD4\xB0\xE6\x95\x32\x82\x36", MIRROR_URL,
            {PageProblem::None, LinkProblem::None, LinkProblem::None, VersionProblem::None});
    }
    {
        const std::string body = page(line1("http://x.example/a.zip") + "\n", line2(MIRROR_URL));
        // No end marker on the first line: its value runs on to the end of the second assignment.
        const std::string runOn = "http://x.example/a.zip\";\n\r\n" + MARKER2 + MIRROR_URL;
        add("LfAfterFirstValueRunsIntoSecond", body, gb(body), raw1(runOn), raw2(MIRROR_URL), runOn, "",
            MIRROR_URL,
            {PageProblem::None, LinkProblem::None, LinkProblem::None, VersionProblem::NoPrefix});
    }
    {
        const std::string value = "http://x.example/\"q\";/a.zip";
        const std::string body = page(line1(value), line2(MIRROR_URL));
        add("QuotesInsideValueKept", body, gb(body), raw1(value), raw2(MIRROR_URL), value, "", MIRROR_URL,
            {PageProblem::None, LinkProblem::None, LinkProblem::None, VersionProblem::NoPrefix});
    }
    {
        const std::string body = "<p>后文本</p>\r\n" + page(line1(FIRST_URL), line2(MIRROR_URL));
        add("SentinelElsewhereInPageIgnored", body, gb(body), raw1(FIRST_URL), raw2(MIRROR_URL), FIRST_URL, "7.14",
            MIRROR_URL,
            {PageProblem::None, LinkProblem::None, LinkProblem::None, VersionProblem::None});
    }
    {
        const std::string body = page("VAR LINK1 = \"" + FIRST_URL + "\";", line2(MIRROR_URL));
        add("MarkerIsCaseSensitive", body, gb(body), SENTINEL, raw2(MIRROR_URL), "", "", MIRROR_URL,
            {PageProblem::None, LinkProblem::NoMarker, LinkProblem::None, VersionProblem::NoDownload1});
    }
    {
        const std::string body = page("var link1 =\"" + FIRST_URL + "\";", line2(MIRROR_URL));
        add("MarkerSpacingMustMatch", body, gb(body), SENTINEL, raw2(MIRROR_URL), "", "", MIRROR_URL,
            {PageProblem::None, LinkProblem::NoMarker, LinkProblem::None, VersionProblem::NoDownload1});
    }
    add("EmptyBodyLeavesAllEmpty", "", "", SENTINEL, SENTINEL, "", "", "",
            {PageProblem::NoBody, LinkProblem::NoPageText, LinkProblem::NoPageText, VersionProblem::NoDownload1});
    return cases;
}

class ExtractReleaseInfoTest : public testing::TestWithParam<PageCase> {};

TEST_P(ExtractReleaseInfoTest, Fields) {
    const PageCase& c = GetParam();
    ReleaseInfo info;
    extractReleaseInfo(c.body, info);
    EXPECT_EQ(info.pageText, c.pageText);
    EXPECT_EQ(info.link1Raw, c.link1Raw);
    EXPECT_EQ(info.link2Raw, c.link2Raw);
    EXPECT_EQ(info.download1Url, c.download1Url);
    EXPECT_EQ(info.latestVersion, c.latestVersion);
    EXPECT_EQ(info.download2Url, c.download2Url);
}

// The trace comes from the same run: the same fields, each empty value explained,
// and the positions it names are the ones the raw links were cut at.
TEST_P(ExtractReleaseInfoTest, TraceExplainsEveryEmptyValue) {
    const PageCase& c = GetParam();
    ReleaseInfo info;
    ExtractionTrace trace;
    extractReleaseInfo(c.body, info, &trace);
    EXPECT_EQ(info.download1Url, c.download1Url);
    EXPECT_EQ(trace.page.problem, c.why.page);
    EXPECT_EQ(trace.link1.problem, c.why.link1);
    EXPECT_EQ(trace.link2.problem, c.why.link2);
    EXPECT_EQ(trace.version, c.why.version);
    EXPECT_EQ(trace.link1.problem == LinkProblem::None, !info.download1Url.empty());
    EXPECT_EQ(trace.link2.problem == LinkProblem::None, !info.download2Url.empty());
    EXPECT_EQ(trace.version == VersionProblem::None, !info.latestVersion.empty());
    for (const auto& [link, raw] : {std::pair{trace.link1, info.link1Raw}, std::pair{trace.link2, info.link2Raw}}) {
        if (link.marker == NOT_FOUND || link.endMarker == NOT_FOUND) continue;
        EXPECT_EQ(raw, midText(info.pageText, link.marker, link.endMarker - link.marker) + SENTINEL);
    }
}

INSTANTIATE_TEST_SUITE_P(Pages, ExtractReleaseInfoTest, testing::ValuesIn(pageCases()),
                         [](const testing::TestParamInfo<PageCase>& info) { return info.param.name; });

// What the trace tells a page's maintainer beyond the problem: where the body
// stopped converting or holds a zero byte, and the near misses of link1.
struct TraceDetailCase {
    const char* name;
    std::string body;
    std::size_t badOffset;
    std::size_t zeroByte;
    bool lfLineEndsOnly;
    bool markerInOtherCase;
    bool nameWithoutMarker;
    bool endsInLfAlone;
    bool cutAtSentinel;
};

TEST(ExtractionTrace, NamesOffsetsAndNearMisses) {
    const std::string good = page(line1(FIRST_URL), line2(MIRROR_URL));
    const std::size_t at = good.find("<body>");
    const std::size_t npos = std::string::npos;
    const TraceDetailCase cases[] = {
        {"Good", good, 0, npos, false, false, false, false, false},
        {"InvalidByte", good.substr(0, at) + "\xFF" + good.substr(at), at, npos, false, false, false, false, false},
        {"CutSequence", good + "\xE4\xB8", good.size(), npos, false, false, false, false, false},
        {"ZeroByte", good.substr(0, at) + std::string(1, '\0') + good.substr(at), 0, at, false, false, false, false,
         false},
        {"LfPage", page(line1(FIRST_URL), line2(MIRROR_URL), "\n"), 0, npos, true, false, false, true, false},
        {"FirstLineEndsInLf", page(line1(FIRST_URL) + "\n", line2(MIRROR_URL)) + "x", 0, npos, false, false, false,
         false, false},
        {"OtherCase", page("VAR LINK1 = \"" + FIRST_URL + "\";", line2(MIRROR_URL)), 0, npos, false, true, false,
         false, false},
        {"NameOnly", page("var link1 =\"" + FIRST_URL + "\";", line2(MIRROR_URL)), 0, npos, false, false, true, false,
         false},
        {"SentinelInValue", page(line1(PREFIX + "7.14后文本" + SUFFIX), line2(MIRROR_URL)), 0, npos, false, false,
         false, false, true},
    };
    for (const TraceDetailCase& c : cases) {
        SCOPED_TRACE(c.name);
        ReleaseInfo info;
        ExtractionTrace trace;
        extractReleaseInfo(c.body, info, &trace);
        EXPECT_EQ(trace.page.badOffset, c.badOffset);
        EXPECT_EQ(trace.page.zeroByte, c.zeroByte);
        EXPECT_EQ(trace.page.lfLineEndsOnly, c.lfLineEndsOnly);
        EXPECT_EQ(trace.link1.markerInOtherCase, c.markerInOtherCase);
        EXPECT_EQ(trace.link1.nameWithoutMarker, c.nameWithoutMarker);
        EXPECT_EQ(trace.link1.endsInLfAlone, c.endsInLfAlone);
        EXPECT_EQ(trace.link1.cutAtSentinel, c.cutAtSentinel);
        EXPECT_FALSE(trace.link2.cutAtSentinel);
    }
}

// The bundled sample page, with its loopback prefix replaced by this build's.
TEST(SampleReleasePage, YieldsVersionAndBothAddresses) {
    std::ifstream file(TESSMOOR_SAMPLE_PAGE, std::ios::binary);
    ASSERT_TRUE(file) << TESSMOOR_SAMPLE_PAGE;
    std::string body((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::string samplePrefix = "http://127.0.0.1:47613/KALMERDINE_";
    const std::string::size_type at = body.find(samplePrefix);
    ASSERT_NE(at, std::string::npos);
    body.replace(at, samplePrefix.size(), PREFIX);

    ReleaseInfo info;
    extractReleaseInfo(body, info);
    EXPECT_EQ(info.latestVersion, "7.14");
    EXPECT_EQ(info.download1Url, PREFIX + "7.14.zip?update=21");
    EXPECT_EQ(info.download2Url, "http://127.0.0.1:47613/mirror/KALMERDINE_7.14.zip");
}

// A page whose GB18030 text is longer than its UTF-8 body: the converted text
// outgrows its first guess and still comes out whole, and back again.
TEST(PageConversion, TextLongerThanTheBody) {
    std::string body;
    std::string pageText;
    for (int i = 0; i < 5000; ++i) {
        body += "\xC3\x80";              // À: two bytes in UTF-8,
        pageText += "\x81\x30\x86\x38";  // four in GB18030
    }
    body += line1(PREFIX + "7.14.zip?update=21") + "\r\n";
    pageText += line1(PREFIX + "7.14.zip?update=21") + "\r\n";

    ReleaseInfo info;
    extractReleaseInfo(body, info);
    EXPECT_EQ(info.pageText, pageText);
    EXPECT_EQ(info.latestVersion, "7.14");
    EXPECT_EQ(platform::gb18030ToUtf8(pageText), body);
}

TEST(ReleaseConstants, MarkersAsSpecified) {
    EXPECT_EQ(LINK1_MARKER.size(), 13u);
    EXPECT_EQ(LINK2_MARKER.size(), 13u);
    EXPECT_EQ(LINK_END_MARKER, std::string_view("\x22\x3B\x0D", 3));
    EXPECT_EQ(LINK_SENTINEL, std::string_view("\xBA\xF3\xCE\xC4\xB1\xBE", 6));
    EXPECT_EQ(DOWNLOAD_URL_SUFFIX, ".zip?update=21");
    EXPECT_EQ(RELEASE_PAGE_URL.substr(0, 7), "http://");
    EXPECT_EQ(DOWNLOAD_URL_PREFIX.substr(0, 7), "http://");
}

}  // namespace
}  // namespace release
