#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <memory>
#include <string>

#include "platform/http.h"
#include "platform/win32/wide.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

struct InternetHandleCloser {
    void operator()(HINTERNET handle) const { InternetCloseHandle(handle); }
};
using InternetHandle = std::unique_ptr<void, InternetHandleCloser>;

// Always from the server, never from or into the local cache, "Pragma: no-cache"
// sent. Redirects are followed here rather than by WinINet, so that their
// number and schemes are limited the same way as on Linux.
constexpr DWORD REQUEST_FLAGS = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                                INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI;

struct Target {
    bool secure = false;
    std::wstring host;
    INTERNET_PORT port = 0;
    std::wstring object;  // path and query
};

bool crack(const std::wstring& url, Target& target) {
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = 1;  // non-zero: point into url
    parts.dwUrlPathLength = 1;
    parts.dwExtraInfoLength = 1;
    if (!InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) return false;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return false;
    if (parts.dwHostNameLength == 0) return false;
    target.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    target.host.assign(parts.lpszHostName, parts.dwHostNameLength);
    target.port = parts.nPort;
    target.object.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    target.object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (target.object.empty() || target.object.front() != L'/') target.object.insert(0, L"/");
    return true;
}

DWORD millisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<DWORD>(left) : 0;
}

void setTimeout(HINTERNET handle, DWORD option, DWORD milliseconds) {
    InternetSetOptionW(handle, option, &milliseconds, sizeof milliseconds);
}

// Every wait is bounded by what is left of the whole request's time.
void limitWaits(HINTERNET request, Clock::time_point deadline) {
    const DWORD left = std::max<DWORD>(millisecondsLeft(deadline), 1);
    setTimeout(request, INTERNET_OPTION_RECEIVE_TIMEOUT, left);
    setTimeout(request, INTERNET_OPTION_SEND_TIMEOUT, left);
}

DWORD statusCode(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) return 0;
    return status;
}

std::wstring location(HINTERNET request) {
    std::wstring value(2048, L'\0');
    DWORD size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (!HttpQueryInfoW(request, HTTP_QUERY_LOCATION, value.data(), &size, nullptr)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return {};
        value.assign(size / sizeof(wchar_t) + 1, L'\0');
        if (!HttpQueryInfoW(request, HTTP_QUERY_LOCATION, value.data(), &size, nullptr)) return {};
    }
    value.resize(size / sizeof(wchar_t));
    return value;
}

// A relative Location is resolved against the address that answered.
std::wstring resolve(const std::wstring& base, const std::wstring& reference) {
    std::wstring combined(4096, L'\0');
    DWORD length = static_cast<DWORD>(combined.size());
    if (!InternetCombineUrlW(base.c_str(), reference.c_str(), combined.data(), &length, ICU_NO_ENCODE)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return {};
        combined.assign(length + 1, L'\0');
        if (!InternetCombineUrlW(base.c_str(), reference.c_str(), combined.data(), &length, ICU_NO_ENCODE)) return {};
    }
    combined.resize(length);
    return combined;
}

bool isRedirect(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The body as far as it arrives before the deadline or an error; nothing at
// all when it grows past the cap.
std::string readBody(HINTERNET request, const HttpLimits& limits, Clock::time_point deadline) {
    std::string body;
    std::array<char, 16384> buffer;
    while (millisecondsLeft(deadline) > 0) {
        limitWaits(request, deadline);
        DWORD available = 0;
        if (!InternetQueryDataAvailable(request, &available, 0, 0) || available == 0) break;
        DWORD received = 0;
        const DWORD wanted = std::min<DWORD>(available, static_cast<DWORD>(buffer.size()));
        if (!InternetReadFile(request, buffer.data(), wanted, &received) || received == 0) break;
        if (received > limits.maxBodyBytes - body.size()) return {};
        body.append(buffer.data(), received);
    }
    return body;
}

}  // namespace

std::string httpGet(std::string_view url, const HttpLimits& limits) {
    const auto deadline = Clock::now() + limits.totalTimeout;
    const std::wstring agent = win32::widen(HTTP_USER_AGENT);
    InternetHandle session(InternetOpenW(agent.c_str(), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (!session) return {};
    setTimeout(session.get(), INTERNET_OPTION_CONNECT_TIMEOUT, static_cast<DWORD>(limits.connectTimeout.count()));

    std::wstring address = win32::widen(url);
    for (long redirects = 0;; ++redirects) {
        Target target;
        if (!crack(address, target)) return {};
        InternetHandle connection(InternetConnectW(session.get(), target.host.c_str(), target.port, nullptr, nullptr,
                                                   INTERNET_SERVICE_HTTP, 0, 0));
        if (!connection) return {};
        const wchar_t* acceptTypes[] = {L"*/*", nullptr};
        InternetHandle request(HttpOpenRequestW(connection.get(), L"GET", target.object.c_str(), L"HTTP/1.0", nullptr,
                                                acceptTypes, REQUEST_FLAGS | (target.secure ? INTERNET_FLAG_SECURE : 0),
                                                0));
        if (!request) return {};
        limitWaits(request.get(), deadline);
        if (!HttpSendRequestW(request.get(), nullptr, 0, nullptr, 0)) return {};

        const std::wstring next = isRedirect(statusCode(request.get())) ? location(request.get()) : std::wstring();
        if (next.empty()) return readBody(request.get(), limits, deadline);
        if (redirects == limits.maxRedirects) return {};
        address = resolve(address, next);
    }
}

}  // namespace platform
