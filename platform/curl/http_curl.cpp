#include <curl/curl.h>

#include <memory>
#include <string>

#include "platform/http.h"

namespace platform {
namespace {

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct HeaderListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
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

std::string httpGet(std::string_view url, const HttpLimits& limits) {
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy) return {};
    curl_slist* raw = nullptr;
    for (const char* header : {"Accept: */*", "Pragma: no-cache"}) {
        curl_slist* next = curl_slist_append(raw, header);
        if (next == nullptr) {
            curl_slist_free_all(raw);
            return {};
        }
        raw = next;
    }
    std::unique_ptr<curl_slist, HeaderListDeleter> headers(raw);

    Download download{{}, limits.maxBodyBytes};
    const std::string address(url);
    CURL* h = easy.get();
    curl_easy_setopt(h, CURLOPT_URL, address.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(h, CURLOPT_USERAGENT, HTTP_USER_AGENT);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_PROXY, "");  // direct, whatever http_proxy says
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, limits.maxRedirects);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connectTimeout.count()));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.totalTimeout.count()));
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.maxBodyBytes));
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &download);

    // Any error after the body began (time out, connection closed early) still
    // leaves the part that arrived; only an oversized body counts as nothing.
    curl_easy_perform(h);
    if (download.overCap) return {};
    return std::move(download.body);
}

}  // namespace platform
