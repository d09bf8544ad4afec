// url!: percent encoding and decoding, make and to (a URL built from a block; anything else
// converts as string!), mold (the percent-encoded text) and path joining; registers the rows of
// url! and file! (whose mold is datatypes/file.h's). Relies on the rooting rule (runtime/gc.h):
// text is read into C++ strings before anything allocates; text being built sits on the data
// stack.
#include "datatypes/url.h"

#include <algorithm>
#include <climits>
#include <span>

#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/datatype.h"
#include "datatypes/context.h"
#include "datatypes/file.h"
#include "datatypes/io.h"
#include "datatypes/object.h"
#include "datatypes/port.h"
#include "datatypes/series.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/upcall.h"
#include "datatypes/word.h"
#include "runtime/alloc.h"
#include "runtime/unicode.h"

namespace url {

namespace {

bool alphanumeric(uint8_t byte) {
  return (byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'z') ||
         (byte >= 'A' && byte <= 'Z');
}

bool unreserved(uint8_t byte) {
  return alphanumeric(byte) || std::string_view("-._~").find(char(byte)) != std::string_view::npos;
}

bool kept_by(uint32_t mode, uint8_t byte) {
  return mode == kUnreserved ? unreserved(byte) : in_url_set(byte);
}

// mold writes a URL as one token: parentheses, although in the URL set, would end it.
bool kept_by_mold(uint8_t byte) { return in_url_set(byte) && byte != '(' && byte != ')'; }

// Whether the text holds "%" and two hex digits at position `at` (nothing is read past its end);
// the byte they make goes to `byte`.
bool hex_escape(std::u32string_view text, size_t at, uint8_t& byte) {
  if (at >= text.size() || text.size() - at < 3 || text[at] != U'%') return false;
  int32_t high = string::hex_digit(text[at + 1]);
  int32_t low = string::hex_digit(text[at + 2]);
  if (high < 0 || low < 0) return false;
  byte = uint8_t(high << 4 | low);
  return true;
}

// Each byte of the text's UTF-8 form as itself when kept, else as "%" and two upper-case hex
// digits.
template <class Keep>
std::string encode(std::u32string_view text, Keep keep) {
  std::string out;
  out.reserve(text.size());
  for (char32_t c : text) {
    uint8_t bytes[4];
    uint32_t count = unicode::encode_utf8_char(uint32_t(c), bytes);
    for (uint32_t i = 0; i < count; i++) {
      if (keep(bytes[i])) {
        out += char(bytes[i]);
      } else {
        out += '%';
        out += string::byte_to_hex(bytes[i]);
      }
    }
  }
  return out;
}

void append_code_points(const Cell& destination, std::u32string_view text) {
  for (char32_t c : text) string::append_char(cell::series_node(destination), uint32_t(c));
}

// --- make and to ---------------------------------------------------------------------------------

// The URL of a block: scheme "://" host, then ":" port when the third element is an integer!,
// then "/" and the other elements joined by "/", each issue! (a fragment) led by "#" instead.
Cell* from_block(Cell* proto, Cell* spec) {
  const Cell block = *spec;
  const int32_t head = std::min(cell::series_index_signed(block), series::buffer_length(block));
  const int32_t count = series::buffer_length(block) - head;
  if (count <= 0) {
    Cell wanted = cell::make_datatype(TYPE_URL);
    rt::fire_error("script", "bad-to-arg", &wanted, spec);
  }
  Cell* out = stack::push_copy(constants::none);
  string::init_empty(out, 32);
  Cell* element = stack::push_copy(constants::none);
  auto type_at = [&](int32_t i) { return cell::type_of(*block::cell_at(block, head + i)); };
  auto form_at = [&](int32_t i) {
    *element = *block::cell_at(block, head + i);
    datatype::call_form(element, out, nullptr, INT32_MAX);
  };
  form_at(0);
  string::append_c_string(*out, "://");
  int32_t next = 1;
  if (count > 1) form_at(next++);
  bool port = count > 2 && type_at(2) == TYPE_INTEGER;
  if (port) {
    string::append_c_string(*out, ":");
    form_at(next++);
  }
  if (!port || next < count) {
    string::append_c_string(*out, "/");
    for (int32_t i = next; i < count; i++) {
      if (type_at(i) == TYPE_ISSUE) {
        string::append_c_string(*out, "#");
      } else if (i > next) {
        string::append_c_string(*out, "/");
      }
      form_at(i);
    }
  }
  *proto = cell::make_series(TYPE_URL, cell::series_node(*out));
  stack::pop_cells(2);
  return proto;
}

bool block_spec(const Cell& spec) {
  uint8_t type = cell::type_of(spec);
  return type == TYPE_BLOCK || type == TYPE_PAREN || type == TYPE_HASH;
}

// file! takes these from url! but always converts as string! does.
Cell* make(Cell* proto, Cell* spec, uint8_t type) {
  if (type == TYPE_URL && block_spec(*spec)) return from_block(proto, spec);
  return string::make(proto, spec, type);
}

Cell* to(Cell* proto, Cell* spec, uint8_t type) {
  if (type == TYPE_URL && block_spec(*spec)) return from_block(proto, spec);
  return string::to(proto, spec, type);
}

// --- mold and paths ------------------------------------------------------------------------------

int32_t mold(Cell* value, Cell* out, action::MoldOptions, Cell*, int32_t part, int32_t) {
  std::string text = encode(text_of(*value), kept_by_mold);
  return part - cell::append_text(out, text.c_str());
}

// Joining: the element's form after the value's text, with exactly one "/" between them; the
// result has the value's type, the value itself is left alone. Nothing can be set this way.
Cell* eval_path(Cell* parent, Cell* element, const action::PathStep& step) {
  if (step.value) rt::fire_error("script", "bad-path-set", step.path, element);
  std::u32string joined = text_of(*parent);
  Cell* formed = stack::push_copy(constants::none);
  string::init_empty(formed, uint32_t(joined.size()) + 16);
  datatype::call_form(element, formed, nullptr, INT32_MAX);
  const std::u32string right = text_of(*formed);
  stack::pop_cells(1);
  bool left_slash = !joined.empty() && joined.back() == U'/';
  bool right_slash = !right.empty() && right.front() == U'/';
  if (left_slash && right_slash) {
    joined.pop_back();
  } else if (!left_slash && !right_slash) {
    joined += U'/';
  }
  joined += right;
  return make_text(parent, joined, cell::type_of(*parent));
}

}  // namespace

// --- Percent encoding ----------------------------------------------------------------------------

bool in_url_set(uint8_t byte) {
  return alphanumeric(byte) ||
         std::string_view("!#$&'()*+,-./:=?@_~").find(char(byte)) != std::string_view::npos;
}

std::u32string decode_percent(std::u32string_view text) {
  std::u32string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    uint8_t bytes[4];
    if (!hex_escape(text, i, bytes[0])) {
      out += text[i++];
      continue;
    }
    if (bytes[0] < 0xC0) {  // ASCII or a continuation byte: its own value
      out += char32_t(bytes[0]);
      i += 3;
      continue;
    }
    uint32_t length = unicode::utf8_lead_length(bytes[0]);
    uint32_t n = 1;
    while (n < length && hex_escape(text, i + 3 * n, bytes[n])) n++;
    int32_t code = -1;
    if (n == length && unicode::decode_utf8_dfa(bytes, bytes + n, code) != bytes + n) code = -1;
    if (code < 0) {  // no valid sequence: the "%" stays as it is
      out += text[i++];
      continue;
    }
    out += char32_t(code);
    i += 3 * n;
  }
  return out;
}

