// One synchronous HTTP or HTTPS request over libcurl: open with a method and a URL, set the
// headers in order, send the body, then expose the final response's status, header text and
// body bytes. Redirects are followed (http and https only, at most kMaxRedirects); HTTPS is
// checked against the system's certificates. Runs on the calling thread; nothing else runs
// meanwhile.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

constexpr long kMaxRedirects = 10;

struct HttpRequest {
  std::string method;  // "GET", "HEAD", "POST" or any other method's spelling
  std::string url;     // absolute, percent-encoded: only printable ASCII
  // Name and value pairs, sent in this order. An empty value is sent as an empty header.
  std::vector<std::pair<std::string, std::string>> headers;
  std::optional<std::string> body;  // the bytes sent; absent: no body
  // Limits in milliseconds: reaching the server, and the longest wait for the next bytes
  // while sending or receiving (0 for either: no limit). The environment variable
  // ZEL_HTTP_TIMEOUT (milliseconds) replaces both.
  long connect_timeout = 60000;
  long idle_timeout = 30000;
};

struct HttpResponse {
  int32_t status = 0;
  // The final response's header lines, each ended by CR LF, without its status line.
  std::string header_text;
  std::string body;
  std::string failure;  // why the request failed, for diagnostics
};

// Whether the text can be put into a request line or a header without ending it: it holds no
// CR, LF or NUL.
bool http_text_safe(const std::string& text);

// Performs the request. False when no response came (no connection, a timeout, a connection
// closed before a whole response, a refused certificate, an unsafe method, URL or header);
// any HTTP status is a response.
bool http_request(const HttpRequest& request, HttpResponse& response);

}  // namespace platform
