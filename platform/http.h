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

// GET over HTTP/1.0 with "Accept: */*", HTTP_USER_AGENT, no proxy, no cache,
// redirects followed (http and https only). Returns the response body whatever
// the status code; no bytes when the request fails before a body arrives.
std::string httpGet(std::string_view url, const HttpLimits& limits = {});

// Starts, on a detached thread, what the first httpGet would otherwise set up
// itself (loading the HTTP library, initialising TLS), so that it overlaps the
// caller's own start-up. Sends nothing; httpGet waits for it if need be.
void prepareHttp();

}  // namespace platform
