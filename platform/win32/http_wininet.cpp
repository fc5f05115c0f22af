#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cwchar>
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

// otherScheme is set when the address is well formed but neither http nor https.
bool crack(const std::wstring& url, Target& target, bool& otherScheme) {
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = 1;  // non-zero: point into url
    parts.dwUrlPathLength = 1;
    parts.dwExtraInfoLength = 1;
    if (!InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) return false;
    otherScheme = parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS;
    if (otherScheme) return false;
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

// The announced Content-Length, or -1 when there is none.
long long contentLength(HINTERNET request) {
    wchar_t value[32] = L"";
    DWORD size = sizeof value;
    if (!HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, value, &size, nullptr)) return -1;
    return std::wcstoll(value, nullptr, 10);
}

// How a failed WinINet call ended the request. A wait cut short by the
// deadline counts as the deadline, however WinINet names it; the margin
// covers a timer that fires a tick early.
HttpEnd endOfError(DWORD error, Clock::time_point deadline) {
    if (millisecondsLeft(deadline) <= 50) return HttpEnd::TimedOut;
    switch (error) {
        case ERROR_INTERNET_TIMEOUT: return HttpEnd::ConnectTimedOut;
        case ERROR_INTERNET_CANNOT_CONNECT: return HttpEnd::Unreachable;
        case ERROR_INTERNET_NAME_NOT_RESOLVED: return HttpEnd::HostNotFound;
        case ERROR_INTERNET_CONNECTION_ABORTED:
        case ERROR_INTERNET_CONNECTION_RESET:
        case ERROR_HTTP_INVALID_SERVER_RESPONSE: return HttpEnd::CutShort;
        case ERROR_INTERNET_INVALID_CA:
        case ERROR_INTERNET_SEC_CERT_CN_INVALID:
        case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
        case ERROR_INTERNET_SEC_CERT_ERRORS:
        case ERROR_INTERNET_SEC_CERT_NO_REV:
        case ERROR_INTERNET_SEC_CERT_REV_FAILED:
        case ERROR_INTERNET_SEC_CERT_REVOKED:
        case ERROR_INTERNET_SEC_INVALID_CERT: return HttpEnd::CertificateNotTrusted;
        default: return HttpEnd::Failed;
    }
}

// Fills outcome, when there is one, with how the request ended.
void report(HttpOutcome* outcome, HttpEnd end, DWORD status, DWORD error = 0) {
    if (outcome == nullptr) return;
    outcome->end = end;
    outcome->status = static_cast<long>(status);
    outcome->detail = error != 0 ? "WinINet error " + std::to_string(error) : std::string();
}

// Reports how the request ended and gives the empty body that goes with it.
std::string noBody(HttpOutcome* outcome, HttpEnd end, DWORD status, DWORD error = 0) {
    report(outcome, end, status, error);
    return {};
}

// The body as far as it arrives before the deadline or an error; nothing at
// all when it grows past the cap.
std::string readBody(HINTERNET request, const HttpLimits& limits, Clock::time_point deadline,
                     HttpOutcome* outcome) {
    const DWORD status = statusCode(request);
    std::string body;
    std::array<char, 16384> buffer;
    bool complete = false;
    while (millisecondsLeft(deadline) > 0) {
        limitWaits(request, deadline);
        DWORD available = 0;
        if (!InternetQueryDataAvailable(request, &available, 0, 0)) {
            // Each wait here is limited to the time left: a time-out is the deadline's.
            const DWORD error = GetLastError();
            const bool late = error == ERROR_INTERNET_TIMEOUT || endOfError(error, deadline) == HttpEnd::TimedOut;
            report(outcome, late ? HttpEnd::TimedOut : HttpEnd::CutShort, status, error);
            return body;
        }
        complete = available == 0;
        if (complete) break;
        DWORD received = 0;
        const DWORD wanted = std::min<DWORD>(available, static_cast<DWORD>(buffer.size()));
        if (!InternetReadFile(request, buffer.data(), wanted, &received)) {
            report(outcome, HttpEnd::CutShort, status, GetLastError());
            return body;
        }
        complete = received == 0;
        if (complete) break;
        if (received > limits.maxBodyBytes - body.size()) return noBody(outcome, HttpEnd::OverCap, status);
        body.append(buffer.data(), received);
    }
    // WinINet ends a body that closed early like a whole one: the announced length tells them apart.
    const long long announced = contentLength(request);
    const bool cut = announced >= 0 && static_cast<unsigned long long>(announced) > body.size();
    report(outcome, !complete ? HttpEnd::TimedOut : cut ? HttpEnd::CutShort : HttpEnd::Answered, status);
    return body;
}

}  // namespace

std::string httpGet(std::string_view url, const HttpLimits& limits, HttpOutcome* outcome) {
    const auto deadline = Clock::now() + limits.totalTimeout;
    const std::wstring agent = win32::widen(HTTP_USER_AGENT);
    InternetHandle session(InternetOpenW(agent.c_str(), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (!session) return noBody(outcome, HttpEnd::Failed, 0, GetLastError());
    setTimeout(session.get(), INTERNET_OPTION_CONNECT_TIMEOUT, static_cast<DWORD>(limits.connectTimeout.count()));

    std::wstring address = win32::widen(url);
    DWORD status = 0;  // of the previous hop's answer
    for (long redirects = 0;; ++redirects) {
        Target target;
        bool otherScheme = false;
        if (!crack(address, target, otherScheme)) {
            if (redirects > 0 && otherScheme) return noBody(outcome, HttpEnd::RedirectSchemeRefused, status);
            return noBody(outcome, HttpEnd::Failed, status,
                          otherScheme ? ERROR_INTERNET_UNRECOGNIZED_SCHEME : ERROR_INTERNET_INVALID_URL);
        }
        InternetHandle connection(InternetConnectW(session.get(), target.host.c_str(), target.port, nullptr, nullptr,
                                                   INTERNET_SERVICE_HTTP, 0, 0));
        if (!connection) return noBody(outcome, HttpEnd::Failed, status, GetLastError());
        const wchar_t* acceptTypes[] = {L"*/*", nullptr};
        InternetHandle request(HttpOpenRequestW(connection.get(), L"GET", target.object.c_str(), L"HTTP/1.0", nullptr,
                                                acceptTypes, REQUEST_FLAGS | (target.secure ? INTERNET_FLAG_SECURE : 0),
                                                0));
        if (!request) return noBody(outcome, HttpEnd::Failed, status, GetLastError());
        limitWaits(request.get(), deadline);
        if (!HttpSendRequestW(request.get(), nullptr, 0, nullptr, 0)) {
            const DWORD error = GetLastError();
            return noBody(outcome, endOfError(error, deadline), status, error);
        }

        status = statusCode(request.get());
        const std::wstring next = isRedirect(status) ? location(request.get()) : std::wstring();
        if (next.empty()) return readBody(request.get(), limits, deadline, outcome);
        if (redirects == limits.maxRedirects) return noBody(outcome, HttpEnd::TooManyRedirects, status);
        address = resolve(address, next);
    }
}

}  // namespace platform
