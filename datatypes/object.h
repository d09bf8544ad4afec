// object!: a context of named fields (datatypes/context.h) with a class identity and optional
// change handlers: on-change* is called when a field is assigned, on-deep-change* when a series
// the object owns is modified in place (datatypes/ownership.h). error! and port! reuse these
// actions. Handlers run language code, so everything here keeps nodes and indexes across them
// and re-derives addresses afterwards (runtime/gc.h).
#pragma once
#include <cstdint>
#include <initializer_list>

#include "datatypes/datatype.h"
#include "runtime/cell.h"

namespace object {

// Cell: word 1 the context's node (its owner cell holds a copy of the object), word 2 the class
// id (shared by objects made from one another without new fields), word 3 the node of the
// change-handler record, 0 when there is none.
//
// Change-handler record: a block of two inert pair! cells, on-change* first, on-deep-change*
// second. In each, word 2 packs the handler field's index (upper 16 bits, 0xFFFF when there is
// no such handler) and the number of frame cells after the handler's parameters (lower 16 bits);
// word 1 holds the number of the handler's parameters and word 3 the spec node these counts
// were taken from (when the field later holds a function with another spec they are counted
// again). The collector keeps that spec alive, so the node cannot be reused meanwhile.

inline uint32_t context_of(const Cell& object) { return object.w1; }
inline uint32_t class_of(const Cell& object) { return object.w2; }
inline uint32_t handlers_of(const Cell& object) { return object.w3; }
inline void set_context(Cell& object, uint32_t node) { object.w1 = node; }
inline void set_class(Cell& object, uint32_t id) { object.w2 = id; }
inline void set_handlers(Cell& object, uint32_t node) { object.w3 = node; }

// The change-handler record's entries (see above).
inline Cell make_handler_entry(uint32_t field) { return Cell{TYPE_PAIR, 0, field << 16, 0}; }
inline uint32_t handler_params_of(const Cell& entry) { return entry.w1; }
inline uint32_t handler_field_of(const Cell& entry) { return entry.w2 >> 16; }
inline uint32_t handler_rest_of(const Cell& entry) { return entry.w2 & 0xFFFF; }
inline uint32_t handler_spec_of(const Cell& entry) { return entry.w3; }
inline void set_handler_params(Cell& entry, uint32_t count) { entry.w1 = count; }
// Clears the frame count too: it is counted again for the field's function.
inline void set_handler_field(Cell& entry, uint32_t field) { entry.w2 = field << 16; }
inline void set_handler_rest(Cell& entry, uint32_t count) {
  entry.w2 = (entry.w2 & 0xFFFF0000) | count;
}
inline void set_handler_spec(Cell& entry, uint32_t node) { entry.w3 = node; }

// Sets the word to the value in its context, and when that context is an object's with change
// handlers, calls its on-change* handler as a path assignment does. The word cell is written
// after allocating: it must stay put. May run any code.
void write_word(Cell& word, const Cell& value);

// The value of the object's field named by the symbol (any case); none when the value is no
// object or has no such field.
Cell field_value(const Cell& object, uint32_t symbol);
// The value reached from the global word `system` through fields of those names (symbols), as
// the path system/a/b would read it; none where a step finds no object or no field.
Cell system_field(std::initializer_list<uint32_t> symbols);
// The same, with `absent` where a step finds no object or no field.
Cell system_field(std::initializer_list<uint32_t> symbols, const Cell& absent);
// The field's value cell, or null where a step finds no object or no field; valid until the
// next allocation.
Cell* system_field_cell(std::initializer_list<uint32_t> symbols);

// Calls the object's on-change* handler, when it has one, with the word (bound to the object),
// the old and the new value. The cells are copied first. May run any code.
void fire_on_change(const Cell& object, const Cell& word, const Cell& old_value,
                    const Cell& new_value);
// The object side of owner notification (installed with ownership::set_deep_change_handler):
// calls the owner's on-deep-change* handler with the owner, its field word, the modified value,
// the action word, the new value (none! when null), the index and the count.
void fire_on_deep_change(const Cell& owner, const Cell& word, const Cell& target,
                         const Cell& action, const Cell* new_value, int32_t index,
                         int32_t count);

// Building an object field by field (make, and the binary value reader): prepare_handlers gives
// the object (a cell that stays put) a handler record whose entries are still absent when its
// context has on-change* or on-deep-change* fields, so that copies taken while the fields are
// filled carry it, and makes the object its context's owner. attach_handlers then fills the
// record from those fields, each of which must hold a function! or routine! (else
// script/bad-field-set); an on-deep-change* handler makes the object the owner of its series.
// May allocate.
void prepare_handlers(Cell* object);
void attach_handlers(const Cell& object);

// The refinements of `set` that say how a value is spread over many words or fields.
struct SetOptions {
  bool any = false;   // unset! values are set too
  bool only = false;  // a block or object value is set whole, not spread
  bool some = false;  // none! values are skipped
};

// Sets many fields at once, as `set` does with an object target: from a block in field order
// (none! past its end), from another object by field name, or every field to the value (any
// other value, or with `only`). Without any, only or some an unset! among the values raises
// script/need-value naming its field before anything is set; with some, none! values are
// skipped. Each assignment but those of the handler fields fires on-change*. May run any code.
void set_many(Cell* object, const Cell* value, const SetOptions& options);

// Pushes a new object made from the block without evaluating it: each set-word becomes a field,
// and a run of set-words takes the value after it (none! at the end of the block). Unless
// `only`, the words none, true, false, yes, no, on and off stand for their values. From scratch
// (a fresh class id) or as a deep copy of the prototype (its class id and handlers kept). May
// allocate.
Cell* construct(const Cell& spec, const Cell* prototype, bool only);

// --- Actions -------------------------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, uint8_t type);
// changed, class, words, values, body, owner, events?; the result replaces *value.
void reflect(Cell* value, uint32_t field_symbol);
int32_t form(Cell* value, Cell* out, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* out, action::MoldOptions options, Cell* arg, int32_t part,
             int32_t indent);
// mold with another opening than "make object! [" (port! molds as "make port! [").
int32_t mold_as(Cell* value, Cell* out, const char* head, action::MoldOptions options, Cell* arg,
                int32_t part, int32_t indent);
// A field read or set through a path; a missing field gives unset! when `get` and `last` are
// both set, script/invalid-path when only `last` is, script/unset-path otherwise.
Cell* eval_path(Cell* parent, Cell* element, const action::PathStep& step);
int32_t compare(Cell* a, Cell* b, int32_t op);
void copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
Cell* put(Cell* object, Cell* key, Cell* value, bool case_flag);
Cell* select(Cell* object, Cell* key, const action::FindOptions& options);
Cell* modify(Cell* target, Cell* field, Cell* value, bool case_flag);

// The collector's marking of an object's payload (its context and handler records); port!
// marks its own the same way.
void mark(const Cell& value);

// Registers object!, its collector entry and the object side of owner notification.
void register_datatype();

}  // namespace object
