// One HTTP GET, the way the updater asks for its release page.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

inline constexpr const char* HTTP_USER_AGENT = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

struct HttpLimits {
    std::chrono::milliseconds connectTimeout{10'000};
    std::chrono::milliseconds totalTimeout{20'000};  // the body is used as far as it arrived
    std::size_t maxBodyBytes = std::size_t{16} << 20;  // a larger body counts as a failure
    long maxRedirects = 10;
};

// How a request ended, as the backend saw it. The updater does not look: the
// body rules above hold whatever this says. release-check prints it.
enum class HttpEnd {
    Answered,               // the answer arrived to its end (status holds its code)
    CutShort,               // the connection closed or broke before the answer's end
    Unreachable,            // connection refused, or no route to the host
    HostNotFound,           // the host name did not resolve
    ConnectTimedOut,        // no connection within connectTimeout
    TimedOut,               // totalTimeout ran out (the body as far as it arrived)
    OverCap,                // the body grew past maxBodyBytes
    TooManyRedirects,       // more than maxRedirects
    RedirectSchemeRefused,  // a redirect to a scheme other than http or https
    CertificateNotTrusted,  // the https server's certificate was not accepted
    Failed,                 // anything else (detail says what)
};

struct HttpOutcome {
    HttpEnd end = HttpEnd::Failed;
    long status = 0;     // the status code of the last answer, 0 when none arrived
    std::string detail;  // the backend's own words, for Failed (and any error)
};

// GET over HTTP/1.0 with "Accept: */*", HTTP_USER_AGENT, no proxy, no cache,
// redirects followed (http and https only). Returns the response body whatever
// the status code; no bytes when the request fails before a body arrives.
// When outcome is given, it receives how the request ended.
std::string httpGet(std::string_view url, const HttpLimits& limits = {}, HttpOutcome* outcome = nullptr);

// Starts, on a detached thread, what the first httpGet would otherwise set up
// itself (loading the HTTP library, initialising TLS), so that it overlaps the
// caller's own start-up. Sends nothing; httpGet waits for it if need be.
void prepareHttp();

}  // namespace platform
