#include "platform/curl/curl_loader.h"

#include <dlfcn.h>

#include <optional>

namespace platform {
namespace {

// The versioned soname: the ABI these headers describe, whichever TLS flavour
// the system installed under it.
constexpr const char* CURL_SONAME = "libcurl.so.4";

template <typename Function>
bool lookUp(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

// The library stays loaded for the rest of the process, as a linked one would:
// unloading it at exit would only race the TLS library's own exit handlers.
std::optional<CurlLibrary> load() {
    void* library = dlopen(CURL_SONAME, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return std::nullopt;
    CurlLibrary curl{};
    decltype(&curl_global_init) globalInit = nullptr;
    const bool complete = lookUp(library, "curl_global_init", globalInit) &&
                          lookUp(library, "curl_easy_init", curl.easyInit) &&
                          lookUp(library, "curl_easy_setopt", curl.easySetopt) &&
                          lookUp(library, "curl_easy_perform", curl.easyPerform) &&
                          lookUp(library, "curl_easy_getinfo", curl.easyGetinfo) &&
                          lookUp(library, "curl_easy_strerror", curl.easyStrerror) &&
                          lookUp(library, "curl_easy_cleanup", curl.easyCleanup) &&
                          lookUp(library, "curl_slist_append", curl.slistAppend) &&
                          lookUp(library, "curl_slist_free_all", curl.slistFreeAll);
    // Once, before any handle exists; curl_easy_init would otherwise do it
    // itself, on the interface thread in the middle of the request. No flag
    // leaves TLS out: CURL_GLOBAL_SSL has meant nothing since libcurl 7.57.
    // Safe beside the toolkit's start on another thread since 7.84.
    if (!complete || globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        dlclose(library);
        return std::nullopt;
    }
    return curl;
}

}  // namespace

const CurlLibrary* loadCurl() {
    // Initialised once: exactly one thread loads, any other caller waits for it.
    static const std::optional<CurlLibrary> curl = load();
    return curl ? &*curl : nullptr;
}

}  // namespace platform
