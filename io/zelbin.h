// ZELBIN: the binary serialization of values. One header ("ZELBIN", version, flags) and two
// record forms behind it: plain (every field a 32-bit word, close to the cell) and compact
// (bytes and LEB128 varints). Both carry a symbol table, references to series, contexts and
// functions written earlier in the same stream (so shared and cyclic structures come back
// shared and cyclic), and words' bindings. The writers (zelbin_writer.cpp) turn one value and
// everything it reaches into a new binary!; the reader (zelbin_reader.cpp) appends the values of
// a stream to a block and refuses malformed input with script/zb-invalid-record naming the
// 1-based byte position of the failing field, never reading outside its input.
//
// Relies on the rooting rule (runtime/gc.h): the writer allocates no series memory until it
// makes the result, so it walks cells in place; the reader re-derives every cell address after
// each allocation and keeps the values it builds in rooted blocks from the moment they exist.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "runtime/cell.h"

namespace zelbin {

// --- Format ------------------------------------------------------------------------------------

constexpr uint8_t kMagic[6] = {'Z', 'E', 'L', 'B', 'I', 'N'};
constexpr uint8_t kVersion = 2;  // what the writers put; readers ignore the byte
constexpr uint8_t kBootVersion = 1;  // what the boot image carries
constexpr size_t kHeaderSize = 8;
constexpr uint8_t kCompact = 1, kCompressed = 2, kSymbols = 4;  // header flags

// Compact lead and prefix bytes.
constexpr uint8_t kVariant = 0x40;       // on a type byte: the type's variant flag
constexpr uint8_t kEscape = 63;          // type byte id: the datatype id follows as a varint
constexpr uint8_t kSmallInteger = 0x80;  // 0x80-0xBF: integer! 0 to 63
constexpr uint8_t kNewLinePrefix = 0xC0;
constexpr uint8_t kReferencePrefix = 0xC1;
constexpr uint8_t kTrue = 0xC2;
constexpr uint8_t kFalse = 0xC3;
constexpr uint8_t kSetWordPrefix = 0xC4;  // boot image only
constexpr uint8_t kCopyReference = 0xFF;

// Plain record header bits (besides the datatype id in bits 0-7).
constexpr uint32_t kPlainNewLine = 1u << 31;
constexpr uint32_t kPlainReference = 1u << 19;
constexpr uint32_t kPlainGlobal = 1u << 25;      // words: global (boot image: global set-word)
constexpr uint32_t kPlainNegative = 1u << 22;    // money!
constexpr uint32_t kPlainComplement = 1u << 23;  // bitset!
constexpr uint32_t kPlainHandlers = 1u << 24;    // object!
constexpr uint32_t kPlainValues = 1u << 30;      // context!: values present
constexpr uint32_t kPlainStackHeld = 1u << 29;   // context!: values on the stack
constexpr uint32_t kPlainSelf = 1u << 28;        // context!: self flag
constexpr uint32_t kPlainKindShift = 26;     // context!: kind, 2 bits
constexpr uint32_t kPlainWidthShift = 8;     // string family, binary!: unit; tuple!: byte count
constexpr uint32_t kPlainWrappedShift = 16;  // op!: the wrapped type

// Compact context byte K.
constexpr uint8_t kKindMask = 3, kStackHeld = 4, kSelf = 8, kValues = 16;

constexpr uint32_t kMaxPathLength = 65536;

// --- Writers -------------------------------------------------------------------------------------

// Pushes a new binary! holding the value (and everything it reaches) as a ZELBIN stream in the
// plain or the compact form. A value of a type without a record (routine!, triple!, handle!,
// port!, event!, and the datatypes not built yet) raises access/no-codec with its datatype. Sets
// the user-decoding flag. May allocate (only once the stream is complete).
Cell* encode_plain(const Cell& value);
Cell* encode_compact(const Cell& value);

// The boot image's writer: the compact form with a symbol table, whose records are global
// set-word pairs (the word of the global context set to the value; nothing left in the root
// block) and root values, numbered from 0 in the order they are added. A word bound to a context
// added with add_context is written bound by that root's number; any other word must be global
// (or bound to a context without an object or function owner) or script/invalid-arg is raised.
// Values are read in place and their nodes kept: what is written must stay rooted, and unchanged,
// until the stream is taken.
class Writer;
class BootWriter {
 public:
  BootWriter();
  ~BootWriter();
  void set_word(uint32_t symbol, const Cell& value);
  // A native! or action! (type) of that table index, made from the spec block when read.
  void set_callable(uint32_t symbol, uint8_t type, uint32_t index, const Cell& spec);
  uint32_t add_root(const Cell& value);       // returns its root number
  uint32_t add_context(uint32_t context);     // a context! root value; returns its root number
  uint32_t roots() const;                     // the root values added so far
  std::vector<uint8_t> stream() const;        // header (version 1, flags 5) and records

 private:
  std::unique_ptr<Writer> writer_;
};

// --- Reader --------------------------------------------------------------------------------------

// Set by the language-level codec's calls (and by decode); cleared by the boot loader. While it
// is set, boot-image records (global set-words, words bound by output index) are refused and
// objects take class id -1.
extern bool user_decoding;

// Appends the values of the stream in data (which must not lie in series memory: the reader
// allocates) to the output block and returns the output index of the first one. `length` < 0:
// unknown (the boot image), the counts are then trusted and only the records are bounded.
// With raise_errors a missing magic or a corrupt compressed body raises script/invalid-data
// with `source` (none when null); without (boot), they print the boot loader's message and end
// the process with status 0. Every record-level fault raises script/zb-invalid-record with the
// 1-based position of the failing byte in the stream (in a compressed stream, the position in
// the stream as it reads uncompressed: the 8 header bytes, then the inflated body). The output
// block must be rooted.
uint32_t read(const uint8_t* data, int64_t length, const Cell& output, bool raise_errors,
              const Cell* source = nullptr);

// The codec's decode: sets the user-decoding flag and pushes a new block! holding the values
// of the binary!'s stream from its head (raising as read does, with the binary as source).
Cell* decode(const Cell& binary);

// The boot loader: decodes the image (length unknown) into the runtime's root block with the
// user-decoding flag clear and the collector switched off. Unless keep_literals, root_literals
// then names the root block index of the first value decoded.
void load_boot(const uint8_t* payload, bool keep_literals);
extern uint32_t root_literals;

}  // namespace zelbin
