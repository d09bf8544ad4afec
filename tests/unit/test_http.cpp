// The HTTP client below the language: a server that never answers ends in the idle timeout, a
// server that closes early is no response, only the final response's headers are kept (an
// interim 100 Continue and its status lines left out), text that would split a request line is
// refused before anything is sent; and the parsing of header text into a map!. The servers are
// sockets of this process on 127.0.0.1, each serving one connection from a thread.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "datatypes/io.h"
#include "platform/os/http.h"
#include "word_test_support.h"

namespace {

// A listening socket on a free port of 127.0.0.1.
struct Listener {
  int fd = -1;
  int port = 0;
  Listener() {
    fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(fd, 4);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
  }
  ~Listener() { close(fd); }
  std::string url(const char* path = "/") const {
    return "http://127.0.0.1:" + std::to_string(port) + path;
  }
};

// Accepts one connection, reads the request's head, writes the answer (raw bytes) and closes.
std::thread serve_once(const Listener& listener, std::string answer) {
  return std::thread([fd = listener.fd, answer] {
    const int connection = accept(fd, nullptr, nullptr);
    if (connection < 0) return;
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      const ssize_t n = read(connection, buffer, sizeof buffer);
      if (n <= 0) break;
      request.append(buffer, size_t(n));
    }
    if (write(connection, answer.data(), answer.size()) < 0) {}
    close(connection);
  });
}

platform::HttpRequest get(const std::string& url) {
  platform::HttpRequest request;
  request.method = "GET";
  request.url = url;
  return request;
}

TEST(HttpClient, AServerThatNeverAnswersEndsInTheIdleTimeout) {
  Listener listener;  // connections complete in the kernel, nobody reads or writes
  platform::HttpRequest request = get(listener.url());
  request.idle_timeout = 1000;
  platform::HttpResponse response;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(platform::http_request(request, response));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(900));
  EXPECT_LT(waited, std::chrono::seconds(10));
  EXPECT_FALSE(response.failure.empty());
}

TEST(HttpClient, ABodyCutShortIsNoResponse) {
  Listener listener;
  std::thread server =
      serve_once(listener, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort");
  platform::HttpResponse response;
  EXPECT_FALSE(platform::http_request(get(listener.url()), response));
  server.join();
  EXPECT_EQ(response.body, "");
  EXPECT_EQ(response.status, 0);
}

TEST(HttpClient, OnlyTheFinalResponsesHeadersAreKept) {
  Listener listener;
  std::thread server = serve_once(listener,
                                  "HTTP/1.1 100 Continue\r\nX-Interim: 1\r\n\r\n"
                                  "HTTP/1.1 201 Created\r\nX-A: 1\r\nX-B: b: c\r\n"
                                  "Content-Length: 2\r\nConnection: close\r\n\r\nok");
  platform::HttpResponse response;
  EXPECT_TRUE(platform::http_request(get(listener.url()), response));
  server.join();
  EXPECT_EQ(response.status, 201);
  EXPECT_EQ(response.header_text,
            "X-A: 1\r\nX-B: b: c\r\nContent-Length: 2\r\nConnection: close\r\n");
  EXPECT_EQ(response.body, "ok");
}

TEST(HttpClient, TextThatWouldSplitTheRequestIsRefusedUnsent) {
  Listener listener;  // a request that reached it would wait for the idle timeout
  struct Case {
    std::string url, method, name, value;
  };
  const Case cases[] = {
      {listener.url("/a\r\nX-Injected: 1"), "GET", "X-A", "1"},
      {listener.url("/a\nb"), "GET", "X-A", "1"},
      {listener.url(), "GET\r\nX", "X-A", "1"},
      {listener.url(), "GET", "X-A", "1\r\nX-Injected: 1"},
      {listener.url(), "GET", "X-A", "1\n2"},
      {listener.url(), "GET", "X-A\r\nX-B", "1"},
      {listener.url(), "GET", "X-A:", "1"},
      {listener.url(), "GET", "", "1"},
      {listener.url(), "GET", "X-A", std::string("1\0" "2", 3)},
  };
  for (const Case& c : cases) {
    platform::HttpRequest request = get(c.url);
    request.method = c.method;
    request.headers = {{c.name, c.value}};
    request.idle_timeout = 60000;
    platform::HttpResponse response;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(platform::http_request(request, response)) << c.url << c.name << c.value;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  }
}

using HttpHeaders = word_test::WordTest;

TEST_F(HttpHeaders, NamesBecomeWordKeysAndRepeatsABlockOfValues) {
  struct Case {
    const char* text;
    const char* molded;
  };
  const Case cases[] = {
      {"", "#[]"},
      {"A: 1\r\n", "#[\n    A: \"1\"\n]"},
      {"Set-Cookie: a=1\r\nX: y\r\nset-cookie: b=2\r\n",
       "#[\n    Set-Cookie: [\"a=1\" \"b=2\"]\n    X: \"y\"\n]"},
      {"Location: http://h/p\r\nno colon here\r\n\r\nE:\r\n",
       "#[\n    Location: \"http://h/p\"\n    E: \"\"\n]"},
      {"T:  \tpadded \t\r\n", "#[\n    T: \"padded\"\n]"},
      {"U: h\xC3\xA9\r\n", "#[\n    U: \"h\xC3\xA9\"\n]"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(mold(*io::parse_http_headers(c.text)), c.molded) << c.text;
  }
}

}  // namespace
