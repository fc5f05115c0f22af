#include <curl/curl.h>

#include <chrono>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

#include "platform/curl/curl_loader.h"
#include "platform/http.h"

namespace platform {
namespace {

struct EasyDeleter {
    const CurlLibrary* curl;
    void operator()(CURL* easy) const { curl->easyCleanup(easy); }
};
struct HeaderListDeleter {
    const CurlLibrary* curl;
    void operator()(curl_slist* list) const { curl->slistFreeAll(list); }
};

struct Download {
    std::string body;
    std::size_t cap;
    bool overCap = false;
};

std::size_t collect(char* data, std::size_t size, std::size_t count, void* user) {
    auto& download = *static_cast<Download*>(user);
    const std::size_t bytes = size * count;
    if (bytes > download.cap - download.body.size()) {
        download.overCap = true;
        return 0;  // stops the transfer
    }
    download.body.append(data, bytes);
    return bytes;
}

// What curl's result means for the request; took is how long the transfer lasted.
HttpOutcome outcomeOf(const CurlLibrary& curl, CURLcode code, CURL* h, bool overCap,
                      std::chrono::steady_clock::duration took, const HttpLimits& limits, const char* error) {
    HttpOutcome outcome;
    curl.easyGetinfo(h, CURLINFO_RESPONSE_CODE, &outcome.status);
    if (code != CURLE_OK) outcome.detail = *error != '\0' ? error : curl.easyStrerror(code);
    if (overCap || code == CURLE_FILESIZE_EXCEEDED) {
        outcome.end = HttpEnd::OverCap;
        return outcome;
    }
    switch (code) {
        case CURLE_OK: outcome.end = HttpEnd::Answered; break;
        case CURLE_PARTIAL_FILE:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_GOT_NOTHING: outcome.end = HttpEnd::CutShort; break;
        case CURLE_COULDNT_CONNECT: outcome.end = HttpEnd::Unreachable; break;
        case CURLE_COULDNT_RESOLVE_HOST: outcome.end = HttpEnd::HostNotFound; break;
        // curl gives one code for both limits; only the connect limit can end a transfer early.
        case CURLE_OPERATION_TIMEDOUT:
            outcome.end = took >= limits.totalTimeout ? HttpEnd::TimedOut : HttpEnd::ConnectTimedOut;
            break;
        case CURLE_TOO_MANY_REDIRECTS: outcome.end = HttpEnd::TooManyRedirects; break;
        // The first address's scheme is the caller's; after a redirect status it is the server's.
        case CURLE_UNSUPPORTED_PROTOCOL:
            outcome.end = outcome.status / 100 == 3 ? HttpEnd::RedirectSchemeRefused : HttpEnd::Failed;
            break;
        case CURLE_PEER_FAILED_VERIFICATION: outcome.end = HttpEnd::CertificateNotTrusted; break;
        default: outcome.end = HttpEnd::Failed; break;
    }
    return outcome;
}

}  // namespace

void prepareHttp() {
    try {
        std::thread([] { loadCurl(); }).detach();
    } catch (const std::system_error&) {
        // No thread: the first httpGet loads the library itself.
    }
}

std::string httpGet(std::string_view url, const HttpLimits& limits, HttpOutcome* outcome) {
    if (outcome != nullptr) *outcome = {HttpEnd::Failed, 0, "libcurl could not start a transfer"};
    const CurlLibrary* curl = loadCurl();
    if (curl == nullptr) {
        if (outcome != nullptr) outcome->detail = "libcurl (libcurl.so.4) could not be loaded";
        return {};
    }
    std::unique_ptr<CURL, EasyDeleter> easy(curl->easyInit(), EasyDeleter{curl});
    if (!easy) return {};
    curl_slist* raw = nullptr;
    for (const char* header : {"Accept: */*", "Pragma: no-cache"}) {
        curl_slist* next = curl->slistAppend(raw, header);
        if (next == nullptr) {
            curl->slistFreeAll(raw);
            return {};
        }
        raw = next;
    }
    std::unique_ptr<curl_slist, HeaderListDeleter> headers(raw, HeaderListDeleter{curl});

    Download download{{}, limits.maxBodyBytes};
    const std::string address(url);
    CURL* h = easy.get();
    curl->easySetopt(h, CURLOPT_URL, address.c_str());
    curl->easySetopt(h, CURLOPT_HTTPGET, 1L);
    curl->easySetopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    curl->easySetopt(h, CURLOPT_USERAGENT, HTTP_USER_AGENT);
    curl->easySetopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl->easySetopt(h, CURLOPT_PROXY, "");  // direct, whatever http_proxy says
    curl->easySetopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl->easySetopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl->easySetopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl->easySetopt(h, CURLOPT_MAXREDIRS, limits.maxRedirects);
    curl->easySetopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connectTimeout.count()));
    curl->easySetopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.totalTimeout.count()));
    curl->easySetopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.maxBodyBytes));
    curl->easySetopt(h, CURLOPT_NOSIGNAL, 1L);
    curl->easySetopt(h, CURLOPT_WRITEFUNCTION, collect);
    curl->easySetopt(h, CURLOPT_WRITEDATA, &download);
    char error[CURL_ERROR_SIZE] = "";
    curl->easySetopt(h, CURLOPT_ERRORBUFFER, error);

    // Any error after the body began (time out, connection closed early) still
    // leaves the part that arrived; only an oversized body counts as nothing.
    const auto started = std::chrono::steady_clock::now();
    const CURLcode code = curl->easyPerform(h);
    if (outcome != nullptr)
        *outcome = outcomeOf(*curl, code, h, download.overCap, std::chrono::steady_clock::now() - started, limits,
                             error);
    if (download.overCap) return {};
    return std::move(download.body);
}

}  // namespace platform
