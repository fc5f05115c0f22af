#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cwchar>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

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
void limitWaits(HINTERNET request, Clock::time_point deadline, const HttpLimits& limits) {
    const DWORD left = std::max<DWORD>(millisecondsLeft(deadline), 1);
    const auto connect = std::max<long long>(limits.connectTimeout.count(), 1);
    setTimeout(request, INTERNET_OPTION_CONNECT_TIMEOUT, connect < left ? static_cast<DWORD>(connect) : left);
    setTimeout(request, INTERNET_OPTION_RECEIVE_TIMEOUT, left);
    setTimeout(request, INTERNET_OPTION_SEND_TIMEOUT, left);
}

// One request, shared by httpGet and the thread that talks to WinINet for it.
// WinINet does not keep to its own time-outs: under Wine, a connect that never
// completes waits until the kernel gives up (minutes), whatever the connect
// time-out says and even when the handle is closed meanwhile. So httpGet waits
// for that thread until the deadline at most, then closes the request in
// flight (which ends a read blocked on it) and returns the body as far as it
// arrived; a thread still blocked finishes on its own, and adds nothing more.
class Fetch {
public:
    // Watches a new request until close(). After the deadline the request is
    // closed at once and nullptr returned, so that no hop starts then.
    HINTERNET watch(HINTERNET request) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (expired_ || !request) {
            if (request) InternetCloseHandle(request);
            return nullptr;
        }
        request_ = request;
        return request;
    }

    // Closes the watched request unless the deadline has closed it already.
    void close(HINTERNET request) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (request_ != request) return;
        InternetCloseHandle(request);
        request_ = nullptr;
    }

    // The status of the latest answer, for the report at the deadline.
    void answered(DWORD status) {
        const std::lock_guard<std::mutex> lock(mutex_);
        status_ = status;
    }

    // Adds bytes that arrived; false when no more may come: after the deadline.
    bool append(const char* bytes, std::size_t size) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (expired_) return false;
        body_.append(bytes, size);
        return true;
    }

    // A body past the cap counts as none.
    void drop() {
        const std::lock_guard<std::mutex> lock(mutex_);
        std::string().swap(body_);
    }

    void finish(const HttpOutcome& outcome) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
            outcome_ = outcome;
        }
        finished_.notify_one();
    }

    // The body once the fetch has finished, or as far as it arrived at the deadline.
    std::string await(Clock::time_point deadline, HttpOutcome* outcome) {
        std::unique_lock<std::mutex> lock(mutex_);
        finished_.wait_until(lock, deadline, [this] { return done_; });
        expired_ = true;
        if (request_) InternetCloseHandle(request_);
        request_ = nullptr;
        if (outcome != nullptr) *outcome = done_ ? outcome_ : HttpOutcome{HttpEnd::TimedOut, static_cast<long>(status_), {}};
        return std::move(body_);
    }

private:
    std::mutex mutex_;
    std::condition_variable finished_;
    bool done_ = false;
    bool expired_ = false;
    HINTERNET request_ = nullptr;
    DWORD status_ = 0;
    std::string body_;
    HttpOutcome outcome_;
};

struct WatchedRequestCloser {
    Fetch* fetch;
    void operator()(HINTERNET request) const { fetch->close(request); }
};
using WatchedRequest = std::unique_ptr<void, WatchedRequestCloser>;

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

// How the request ended.
HttpOutcome ended(HttpEnd end, DWORD status, DWORD error = 0) {
    return {end, static_cast<long>(status), error != 0 ? "WinINet error " + std::to_string(error) : std::string()};
}

