// libcurl's functions used by the HTTP client, opened on first use (see lazy_library.h). Without
// the library, initialisation fails as libcurl's own does, and the HTTP client reports it.
#define CURL_DISABLE_TYPECHECK  // the forwarders take the options' values as they come
#include <curl/curl.h>

#include <cstdarg>

#include "platform/os/lazy_library.h"

namespace {
platform::LazyLibrary curl("libcurl.so.4");
}

extern "C" {

CURLcode curl_global_init(long flags) {
  ZEL_LAZY_FUNCTION(curl, curl_global_init);
  return fn ? fn(flags) : CURLE_FAILED_INIT;
}

CURL* curl_easy_init() {
  ZEL_LAZY_FUNCTION(curl, curl_easy_init);
  return fn ? fn() : nullptr;
}

void curl_easy_cleanup(CURL* handle) {
  ZEL_LAZY_FUNCTION(curl, curl_easy_cleanup);
  if (fn) fn(handle);
}

CURLcode curl_easy_perform(CURL* handle) {
  ZEL_LAZY_FUNCTION(curl, curl_easy_perform);
  return fn ? fn(handle) : CURLE_FAILED_INIT;
}

// Every option's value and every info's destination is one argument of integer class (a long, an
// off_t, a pointer or a function pointer): it is passed on in the same register, bit for bit.
// The last named parameter is an enum because that is libcurl's own signature; clang warns that
// va_start after a promotable type is undefined, which does not apply to this ABI's registers.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wvarargs"
CURLcode curl_easy_setopt(CURL* handle, CURLoption option, ...) {
  ZEL_LAZY_FUNCTION(curl, curl_easy_setopt);
  va_list values;
  va_start(values, option);
  void* value = va_arg(values, void*);
  va_end(values);
  return fn ? fn(handle, option, value) : CURLE_FAILED_INIT;
}

CURLcode curl_easy_getinfo(CURL* handle, CURLINFO info, ...) {
  ZEL_LAZY_FUNCTION(curl, curl_easy_getinfo);
  va_list values;
  va_start(values, info);
  void* destination = va_arg(values, void*);
  va_end(values);
  return fn ? fn(handle, info, destination) : CURLE_FAILED_INIT;
}
#pragma GCC diagnostic pop

const char* curl_easy_strerror(CURLcode code) {
  ZEL_LAZY_FUNCTION(curl, curl_easy_strerror);
  return fn ? fn(code) : "libcurl.so.4 cannot be loaded";
}

curl_slist* curl_slist_append(curl_slist* list, const char* text) {
  ZEL_LAZY_FUNCTION(curl, curl_slist_append);
  return fn ? fn(list, text) : nullptr;
}

void curl_slist_free_all(curl_slist* list) {
  ZEL_LAZY_FUNCTION(curl, curl_slist_free_all);
  if (fn) fn(list);
}

}  // extern "C"
