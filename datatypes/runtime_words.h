// The symbols, words, refinements and issue the runtime makes for itself at start-up, so that
// natives and actions compare words by symbol id and name frames without interning anything.
// All are kept by value: a word cell holds nodes and ids, never an address into a series, so
// nothing here goes stale when buffers move. Also the runtime's root block, the collector root
// that start-up code keeps its values in.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

// Each list: X(field, text). A field is the text with "-" as "_", "?" as "_q" and a trailing "_"
// where the text is a C++ keyword.
#define ZEL_RUNTIME_SYMBOLS(X)                                                                  \
  /* reflection fields and object words */                                                     \
  X(spec, "spec") X(body, "body") X(words, "words") X(class_, "class") X(self, "self")         \
  X(values, "values") X(owner, "owner") X(owned, "owned") X(events_q, "events?")               \
  /* type names for argument checks */                                                         \
  X(logic_type, "logic!") X(integer_type, "integer!") X(char_type, "char!")                    \
  X(float_type, "float!") X(percent_type, "percent!") X(any_type, "any-type!")                 \
  /* function exits */                                                                          \
  X(exit, "exit") X(return_, "return")                                                         \
  /* operating-system names */                                                                  \
  X(os_windows, "Windows") X(os_syllable, "Syllable") X(os_macos, "macOS")                     \
  X(os_linux, "Linux") X(os_netbsd, "NetBSD")                                                  \
  /* loop words seen by function */                                                             \
  X(repeat, "repeat") X(foreach, "foreach") X(map_each, "map-each")                            \
  X(remove_each, "remove-each")                                                                \
  /* parse keywords */                                                                          \
  X(any, "any") X(break_, "break") X(copy, "copy") X(end, "end") X(fail, "fail")               \
  X(into, "into") X(opt, "opt") X(not_, "not") X(quote, "quote") X(case_, "case")              \
  X(reject, "reject") X(set, "set") X(skip, "skip") X(some, "some") X(thru, "thru")            \
  X(to, "to") X(none, "none") X(if_, "if") X(remove, "remove") X(while_, "while")              \
  X(insert, "insert") X(only, "only") X(collect, "collect") X(keep, "keep") X(pick, "pick")    \
  X(ahead, "ahead") X(after, "after")                                                          \
  /* logic words */                                                                             \
  X(true_, "true") X(false_, "false") X(yes, "yes") X(no, "no") X(on, "on") X(off, "off")      \
  /* event fields */                                                                            \
  X(type, "type") X(face, "face") X(window, "window") X(offset, "offset") X(key, "key")        \
  X(flag, "flag") X(code, "code") X(picked, "picked") X(flags, "flags") X(away_q, "away?")     \
  X(ctrl_q, "ctrl?") X(shift_q, "shift?") X(down_q, "down?") X(mid_down_q, "mid-down?")        \
  X(alt_down_q, "alt-down?") X(aux_down_q, "aux-down?") X(orientation, "orientation")          \
  /* network request methods */                                                                 \
  X(get, "get") X(put, "put") X(post, "post") X(head, "head")                                  \
  /* pair, colour and image accessors */                                                        \
  X(size, "size") X(rgb, "rgb") X(alpha, "alpha") X(argb, "argb")                              \
  /* date and time accessors */                                                                 \
  X(date, "date") X(year, "year") X(month, "month") X(day, "day") X(zone, "zone")              \
  X(isoweek, "isoweek") X(week, "week") X(weekday, "weekday") X(yearday, "yearday")            \
  X(julian, "julian") X(time, "time") X(hour, "hour") X(minute, "minute")                      \
  X(second, "second") X(timezone, "timezone")                                                  \
  /* money and URL accessors ("code" is with the event fields) */                              \
  X(amount, "amount") X(user, "user") X(host, "host")                                          \
  /* system and function attributes */                                                          \
  X(system, "system") X(system_global, "system-global") X(trace, "trace")                      \
  X(no_trace, "no-trace")                                                                      \
  /* system fields the runtime reads */                                                        \
  X(options, "options") X(float_, "float") X(pretty_q, "pretty?")