// The body, into fetch, as far as it arrives before the deadline or an error;
// nothing at all when it grows past the cap.
HttpOutcome readBody(HINTERNET request, const HttpLimits& limits, Clock::time_point deadline, Fetch& fetch) {
    const DWORD status = statusCode(request);
    std::size_t size = 0;
    std::array<char, 16384> buffer;
    bool complete = false;
    while (millisecondsLeft(deadline) > 0) {
        limitWaits(request, deadline, limits);
        DWORD available = 0;
        if (!InternetQueryDataAvailable(request, &available, 0, 0)) {
            // Each wait here is limited to the time left: a time-out is the deadline's.
            const DWORD error = GetLastError();
            const bool late = error == ERROR_INTERNET_TIMEOUT || endOfError(error, deadline) == HttpEnd::TimedOut;
            return ended(late ? HttpEnd::TimedOut : HttpEnd::CutShort, status, error);
        }
        complete = available == 0;
        if (complete) break;
        DWORD received = 0;
        const DWORD wanted = std::min<DWORD>(available, static_cast<DWORD>(buffer.size()));
        if (!InternetReadFile(request, buffer.data(), wanted, &received)) {
            return ended(HttpEnd::CutShort, status, GetLastError());
        }
        complete = received == 0;
        if (complete) break;
        if (received > limits.maxBodyBytes - size) {
            fetch.drop();
            return ended(HttpEnd::OverCap, status);
        }
        if (!fetch.append(buffer.data(), received)) return ended(HttpEnd::TimedOut, status);
        size += received;
    }
    // WinINet ends a body that closed early like a whole one: the announced length tells them apart.
    const long long announced = contentLength(request);
    const bool cut = announced >= 0 && static_cast<unsigned long long>(announced) > size;
    return ended(!complete ? HttpEnd::TimedOut : cut ? HttpEnd::CutShort : HttpEnd::Answered, status);
}

// The request and its redirects, the body into fetch.
HttpOutcome get(std::wstring address, const HttpLimits& limits, Clock::time_point deadline, Fetch& fetch) {
    const std::wstring agent = win32::widen(HTTP_USER_AGENT);
    InternetHandle session(InternetOpenW(agent.c_str(), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (!session) return ended(HttpEnd::Failed, 0, GetLastError());
    setTimeout(session.get(), INTERNET_OPTION_CONNECT_TIMEOUT, static_cast<DWORD>(limits.connectTimeout.count()));

    DWORD status = 0;  // of the previous hop's answer
    for (long redirects = 0;; ++redirects) {
        if (millisecondsLeft(deadline) == 0) return ended(HttpEnd::TimedOut, status);  // no hop after the deadline
        Target target;
        bool otherScheme = false;
        if (!crack(address, target, otherScheme)) {
            if (redirects > 0 && otherScheme) return ended(HttpEnd::RedirectSchemeRefused, status);
            return ended(HttpEnd::Failed, status,
                         otherScheme ? ERROR_INTERNET_UNRECOGNIZED_SCHEME : ERROR_INTERNET_INVALID_URL);
        }
        InternetHandle connection(InternetConnectW(session.get(), target.host.c_str(), target.port, nullptr, nullptr,
                                                   INTERNET_SERVICE_HTTP, 0, 0));
        if (!connection) return ended(HttpEnd::Failed, status, GetLastError());
        const wchar_t* acceptTypes[] = {L"*/*", nullptr};
        WatchedRequest request(
            fetch.watch(HttpOpenRequestW(connection.get(), L"GET", target.object.c_str(), L"HTTP/1.0", nullptr,
                                         acceptTypes, REQUEST_FLAGS | (target.secure ? INTERNET_FLAG_SECURE : 0), 0)),
            {&fetch});
        if (!request) return ended(millisecondsLeft(deadline) == 0 ? HttpEnd::TimedOut : HttpEnd::Failed, status);
        limitWaits(request.get(), deadline, limits);
        if (!HttpSendRequestW(request.get(), nullptr, 0, nullptr, 0)) {
            const DWORD error = GetLastError();
            return ended(endOfError(error, deadline), status, error);
        }

        status = statusCode(request.get());
        fetch.answered(status);
        const std::wstring next = isRedirect(status) ? location(request.get()) : std::wstring();
        if (next.empty()) return readBody(request.get(), limits, deadline, fetch);
        if (redirects == limits.maxRedirects) return ended(HttpEnd::TooManyRedirects, status);
        address = resolve(address, next);
    }
}

}  // namespace

std::string httpGet(std::string_view url, const HttpLimits& limits, HttpOutcome* outcome) {
    const auto deadline = Clock::now() + limits.totalTimeout;
    const auto fetch = std::make_shared<Fetch>();
    auto run = [fetch, address = win32::widen(url), limits, deadline] {
        fetch->finish(get(address, limits, deadline, *fetch));
    };
    try {
        std::thread(run).detach();
    } catch (const std::system_error&) {
        run();  // on this thread: bounded by WinINet's own (clamped) time-outs alone
    }
    return fetch->await(deadline, outcome);
}

}  // namespace platform
