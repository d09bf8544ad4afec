// url! and file!: text values that name resources (file! is a child of url!, url! of string!).
// This module holds what they share: the percent encoding and decoding of URLs (also used by
// the lexer and by dehex/enhex), the building of a URL from a block, path joining with "/",
// and url!'s mold. Relies on the rooting rule (runtime/gc.h): text is gathered into C++ memory
// before anything allocates, and new text sits on the data stack while values are formed into it.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "datatypes/action.h"
#include "runtime/cell.h"

namespace url {

// Encoding modes: kUnreserved keeps the letters, the digits and -._~; any other mode keeps the
// URL set (those and ! # $ & ' ( ) * + , / : = ? @).
constexpr uint32_t kUnreserved = 254;
constexpr uint32_t kUrlSet = 255;

// Whether the byte belongs to the URL set (bytes of 128 or more never do).
bool in_url_set(uint8_t byte);

// Percent decoding: an escape of an ASCII or continuation byte gives that byte as a code point;
// the escapes of a whole well-formed UTF-8 sequence give its one code point; anything else
// (a "%" without two hex digits, a lead byte without the escapes of a valid sequence after it)
// is kept as it stands.
std::u32string decode_percent(std::u32string_view text);
// Percent encoding of the UTF-8 form of the text, byte by byte (escape_byte). Code points above
// 10FFFF raise script/invalid-char.
std::string encode_percent(std::u32string_view text, uint32_t mode);

// The code points of a text value from its head.
std::u32string text_of(const Cell& value);
// Makes the cell a new text value of the type holding the code points, in the narrowest unit
// that holds them. The cell must stay put (written after the allocation). May allocate.
Cell* make_text(Cell* cell, std::u32string_view text, uint8_t type);
// Appends the decoded / encoded text of the source (from its head) to the destination string,
// whose node must be rooted. May allocate.
void decode_percent(const Cell& source, const Cell& destination);
void encode_percent(const Cell& source, const Cell& destination, uint32_t mode);

// A port for the URL (url/open-port): the URL parser of the library (url-parser/parse-url)
// splits it into an object, which becomes a port's spec; with open the port's open action runs
// with the flags. A parser that gives no object (or no parser) raises script/invalid-arg with
// the URL. Pushes the port. May run any code.
Cell* open_port(const Cell& url, bool open, const action::OpenOptions& flags = {});

// The I/O actions of url!: an "http" URL is read and written by one HTTP request (io.h), any
// other through a port (open_port) and its read and write actions.
Cell* read(Cell* source, const action::ReadOptions& options);
Cell* write(Cell* target, Cell* data, const action::WriteOptions& options);
Cell* open(Cell* url, const action::OpenOptions& options);

void register_datatypes();  // url! then file!, after string!, their parent

}  // namespace url
