// The HTTP fault matrix: platform::httpGet and release::extractReleaseInfo
// against every misbehaviour of the scripted release server, each row checking
// the exact result that the HTTP rules and the release-page rules give:
// the body that httpGet returns, what the reader takes from it, and how long
// the request took. Only fault_server_*.cpp knows how the server is started,
// so the same rows can drive any backend of platform/http.h.
#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

#include "platform/encoding.h"
#include "platform/http.h"
#include "release/release_page_reader.h"
#include "tests/faults/fault_server.h"

namespace {

using std::chrono::milliseconds;
using namespace std::chrono_literals;

// What httpGet must return.
enum class Body {
    None,          // no bytes
    Page,          // the whole page
    FirstHalf,     // the first half of the page (the server closed the connection there)
    UpToCutUtf8,   // the page up to one byte into its first multi-byte UTF-8 character
    Trickled,      // the bytes of /fault/trickle that arrived before the time limit
};

// What the reader then takes out of that body.
enum class Values {
    Found,   // both addresses and the version of the page
    Empty,   // every field empty (link1Raw and link2Raw the sentinel alone)
    NoLink,  // pageText is the body (ASCII), no address and no version
};

using platform::HttpEnd;

// In a row's path: the address of the listener whose accept queue is full.
constexpr std::string_view STALLED = "{stalled}";

struct FaultRow {
    const char* name;
    const char* path;  // under the server's base address; "" for the refusing port
    Body body;
    Values values;
    HttpEnd end;  // how httpGet says the request ended
    long status;  // and the status it says answered last (0: none)
    milliseconds totalTimeout = 5s;       // the limits of this row's request
    milliseconds connectTimeout = 2s;
    std::optional<long> capOverPage = {};  // maxBodyBytes = the page's size + this; default 16 MiB
    milliseconds atLeast = 0ms;           // the request must take at least this long (a time limit ran out)
    milliseconds atMost = 4s;             // and may take no longer than this
};

// Short limits keep the matrix quick; the margins cover sanitizer builds.
const FaultRow ROWS[] = {
    {"normal", "/fault/normal", Body::Page, Values::Found, HttpEnd::Answered, 200},
    {"connection_refused", "", Body::None, Values::Empty, HttpEnd::Unreachable, 0},
    {"accepted_never_answered", "/fault/hang", Body::None, Values::Empty, HttpEnd::TimedOut, 0, 1500ms, 2s, {}, 1400ms,
     4000ms},
    // The limit falls half-way between two bytes, so only it decides how many arrived.
    {"trickle_one_byte_a_second", "/fault/trickle", Body::Trickled, Values::NoLink, HttpEnd::TimedOut, 200, 2500ms, 2s,
     {}, 2400ms, 5000ms},
    {"closed_mid_body", "/fault/close-mid-body", Body::FirstHalf, Values::Found, HttpEnd::CutShort, 200},
    {"cut_inside_utf8_sequence", "/fault/cut-utf8", Body::UpToCutUtf8, Values::Empty, HttpEnd::Answered, 200},
    {"body_over_16_mib", "/fault/huge", Body::None, Values::Empty, HttpEnd::OverCap, 200, 10s, 2s, {}, 0ms, 10s},
    {"body_exactly_at_cap", "/fault/normal", Body::Page, Values::Found, HttpEnd::Answered, 200, 5s, 2s, 0},
    {"body_one_byte_over_cap", "/fault/normal", Body::None, Values::Empty, HttpEnd::OverCap, 200, 5s, 2s, -1},
    {"redirect", "/fault/redirect", Body::Page, Values::Found, HttpEnd::Answered, 200},
    {"redirect_loop", "/fault/redirect-loop", Body::None, Values::Empty, HttpEnd::TooManyRedirects, 302},
    {"redirect_to_file", "/fault/redirect-file", Body::None, Values::Empty, HttpEnd::RedirectSchemeRefused, 302},
    {"redirect_to_ftp", "/fault/redirect-ftp", Body::None, Values::Empty, HttpEnd::RedirectSchemeRefused, 302},
    // The product's own limits: 5 s are left when the redirect arrives, less
    // than the 10 s connect time-out, and the connect never completes. The
    // total limit alone ends it, whatever the backend does with the connect.
    {"redirect_after_15s_to_full_accept_queue", "/fault/redirect-late?after=15&to={stalled}", Body::None,
     Values::Empty, HttpEnd::TimedOut, 302, 20s, 10s, {}, 15s, 21s},
    {"status_404_with_page", "/fault/status-404", Body::Page, Values::Found, HttpEnd::Answered, 404},
    {"status_500_with_page", "/fault/status-500", Body::Page, Values::Found, HttpEnd::Answered, 500},
    {"http11_chunked", "/fault/chunked", Body::Page, Values::Found, HttpEnd::Answered, 200},
    {"content_length_over_body", "/fault/long-length", Body::Page, Values::Found, HttpEnd::CutShort, 200},
    {"empty_body", "/fault/empty", Body::None, Values::Empty, HttpEnd::Answered, 200},
};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::size_t countRequests(const std::string& log, const std::string& path) {
    std::istringstream lines(readFile(log));
    std::size_t count = 0;
    for (std::string line; std::getline(lines, line);)
        if (line.find("\"GET " + path + " ") != std::string::npos) ++count;
    return count;
}

class HttpFaultMatrix : public testing::TestWithParam<FaultRow> {
protected:
    static void SetUpTestSuite() {
        page_ = readFile(TESSMOOR_FAULT_PAGE);
        started_ = !page_.empty() && faults::startFaultServer(TESSMOOR_FAULT_PAGE, server_);
    }
    static void TearDownTestSuite() { faults::stopFaultServer(); }