std::string encode_percent(std::u32string_view text, uint32_t mode) {
  return encode(text, [mode](uint8_t byte) { return kept_by(mode, byte); });
}

// --- Text values ---------------------------------------------------------------------------------

std::u32string text_of(const Cell& value) {
  Cell v = value;
  uint32_t count = string::rest_length(v);
  const uint8_t* p = string::head_address(v);
  uint32_t unit = alloc::series_of(cell::series_node(v))->unit();
  std::u32string text(count, U'\0');
  for (uint32_t i = 0; i < count; i++) text[i] = char32_t(unicode::read_unit(p + i * unit, unit));
  return text;
}

Cell* make_text(Cell* cell, std::u32string_view text, uint8_t type) {
  char32_t widest = 0;
  for (char32_t c : text) widest = std::max(widest, c);
  uint32_t unit = widest > 0xFFFF ? 4 : widest > 0xFF ? 2 : 1;
  uint32_t count = uint32_t(text.size());
  string::init_empty_of_unit(cell, count, unit);
  alloc::Series* s = alloc::series_of(cell::series_node(*cell));
  uint8_t* data = s->head_ptr();
  for (uint32_t i = 0; i < count; i++) {
    if (unit == 1) data[i] = uint8_t(text[i]);
    else if (unit == 2) reinterpret_cast<uint16_t*>(data)[i] = uint16_t(text[i]);
    else reinterpret_cast<uint32_t*>(data)[i] = uint32_t(text[i]);
  }
  s->tail = s->head + count * unit;
  cell::set_type(*cell, type);
  return cell;
}

