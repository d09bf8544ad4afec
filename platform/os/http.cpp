// HTTP requests over libcurl's easy interface (see platform/os/http.h). One easy handle per
// request; libcurl's global state is set up on first use. No signals are used for timeouts, so
// nothing interrupts the rest of the process.
#include "platform/os/http.h"

#include "platform/os/platform.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <string_view>

namespace platform {

namespace {

bool global_ready = false;

bool ensure_global() {
  if (!global_ready) global_ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return global_ready;
}

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

size_t collect_body(char* data, size_t size, size_t count, void* target) {
  static_cast<HttpResponse*>(target)->body.append(data, size * count);
  return size * count;
}

// Header lines arrive one by one, for every response on the way (an interim 100 Continue, each
// redirect): a status line starts a new response, so only the last one's lines are kept.
size_t collect_header(char* data, size_t size, size_t count, void* target) {
  auto* response = static_cast<HttpResponse*>(target);
  std::string_view line(data, size * count);
  if (line.starts_with("HTTP/")) {
    response->header_text.clear();
  } else if (line != "\r\n" && line != "\n") {
    response->header_text.append(line);
    if (!line.ends_with("\r\n")) {
      if (line.ends_with('\n')) response->header_text.pop_back();
      response->header_text.append("\r\n");
    }
  }
  return size * count;
}

// A header name is a token: no separator that could end it early or start another field.
bool header_name_valid(const std::string& name) {
  if (name.empty()) return false;
  return std::none_of(name.begin(), name.end(), [](unsigned char c) {
    return c <= ' ' || c >= 127 || c == ':';
  });
}

bool equal_ascii_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

long seconds_at_least_one(long milliseconds) { return std::max(1L, (milliseconds + 999) / 1000); }

// ZEL_HTTP_TIMEOUT (milliseconds, more than 0) replaces both limits of every request, so that a
// server that never answers is given up on within a test's time.
long timeout_override() {
  std::string text;
  if (!get_env("ZEL_HTTP_TIMEOUT", text)) return 0;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  return end != text.c_str() && *end == '\0' && value > 0 ? value : 0;
}

}  // namespace

bool http_text_safe(const std::string& text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
}

bool http_request(const HttpRequest& request, HttpResponse& response) {
  response = HttpResponse{};
  if (!http_text_safe(request.url) || request.method.empty() ||
      !header_name_valid(request.method)) {
    response.failure = "unsafe method or URL";
    return false;
  }
  for (const auto& [name, value] : request.headers) {
    if (!header_name_valid(name) || !http_text_safe(value)) {
      response.failure = "unsafe header";
      return false;
    }
  }
  if (!ensure_global()) {
    response.failure = "libcurl could not start";
    return false;
  }
  std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  if (!easy) {
    response.failure = "libcurl could not start";
    return false;
  }
  CURL* e = easy.get();
  char error_text[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(e, CURLOPT_ERRORBUFFER, error_text);
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(e, CURLOPT_MAXREDIRS, kMaxRedirects);
  const long forced = timeout_override();
  const long connect_timeout = forced ? forced : request.connect_timeout;
  const long idle_timeout = forced ? forced : request.idle_timeout;
  if (connect_timeout > 0) {
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, connect_timeout);
  }
  if (idle_timeout > 0) {
    // Less than one byte a second over the whole idle time ends the transfer.
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, seconds_at_least_one(idle_timeout));
  }

  // The method and the body. HEAD asks for no body; POST and the others send the body given
  // (an empty one when none is), GET sends none.
  const std::string& method = request.method;
  if (method == "HEAD") {
    curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
  } else if (method == "GET" && !request.body) {
    curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
  } else {
    // libcurl reads the bytes during the transfer: they stay in the request.
    const char* body = request.body ? request.body->data() : "";
    const size_t size = request.body ? request.body->size() : 0;
    curl_easy_setopt(e, CURLOPT_POST, 1L);
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(size));
    curl_easy_setopt(e, CURLOPT_POSTFIELDS, body);
    if (method != "POST") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, method.c_str());
  }

  // The headers, in order. An empty value needs the "Name;" form, which libcurl sends as
  // "Name:"; "Expect:" (no value) keeps libcurl from waiting for a 100 Continue before a large
  // body.
  std::unique_ptr<curl_slist, ListDeleter> list;
  auto add_line = [&](const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (!grown) return false;
    list.release();
    list.reset(grown);
    return true;
  };
  bool expect_given = false, type_given = false;
  for (const auto& [name, value] : request.headers) {
    expect_given = expect_given || equal_ascii_case(name, "Expect");
    type_given = type_given || equal_ascii_case(name, "Content-Type");
    if (!add_line(value.empty() ? name + ";" : name + ": " + value)) {
      response.failure = "out of memory";
      return false;
    }
  }
  // Nor does a body get libcurl's own form Content-Type: only the headers given are sent.
  if ((!expect_given && !add_line("Expect:")) || (!type_given && !add_line("Content-Type:"))) {
    response.failure = "out of memory";
    return false;
  }
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, list.get());

  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, collect_body);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, &response);
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, collect_header);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, &response);

  const CURLcode code = curl_easy_perform(e);
  if (code != CURLE_OK) {
    std::string failure = error_text[0] ? error_text : curl_easy_strerror(code);
    response = HttpResponse{};
    response.failure = failure;
    return false;
  }
  long status = 0;
  curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
  response.status = int32_t(status);
  return true;
}

}  // namespace platform
