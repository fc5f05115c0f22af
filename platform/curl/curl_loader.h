// libcurl, loaded at run time instead of linked: a program that never fetches
// (release-check reading a file) never pays for libcurl and its dependency
// tree, and the updater can load it while the toolkit starts.
#pragma once

#include <curl/curl.h>

namespace platform {

// The libcurl functions that the HTTP backend calls, looked up once.
struct CurlLibrary {
    decltype(&curl_easy_init) easyInit;
    decltype(&curl_easy_setopt) easySetopt;
    decltype(&curl_easy_perform) easyPerform;
    decltype(&curl_easy_getinfo) easyGetinfo;
    decltype(&curl_easy_strerror) easyStrerror;
    decltype(&curl_easy_cleanup) easyCleanup;
    decltype(&curl_slist_append) slistAppend;
    decltype(&curl_slist_free_all) slistFreeAll;
};

// The first call, from any thread, loads libcurl and runs its global set-up
// (the TLS library's included); later calls wait for that and return the same
// table. nullptr when the library, one of the functions or the set-up is
// missing: the request then fails before a body arrives.
const CurlLibrary* loadCurl();

}  // namespace platform
