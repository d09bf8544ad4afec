// The runtime's HTTP service (see datatypes/io.h): the request's method, URL, headers and body
// are gathered into C++ memory first, the request runs through platform/os/http.h, and the
// response becomes values only afterwards, each one pushed on the data stack as it is made.
#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/constants.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/io.h"
#include "datatypes/map.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/url.h"
#include "datatypes/word.h"
#include "platform/os/http.h"
#include "runtime/throw.h"
#include "runtime/unicode.h"

namespace io {

namespace {

// Sent when the caller gives no headers block.
const std::pair<const char*, const char*> kDefaultHeaders[] = {
    {"Content-Type", "application/x-www-form-urlencoded"},
    {"Accept-Charset", "UTF-8"},
    {"User-Agent", "Mozilla/5.0 (Windows NT 6.1; Win64; x64)"},
};
constexpr uint32_t kHeaderMapSize = 20;

[[noreturn]] void refuse(const Cell& value) { rt::fire_error("script", "invalid-arg", &value); }

// A header name or method: an HTTP token, which nothing can end early.
bool token_q(std::string_view text) {
  constexpr std::string_view kSeparators = "()<>@,;:\\\"/[]?={}";
  return !text.empty() && std::all_of(text.begin(), text.end(), [&](unsigned char c) {
    return c > ' ' && c < 127 && kSeparators.find(char(c)) == std::string_view::npos;
  });
}

// The text a header name or value is sent as: a word's spelling (names), a string!'s text
// (values), else the value's form.
std::string header_text(const Cell& value, bool name) {
  if (name && types::all_word(cell::type_of(value))) {
    Cell* spelling = word::push_name_string(value);
    std::string text = value_bytes(*spelling, -1);
    stack::pop_cells(1);
    return text;
  }
  return value_bytes(value, -1);
}

// The method word's spelling in upper case.
std::string method_text(const Cell& method) {
  std::string text = header_text(method, true);
  for (char& c : text) c = char(std::toupper(static_cast<unsigned char>(c)));
  if (!token_q(text)) refuse(method);
  return text;
}

// The URL as sent: its text percent-encoded outside the URL set. A CR or LF in the text (held
// decoded, so %0D and %0A count) is refused rather than sent escaped: no user of an HTTP URL
// means one.
std::string url_text(const Cell& url) {
  const std::u32string text = url::text_of(url);
  if (text.find_first_of(U"\r\n") != std::u32string::npos || text.find(U'\0') != text.npos) {
    refuse(url);
  }
  return url::encode_percent(text, url::kUrlSet);
}

// The pairs of the headers block from its head, the block re-read after each form (which may
// allocate). A name without a value after it is refused with the block.
std::vector<std::pair<std::string, std::string>> header_pairs(const Cell& headers) {
  Cell* block = stack::push_copy(headers);
  const int32_t count = block::rest_length(*block);
  if (count % 2) refuse(headers);
  const int32_t head = int32_t(cell::series_index(*block));
  std::vector<std::pair<std::string, std::string>> pairs;
  for (int32_t i = 0; i < count; i += 2) {
    Cell* name = stack::push_copy(*block::cell_at(*block, head + i));
    Cell* value = stack::push_copy(*block::cell_at(*block, head + i + 1));
    std::string name_text = header_text(*name, true);
    std::string value_text = header_text(*value, false);
    if (!token_q(name_text)) refuse(*name);
    if (!platform::http_text_safe(value_text)) refuse(*value);
    pairs.emplace_back(std::move(name_text), std::move(value_text));
    stack::pop_cells(2);
  }
  stack::pop_cells(1);
  return pairs;
}

bool given(const Cell* value) { return value && cell::type_of(*value) != TYPE_NONE; }

// The header lines as name and values, names in their first spelling and order.
struct HeaderEntry {
  std::string name;
  std::vector<std::string> values;
};

bool same_name(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view trim_blanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::vector<HeaderEntry> header_entries(std::string_view text) {
  std::vector<HeaderEntry> entries;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == text.npos ? std::string_view() : text.substr(end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    const size_t colon = line.find(':');
    if (colon == line.npos) continue;
    std::string_view name = trim_blanks(line.substr(0, colon));
    if (name.empty()) continue;
    std::string value(trim_blanks(line.substr(colon + 1)));
    auto same = [&](const HeaderEntry& e) { return same_name(e.name, name); };
    auto found = std::find_if(entries.begin(), entries.end(), same);
    if (found == entries.end()) {
      entries.push_back({std::string(name), {std::move(value)}});
    } else {
      found->values.push_back(std::move(value));
    }
  }
  return entries;
}

Cell* push_utf8(const std::string& text) {
  return string::load_encoded_push(reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                                   string::kUtf8);
}

}  // namespace

Cell* parse_http_headers(std::string_view text) {
  const std::vector<HeaderEntry> entries = header_entries(text);
  Cell* result = stack::push_copy(constants::none);
  Cell* pairs = block::push_new(int32_t(entries.size() * 2));
  for (const HeaderEntry& entry : entries) {
    const uint32_t symbol = symbol::intern_bytes(
        reinterpret_cast<const uint8_t*>(entry.name.data()), uint32_t(entry.name.size()));
    Cell* key = word::push_global(symbol);
    block::append_cell(*pairs, *key);
    stack::pop_cells(1);
    if (entry.values.size() == 1) {
      Cell* value = push_utf8(entry.values[0]);
      block::append_cell(*pairs, *value);
    } else {
      Cell* values = block::push_new(int32_t(entry.values.size()));
      for (const std::string& text : entry.values) {
        Cell* value = push_utf8(text);
        block::append_cell(*values, *value);
        stack::pop_cells(1);
      }
      block::append_cell(*pairs, *values);
    }
    stack::pop_cells(1);
  }
  map::make_at(result, pairs, std::max<uint32_t>(kHeaderMapSize, uint32_t(entries.size())));
  stack::pop_cells(1);
  return result;
}

Cell* http_request(const Cell& method, const Cell& url, const Cell* headers, const Cell* data,
                   bool binary, bool lines, bool info) {
  platform::HttpRequest request;
  request.method = method_text(method);
  request.url = url_text(url);
  if (headers) {
    request.headers = header_pairs(*headers);
  } else {
    for (const auto& [name, value] : kDefaultHeaders) request.headers.emplace_back(name, value);
  }
  if (request.method != "GET" && request.method != "HEAD" && given(data)) {
    request.body = value_bytes(*data, -1);
  }
  platform::HttpResponse response;
  if (!platform::http_request(request, response)) return stack::push_copy(constants::none);
  if (!info) return push_contents(response.body, binary, lines);
  Cell* result = block::push_new(3);
  block::append_cell(*result, integer::make(response.status));
  Cell* map = parse_http_headers(response.header_text);
  block::append_cell(*result, *map);
  stack::pop_cells(1);
  Cell* body = push_contents(response.body, binary, lines);
  block::append_cell(*result, *body);
  stack::pop_cells(1);
  return result;
}

}  // namespace io