    void SetUp() override { ASSERT_TRUE(started_) << "the release server did not start"; }

    static std::string expectedBody(Body body) {
        switch (body) {
            case Body::None: return {};
            case Body::Page: return page_;
            case Body::FirstHalf: return page_.substr(0, page_.size() / 2);
            case Body::UpToCutUtf8: {
                std::size_t cut = 0;
                while (static_cast<unsigned char>(page_[cut]) < 0xC0) ++cut;
                return page_.substr(0, cut + 1);
            }
            case Body::Trickled: break;
        }
        return {};
    }

    static inline std::string page_;
    static inline faults::FaultServer server_;
    static inline bool started_ = false;
};

TEST_P(HttpFaultMatrix, BodyAndValuesAreWhatTheRulesGive) {
    const FaultRow& row = GetParam();
    platform::HttpLimits limits;
    limits.connectTimeout = row.connectTimeout;
    limits.totalTimeout = row.totalTimeout;
    if (row.capOverPage) limits.maxBodyBytes = static_cast<std::size_t>(static_cast<long>(page_.size()) + *row.capOverPage);
    std::string url = *row.path ? server_.base + row.path : server_.refused;
    if (const std::size_t at = url.find(STALLED); at != std::string::npos) url.replace(at, STALLED.size(), server_.stalled);
    const std::size_t requestsBefore = server_.log.empty() ? 0 : countRequests(server_.log, row.path);

    const auto started = std::chrono::steady_clock::now();
    platform::HttpOutcome outcome;
    const std::string body = platform::httpGet(url, limits, &outcome);
    const auto took = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - started);

    EXPECT_EQ(outcome.end, row.end) << outcome.detail;
    EXPECT_EQ(outcome.status, row.status);
    EXPECT_GE(took, row.atLeast);
    EXPECT_LE(took, row.atMost);

    if (row.body == Body::Trickled) {
        // One byte a second, the first a second after the headers: as many
        // bytes as whole seconds fit into the limit, and not the next one.
        const std::size_t arrived = static_cast<std::size_t>(row.totalTimeout / 1s);
        EXPECT_EQ(body, page_.substr(0, arrived));
    } else {
        EXPECT_EQ(body, expectedBody(row.body));
    }
    if (row.body == Body::FirstHalf || row.body == Body::UpToCutUtf8) {
        // The fixture puts both links before the cut, so the cut alone decides the values.
        EXPECT_NE(body.find("var link2 = \""), std::string::npos);
        if (row.body == Body::FirstHalf) {
            EXPECT_LT(static_cast<unsigned char>(body.back()), 0x80);
        }
    }

    release::ReleaseInfo info;
    release::extractReleaseInfo(body, info);
    switch (row.values) {
        case Values::Found:
            EXPECT_EQ(info.pageText, platform::utf8ToGb18030(body));
            EXPECT_EQ(info.download1Url, std::string(release::DOWNLOAD_URL_PREFIX) + "7.14.zip?update=21");
            EXPECT_EQ(info.latestVersion, "7.14");
            EXPECT_EQ(info.download2Url, "http://mirror.tessmoor.example/KALMERDINE_7.14.zip");
            break;
        case Values::NoLink:
        case Values::Empty:
            EXPECT_EQ(info.pageText, row.values == Values::NoLink ? body : std::string());
            EXPECT_EQ(info.link1Raw, release::LINK_SENTINEL);
            EXPECT_EQ(info.link2Raw, release::LINK_SENTINEL);
            EXPECT_EQ(info.download1Url, "");
            EXPECT_EQ(info.latestVersion, "");
            EXPECT_EQ(info.download2Url, "");
            break;
    }

    if (!server_.log.empty() && std::string_view(row.path) == "/fault/redirect-loop") {
        // Bounded: the first request and at most maxRedirects more, then it gives up.
        const std::size_t requests = countRequests(server_.log, row.path) - requestsBefore;
        EXPECT_GE(requests, 2u);
        EXPECT_LE(requests, static_cast<std::size_t>(limits.maxRedirects) + 1);
    }
    if (std::string_view(row.path) == "/fault/redirect-file") {
        EXPECT_EQ(body.find("root:"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, HttpFaultMatrix, testing::ValuesIn(ROWS),
                         [](const testing::TestParamInfo<FaultRow>& info) { return std::string(info.param.name); });

}  // namespace