#define ZEL_RUNTIME_WORDS(X)                                                                    \
  /* series action names and the past forms passed to on-deep-change* handlers */              \
  X(at, "at") X(back, "back") X(find, "find") X(head, "head") X(head_q, "head?")               \
  X(index_q, "index?") X(length_q, "length?") X(next, "next") X(pick, "pick") X(skip, "skip")  \
  X(select, "select") X(tail, "tail") X(tail_q, "tail?") X(change, "change")                   \
  X(changed, "changed") X(clear, "clear") X(cleared, "cleared") X(set_path, "set-path")        \
  X(append, "append") X(appended, "appended") X(move, "move") X(moved, "moved")                \
  X(poke, "poke") X(poked, "poked") X(put, "put") X(put_ed, "put-ed") X(removed, "removed")    \
  X(random, "random") X(randomized, "randomized") X(reverse, "reverse")                        \
  X(reversed, "reversed") X(sort, "sort") X(sorted, "sorted") X(swap, "swap")                  \
  X(swaped, "swaped") X(take, "take") X(taken, "taken") X(trim, "trim") X(trimmed, "trimmed")  \
  X(inserted, "inserted") X(uppercase, "uppercase") X(lowercase, "lowercase")                  \
  X(checksum, "checksum")                                                                      \
  /* parse trace events */                                                                      \
  X(push, "push") X(pop, "pop") X(fetch, "fetch") X(match, "match") X(iterate, "iterate")      \
  X(paren, "paren")                                                                            \
  /* call-frame names */                                                                        \
  X(frame_anon, "<anon>") X(frame_body, "<body>") X(frame_not_found, "<not-found>")            \
  X(frame_applied, "<applied>") X(frame_interp_callback, "<interp-callback>")                  \
  X(frame_lexer_callback, "<lexer-callback>") X(frame_parse_callback, "<parse-callback>")      \
  X(frame_compare_callback, "<compare-callback>")                                              \
  /* math actions */                                                                            \
  X(add, "add") X(subtract, "subtract") X(divide, "divide") X(multiply, "multiply")            \
  /* handler words */                                                                           \
  X(on_parse_event, "on-parse-event") X(on_change, "on-change*")                               \
  X(on_deep_change, "on-deep-change*")                                                         \
  /* error fields and catching */                                                               \
  X(type, "type") X(id, "id") X(try_, "try") X(catch_, "catch") X(name, "name")                \
  /* port actions */                                                                            \
  X(browse, "browse") X(open, "open") X(create, "create") X(close, "close")                    \
  X(delete_, "delete") X(modify, "modify") X(query, "query") X(read, "read")                   \
  X(rename, "rename") X(update, "update") X(write, "write")                                    \
  /* lexer trace events */                                                                      \
  X(prescan, "prescan") X(scan, "scan") X(load, "load") X(error, "error")                      \
  X(comment, "comment")                                                                        \
  /* interpreter trace events */                                                                \
  X(init, "init") X(exec, "exec") X(call, "call") X(return_, "return") X(enter, "enter")       \
  X(exit, "exit") X(prolog, "prolog") X(epilog, "epilog") X(throw_, "throw") X(expr, "expr")   \
  /* error categories */                                                                        \
  X(note, "note") X(syntax, "syntax") X(script, "script") X(math, "math")                      \
  X(access, "access") X(user, "user") X(internal, "internal")                                  \
  X(invalid_error, "invalid-error")                                                            \
  /* other */                                                                                   \
  X(local, "local")

#define ZEL_RUNTIME_REFINEMENTS(X)                                                              \
  X(local, "local") X(extern_, "extern") X(compare, "compare") X(part, "part")                 \
  X(skip, "skip") X(with, "with")

namespace runtime_words {

#define ZEL_ID_FIELD(field, text) uint32_t field;
#define ZEL_CELL_FIELD(field, text) Cell field;
struct Symbols {  // symbol ids, interned with their exact spelling
  ZEL_RUNTIME_SYMBOLS(ZEL_ID_FIELD)
};
struct Words {  // word! cells of the global context
  ZEL_RUNTIME_WORDS(ZEL_CELL_FIELD)
};
struct Refinements {  // refinement! cells, unbound
  ZEL_RUNTIME_REFINEMENTS(ZEL_CELL_FIELD)
};
#undef ZEL_ID_FIELD
#undef ZEL_CELL_FIELD

extern Symbols symbols;
extern Words words;
extern Refinements refinements;
extern Cell issue_ooo;  // #ooo

extern uint32_t root_block;  // node of the runtime's root block

// Makes the root block and roots it; before the symbol table.
void init_root_block();
// Makes the symbols, words, refinements and issue; once the global context exists.
void init();

}  // namespace runtime_words
