#include <curl/curl.h>

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

}  // namespace

void prepareHttp() {
    try {
        std::thread([] { loadCurl(); }).detach();
    } catch (const std::system_error&) {
        // No thread: the first httpGet loads the library itself.
    }
}

std::string httpGet(std::string_view url, const HttpLimits& limits) {
    const CurlLibrary* curl = loadCurl();
    if (curl == nullptr) return {};
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

    // Any error after the body began (time out, connection closed early) still
    // leaves the part that arrived; only an oversized body counts as nothing.
    curl->easyPerform(h);
    if (download.overCap) return {};
    return std::move(download.body);
}

}  // namespace platform
