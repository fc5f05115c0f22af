// platform::httpGet against the loopback release server, which
// run_with_server.py starts and describes in the environment. Every request
// names its test in the query, so each test finds its own lines in the log.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/http.h"
#include "release/release_page_reader.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

const std::string SERVER = environment("TESSMOOR_SERVER_URL");  // http://127.0.0.1:PORT

std::string url(const std::string& path) { return SERVER + path; }

std::string readFile(const std::string& name) {
    std::ifstream file(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The page as the server sends it: its built-in loopback address rewritten to the server's.
std::string servedPage() {
    std::string page = readFile(environment("TESSMOOR_SERVER_PAGE"));
    const std::string builtIn = "127.0.0.1:47613";
    const std::string host = SERVER.substr(std::string("http://").size());
    for (std::size_t at = page.find(builtIn); at != std::string::npos; at = page.find(builtIn, at + host.size()))
        page.replace(at, builtIn.size(), host);
    return page;
}

// The server's log lines (JSON) of the requests whose request line holds fragment.
std::vector<std::string> requestsWith(const std::string& fragment) {
    std::ifstream log(environment("TESSMOOR_SERVER_LOG"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);) {
        const std::size_t end = line.find("\", \"headers\"");
        if (line.find(fragment) < end) lines.push_back(line);
    }
    return lines;
}

std::string header(const std::string& name, const std::string& value) {
    return "[\"" + name + "\", \"" + value + "\"]";
}

platform::HttpLimits shortLimits() {
    platform::HttpLimits limits;
    limits.connectTimeout = 1000ms;
    limits.totalTimeout = 1000ms;
    return limits;
}

class HttpGet : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(SERVER.empty()) << "run through tests/integration/run_with_server.py";
    }
};

TEST_F(HttpGet, SendsTheUpdatersRequestDirectlyDespiteProxySettings) {
    ASSERT_FALSE(environment("http_proxy").empty()) << "the runner points the proxy variables at a closed port";
    ASSERT_FALSE(environment("HTTP_PROXY").empty());
    ASSERT_FALSE(environment("ALL_PROXY").empty());

    EXPECT_EQ(platform::httpGet(url("/fault/normal?case=request")), servedPage());

    const std::vector<std::string> requests = requestsWith("case=request");
    ASSERT_EQ(requests.size(), 1u);
    const std::string& r = requests[0];
    // A proxy would have been sent the whole address in the request line.
    EXPECT_NE(r.find("\"request_line\": \"GET /fault/normal?case=request HTTP/1.0\""), std::string::npos) << r;
    EXPECT_NE(r.find(header("Accept", "*/*")), std::string::npos) << r;
    EXPECT_NE(r.find(header("User-Agent", platform::HTTP_USER_AGENT)), std::string::npos) << r;
    EXPECT_NE(r.find(header("Pragma", "no-cache")), std::string::npos) << r;
    EXPECT_NE(r.find(header("Host", SERVER.substr(7))), std::string::npos) << r;
    EXPECT_EQ(r.find("Proxy-"), std::string::npos) << r;
}

TEST_F(HttpGet, ReturnsThePage) {
    EXPECT_EQ(platform::httpGet(url("/p/download-orvelline-2016-chn")), servedPage());
}

TEST_F(HttpGet, ErrorStatusPageIsStillReturnedAndSearched) {
    for (const char* mode : {"status-404", "status-500"}) {
        const std::string body = platform::httpGet(url(std::string("/fault/") + mode));
        EXPECT_EQ(body, servedPage()) << mode;
        release::ReleaseInfo info;
        release::extractReleaseInfo(body, info);
        EXPECT_EQ(info.download1Url, url("/KALMERDINE_7.14.zip?update=21")) << mode;
        EXPECT_EQ(info.download2Url, url("/mirror/KALMERDINE_7.14.zip")) << mode;
    }
}

TEST_F(HttpGet, FollowsARedirect) {
    EXPECT_EQ(platform::httpGet(url("/fault/redirect?case=redirect")), servedPage());
    EXPECT_EQ(requestsWith("case=redirect").size(), 1u);
}

TEST_F(HttpGet, GivesUpOnARedirectLoop) {
    EXPECT_EQ(platform::httpGet(url("/fault/redirect-loop?case=loop")), "");
    const std::size_t requests = requestsWith("case=loop").size();
    EXPECT_GE(requests, 2u);
    EXPECT_LE(requests, 11u);  // the first request and at most 10 redirects
}

TEST_F(HttpGet, HonoursTheRedirectLimit) {
    platform::HttpLimits limits;
    limits.maxRedirects = 0;
    EXPECT_EQ(platform::httpGet(url("/fault/redirect?case=no-redirects"), limits), "");
}