void decode_percent(const Cell& source, const Cell& destination) {
  append_code_points(destination, decode_percent(text_of(source)));
}

void encode_percent(const Cell& source, const Cell& destination, uint32_t mode) {
  string::append_c_string(destination, encode_percent(text_of(source), mode).c_str());
}

// --- I/O -----------------------------------------------------------------------------------------

namespace {

// Whether the URL goes to the HTTP service: its text starts with "http", in this letter case.
bool http_q(const Cell& url) { return text_of(url).starts_with(U"http"); }

bool used(const Cell* refinement) { return refinement != nullptr; }

[[noreturn]] void refuse(const Cell& value) { rt::fire_error("script", "invalid-arg", &value); }

// The HTTP service's answer, which none! never is.
Cell* answered(Cell* response, const Cell& url) {
  if (cell::type_of(*response) == TYPE_NONE) rt::fire_error("access", "no-connect", &url);
  return response;
}

}  // namespace

Cell* open_port(const Cell& url, bool open, const action::OpenOptions& flags) {
  static const uint32_t parser_symbol = symbol::intern_c_string("url-parser");
  static const uint32_t parse_symbol = symbol::intern_c_string("parse-url");
  Cell* source = stack::push_copy(url);
  const Cell name = word::from_c_string("parse-url");
  Cell parsed = constants::none;
  const Cell* parser = context::value_cell_of_symbol(parser_symbol, context::global);
  if (parser && cell::type_of(*parser) == TYPE_OBJECT) {
    const Cell function = object::field_value(*parser, parse_symbol);
    if (cell::type_of(function) == TYPE_FUNCTION) {
      parsed = upcall::interpreter.call_function(name, function, std::span<const Cell>(source, 1));
    }
  }
  Cell* spec = stack::push_copy(parsed);
  if (cell::type_of(*spec) != TYPE_OBJECT) refuse(*source);
  Cell* proto = stack::push_copy(cell::make_datatype(TYPE_PORT));
  Cell* made = port::make(proto, spec, TYPE_PORT);
  *source = *made;
  stack::top = source + 1;
  if (open) port::open(*source, flags);
  return source;
}