TEST_F(HttpGet, FollowsNoRedirectToOtherSchemes) {
    EXPECT_EQ(platform::httpGet(url("/fault/redirect-file")), "");
    EXPECT_EQ(platform::httpGet(url("/fault/redirect-ftp")), "");
}

TEST_F(HttpGet, UsesABodyCutMidwayAsFarAsItArrived) {
    const std::string page = servedPage();
    EXPECT_EQ(platform::httpGet(url("/fault/close-mid-body")), page.substr(0, page.size() / 2));
    EXPECT_EQ(platform::httpGet(url("/fault/long-length")), page);
}

TEST_F(HttpGet, BodyCutInsideACharacterLeavesEveryFieldEmpty) {
    const std::string body = platform::httpGet(url("/fault/cut-utf8"));
    ASSERT_FALSE(body.empty());
    EXPECT_EQ(servedPage().compare(0, body.size(), body), 0);
    release::ReleaseInfo info;
    release::extractReleaseInfo(body, info);
    EXPECT_EQ(info.pageText, "");
    EXPECT_EQ(info.download1Url, "");
    EXPECT_EQ(info.latestVersion, "");
    EXPECT_EQ(info.download2Url, "");
}

TEST_F(HttpGet, ReadsAChunkedReply) {
    EXPECT_EQ(platform::httpGet(url("/fault/chunked")), servedPage());
}

TEST_F(HttpGet, EmptyReplyGivesNoBytes) {
    EXPECT_EQ(platform::httpGet(url("/fault/empty")), "");
}

TEST_F(HttpGet, RefusedConnectionGivesNoBytesAtOnce) {
    const std::string closed = "http://127.0.0.1:" + environment("TESSMOOR_CLOSED_PORT") + "/";
    const Clock::time_point begin = Clock::now();
    EXPECT_EQ(platform::httpGet(closed), "");
    EXPECT_LT(Clock::now() - begin, 5s);
}

TEST_F(HttpGet, BodyOverSixteenMebibytesCountsAsFailure) {
    EXPECT_EQ(platform::HttpLimits{}.maxBodyBytes, std::size_t{16} << 20);
    EXPECT_EQ(platform::httpGet(url("/fault/huge")), "");
}

TEST_F(HttpGet, BodyOverTheCapCountsAsFailure) {
    const std::string page = servedPage();
    platform::HttpLimits limits;
    limits.maxBodyBytes = page.size() - 1;
    EXPECT_EQ(platform::httpGet(url("/fault/normal"), limits), "");   // the length announced in advance
    EXPECT_EQ(platform::httpGet(url("/fault/chunked"), limits), "");  // found out while reading
}

TEST_F(HttpGet, BodyExactlyAtTheCapIsKept) {
    const std::string page = servedPage();
    platform::HttpLimits limits;
    limits.maxBodyBytes = page.size();
    EXPECT_EQ(platform::httpGet(url("/fault/normal"), limits), page);
    EXPECT_EQ(platform::httpGet(url("/fault/chunked"), limits), page);
}

TEST_F(HttpGet, SilentServerGivesNoBytesWhenTheTimeRunsOut) {
    const Clock::time_point begin = Clock::now();
    EXPECT_EQ(platform::httpGet(url("/fault/hang"), shortLimits()), "");
    const Clock::duration took = Clock::now() - begin;
    EXPECT_GE(took, 900ms);
    EXPECT_LT(took, 5s);
}

TEST_F(HttpGet, SlowBodyIsUsedAsFarAsItArrivedWhenTheTimeRunsOut) {
    platform::HttpLimits limits = shortLimits();
    limits.totalTimeout = 2500ms;  // the server sends one byte a second
    const Clock::time_point begin = Clock::now();
    const std::string body = platform::httpGet(url("/fault/trickle"), limits);
    EXPECT_LT(Clock::now() - begin, 6s);
    const std::string page = servedPage();
    EXPECT_FALSE(body.empty());
    EXPECT_LT(body.size(), page.size());
    EXPECT_EQ(page.compare(0, body.size(), body), 0) << body;
}

// Run with the server on the build's own loopback port (see CMakeLists.txt).
TEST(BuiltInAddress, ReadReleasePageFillsEveryField) {
    release::ReleaseInfo info;
    release::readReleasePage(info);
    EXPECT_FALSE(info.pageText.empty());
    EXPECT_EQ(info.latestVersion, "7.14");
    EXPECT_EQ(info.download1Url, std::string(release::DOWNLOAD_URL_PREFIX) + "7.14.zip?update=21");
    EXPECT_EQ(info.download2Url, url("/mirror/KALMERDINE_7.14.zip"));
    EXPECT_EQ(requestsWith("GET /p/download-orvelline-2016-chn HTTP/1.0").size(), 1u);
}

}  // namespace