Cell* read(Cell* source, const action::ReadOptions& options) {
  if (http_q(*source)) {
    // The HTTP request reads the whole resource: these refinements are refused, the defined answer.
    if (used(options.part) || used(options.seek) || used(options.as)) cell::fire_not_done();
    const Cell method = word::from_c_string("get");
    return answered(io::http_request(method, *source, nullptr, nullptr, options.binary,
                                     options.lines, options.info),
                    *source);
  }
  Cell* port = open_port(*source, false);
  return port::read(port, options);
}

Cell* write(Cell* target, Cell* data, const action::WriteOptions& options) {
  if (!http_q(*target)) {
    Cell* port = open_port(*target, false);
    return port::write(port, data, options);
  }
  // As for read: the request sends the whole data.
  if (used(options.part) || used(options.seek) || used(options.as)) cell::fire_not_done();
  // [method [headers] data], each part but the method optional; any other value is the data
  // of a post.
  Cell* method = stack::push_copy(word::from_c_string("post"));
  const Cell* headers = nullptr;
  const Cell* payload = data;
  if (cell::type_of(*data) == TYPE_BLOCK) {
    const int32_t count = block::rest_length(*data);
    const int32_t head = int32_t(cell::series_index(*data));
    payload = nullptr;
    if (count == 0) {
      *method = word::from_c_string("get");
    } else {
      *method = *block::cell_at(*data, head);
      if (cell::type_of(*method) != TYPE_WORD) refuse(*method);
    }
    if (count > 1) {
      headers = stack::push_copy(*block::cell_at(*data, head + 1));
      if (cell::type_of(*headers) != TYPE_BLOCK) refuse(*headers);
    }
    if (count > 2) payload = stack::push_copy(*block::cell_at(*data, head + 2));
  }
  if (payload) {
    const uint8_t type = cell::type_of(*payload);
    if (type != TYPE_BLOCK && type != TYPE_STRING && type != TYPE_BINARY) refuse(*payload);
  }
  return answered(io::http_request(*method, *target, headers, payload, options.binary,
                                   options.lines, options.info),
                  *target);
}

Cell* open(Cell* url, const action::OpenOptions& options) { return open_port(*url, true, options); }

// url! and file! share their row but for these entries (the rest, from delete on, in slot
// order); sort and trim stay unsupported.
template <class... Io>
void register_row(uint8_t id, datatype::Entry make, datatype::Entry to, datatype::Entry mold,
                  datatype::Entry eval_path, Io... io) {
  using namespace action;
  using datatype::inherit;
  datatype::register_type(
      id,
      {make, to, inherit<FORM>(), mold, eval_path, inherit<COMPARE>(), inherit<APPEND>(),
       inherit<AT>(), inherit<BACK>(), inherit<CHANGE>(), inherit<CLEAR>(), inherit<COPY>(),
       inherit<FIND>(), inherit<HEAD>(), inherit<HEAD_Q>(), inherit<INDEX_Q>(), inherit<INSERT>(),
       inherit<LENGTH_Q>(), inherit<MOVE>(), inherit<NEXT>(), inherit<PICK>(), inherit<POKE>(),
       inherit<REMOVE>(), inherit<REVERSE>(), inherit<SELECT>(), inherit<SKIP>(), inherit<SWAP>(),
       inherit<TAIL>(), inherit<TAIL_Q>(), inherit<TAKE>(), io...});
}

void register_datatypes() {
  using namespace action;
  using datatype::act;
  using datatype::inherit;
  register_row(TYPE_URL, act<MAKE>(make), act<TO>(to), act<MOLD>(mold), act<EVAL_PATH>(eval_path),
               inherit<MODIFY>(), act<OPEN>(open), act<READ>(read), act<WRITE>(write));
  register_row(TYPE_FILE, inherit<MAKE>(), inherit<TO>(), act<MOLD>(file::mold),
               inherit<EVAL_PATH>(), act<DELETE>(file::delete_), inherit<MODIFY>(),
               act<QUERY>(file::query), act<READ>(file::read), act<RENAME>(file::rename),
               act<WRITE>(file::write));
}

}  // namespace url
