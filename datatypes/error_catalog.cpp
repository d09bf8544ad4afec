// The error catalog's content: the ten categories with their titles, and each category's ids with
// their message templates, written in the language's own notation (quoted texts, and words or
// get-words naming the error's fields). error.cpp reads the templates at start-up into the
// catalog contexts.
#include "datatypes/error.h"

namespace error {

namespace {

constexpr CatalogId kThrowIds[] = {
    {"break", R"m("no loop to break")m"},
    {"return", R"m("return or exit not in function")m"},
    {"throw", R"m("no catch for throw:" :arg1)m"},
    {"continue", R"m("no loop to continue")m"},
    {"while-cond", R"m("BREAK/CONTINUE cannot be used in WHILE condition block")m"},
};
constexpr CatalogId kNoteIds[] = {
    {"no-load", R"m("cannot load: " :arg1)m"},
};
constexpr CatalogId kSyntaxIds[] = {
    {"invalid", R"m(:arg1 "invalid" :arg2 "at" :arg3)m"},
    {"missing", R"m(:arg1 "missing" :arg2 "at" :arg3)m"},
    {"no-header", R"m("script is missing a Zel header:" :arg1)m"},
    {"no-rs-header", R"m("script is missing a Zel/System header:" :arg1)m"},
    {"bad-header", R"m("script header is not valid:" :arg1)m"},
    {"malconstruct", R"m(:arg1 "invalid construction spec at" :arg2)m"},
    {"bad-char", R"m(:arg1 "invalid character at" :arg2)m"},
};
constexpr CatalogId kScriptIds[] = {
    {"no-value", R"m(:arg1 "has no value")m"},
    {"need-value", R"m(:arg1 "needs a value")m"},
    {"not-defined", R"m(:arg1 "word is not bound to a context")m"},
    {"not-in-context", R"m("context for" :arg1 "is not available")m"},
    {"no-arg", R"m(:arg1 "is missing its" :arg2 "argument")m"},
    {"expect-arg", R"m(:arg1 "does not allow" :arg2 "for its" :arg3 "argument")m"},
    {"expect-val", R"m("expected" :arg1 "not" :arg2)m"},
    {"expect-type", R"m(:arg1 :arg2 "field must be of type" :arg3)m"},
    {"cannot-use", R"m("cannot use" :arg1 "on" :arg2 "value")m"},
    {"invalid-arg", R"m("invalid argument:" :arg1)m"},
    {"invalid-type", R"m(:arg1 "type is not allowed here")m"},
    {"invalid-type-spec", R"m("invalid type specifier:" :arg1)m"},
    {"invalid-key-type", R"m("invalid key type:" :arg1)m"},
    {"invalid-op", R"m("invalid operator:" :arg1)m"},
    {"no-op-arg", R"m(:arg1 "operator is missing an argument")m"},
    {"bad-op-spec",
     R"m("making an op! requires a function with only 2 arguments)m"
     R"m( and no lit/get-word on left argument")m"},
    {"invalid-data", R"m("data not in correct format:" :arg1)m"},
    {"invalid-part", R"m("invalid /part count:" :arg1)m"},
    {"not-same-type", R"m("values must be of the same type")m"},
    {"not-same-class", R"m("cannot coerce" :arg1 "to" :arg2)m"},
    {"not-related", R"m("incompatible argument for" :arg1 "of" :arg2)m"},
    {"bad-func-def", R"m("invalid function definition:" :arg1)m"},
    {"bad-func-arg", R"m("function argument" :arg1 "is not valid")m"},
    {"bad-func-extern", R"m("invalid /extern value:" :arg1)m"},
    {"no-refine", R"m(:arg1 "has no refinement called" :arg2)m"},
    {"bad-refines", R"m("incompatible or invalid refinements")m"},
    {"bad-refine", R"m("invalid refinement value:" :arg1)m"},
    {"dup-refine", R"m("duplicate refinement usage in:" :arg1)m"},
    {"word-first", R"m("path must start with a word:" :arg1)m"},
    {"empty-path", R"m("cannot evaluate an empty path value")m"},
    {"unset-path", R"m(:arg2 "is unset in path" :arg1)m"},
    {"invalid-path", R"m("cannot access" :arg2 "in path" :arg1)m"},
    {"invalid-path-set", R"m("unsupported type in" :arg1 "set-path")m"},
    {"invalid-path-get", R"m("unsupported type in" :arg1 "get-path")m"},
    {"bad-path-type", R"m(:arg3 "returned a" :arg2 "value, so" :arg1 "could not be accessed")m"},
    {"bad-path-type2", R"m("path element >" :arg1 "< does not apply to" :arg2 "type")m"},
    {"bad-path-set", R"m("cannot set" :arg2 "in path" :arg1)m"},
    {"bad-field-set", R"m("cannot set" :arg1 "field to" :arg2 "datatype")m"},
    {"dup-vars", R"m("duplicate variable specified:" :arg1)m"},
    {"past-end", R"m("out of range or past end")m"},
    {"missing-arg", R"m("missing a required argument or refinement")m"},
    {"out-of-range", R"m("value out of range:" :arg1)m"},
    {"invalid-chars", R"m("contains invalid characters")m"},
    {"invalid-compare", R"m("cannot compare" :arg1 "with" :arg2)m"},
    {"wrong-type", R"m("datatype assertion failed for:" :arg1)m"},
    {"invalid-refine-arg", R"m("invalid" :arg1 "argument:" :arg2)m"},
    {"type-limit", R"m(:arg1 "overflow/underflow")m"},
    {"size-limit", R"m("maximum limit reached:" :arg1)m"},
    {"no-return", R"m("block did not return a value")m"},
    {"throw-usage", R"m("invalid use of a thrown error value")m"},
    {"locked-word", R"m("protected word - cannot modify:" :arg1)m"},
    {"protected", R"m("protected value or series - cannot modify")m"},
    {"bad-bad", R"m(:arg1 "error:" :arg2)m"},
    {"bad-make-arg", R"m("cannot MAKE" :arg1 "from:" :arg2)m"},
    {"bad-to-arg", R"m("cannot MAKE/TO" :arg1 "from:" :arg2)m"},
    {"invalid-months", R"m("invalid system/locale/month list")m"},
    {"invalid-spec-field", R"m("invalid" :arg1 "field in spec block")m"},
    {"missing-spec-field", R"m(:arg1 "not found in spec block")m"},
    {"move-bad", R"m("Cannot MOVE elements from" :arg1 "to" :arg2)m"},
    {"too-long", R"m("Content too long")m"},
    {"invalid-char", R"m("Invalid char! value:" :arg1)m"},
    {"bad-loop-series", R"m("Loop series changed to invalid value:" :arg1)m"},
    {"wrong-denom", R"m(:arg1 "not same denomination as" :arg2)m"},
    {"bad-denom", R"m("invalid denomination:" :arg1)m"},
    {"invalid-obj-evt", R"m("invalid object event handler:" :arg1)m"},
    {"parse-rule", R"m("PARSE - invalid rule or usage of rule:" :arg1)m"},
    {"parse-end", R"m("PARSE - unexpected end of rule after:" :arg1)m"},
    {"parse-invalid-ref", R"m("PARSE - get-word refers to a different series!" :arg1)m"},
    {"parse-block", R"m("PARSE - input must be of any-block! type:" :arg1)m"},
    {"parse-unsupported",
     R"m("PARSE - matching by datatype not supported for)m"
     R"m( any-string! input")m"},
    {"parse-infinite", R"m("PARSE - infinite recursion at rule: [" :arg1 "]")m"},
    {"parse-stack", R"m("PARSE - stack limit reached")m"},
    {"parse-keep", R"m("PARSE - KEEP is used without a wrapping COLLECT")m"},
    {"parse-into-bad", R"m("PARSE - COLLECT INTO/AFTER invalid series! argument")m"},
    {"parse-into-type",
     R"m("PARSE - COLLECT INTO/AFTER expects a series! of)m"
     R"m( compatible datatype")m"},
    {"draw-invalid", R"m("DRAW - invalid input at:" :arg1)m"},
    {"draw-infinite", R"m("DRAW - infinite recursion at:" :arg1)m"},
    {"invalid-data-facet", R"m("invalid DATA facet content" :arg1)m"},
    {"face-type", R"m("VIEW - invalid face type:" :arg1)m"},
    {"not-window", R"m("VIEW - expected a window root face")m"},
    {"bad-window", R"m("VIEW - a window face cannot be nested in another window")m"},
    {"not-linked", R"m("VIEW - face not linked to a window")m"},
    {"not-event-type", R"m("VIEW - not a valid event type" :arg1)m"},
    {"invalid-facet-type", R"m("VIEW - invalid rate value:" :arg1)m"},
    {"vid-invalid-syntax", R"m("VID - invalid syntax at:" :arg1)m"},
    {"rtd-invalid-syntax", R"m("RTD - invalid syntax at:" :arg1)m"},
    {"rtd-no-match", R"m("RTD - opening/closing tag not matching for:" :arg1)m"},
    {"react-bad-func", R"m("REACT - /LINK option requires a function! as argument")m"},
    {"react-not-enough", R"m("REACT - reactive functions must accept at least 2 arguments")m"},
    {"react-no-match",
     R"m("REACT - objects block length must match reaction)m"
     R"m( function arg count")m"},
    {"react-bad-obj", R"m("REACT - target can only contain object values")m"},
    {"react-gctx", R"m("REACT - word" :arg1 "is not a reactor's field")m"},
    {"lib-invalid-arg", R"m("LIBZEL - invalid argument for" :arg1)m"},
    {"zb-invalid-record", R"m("ZELBIN - invalid record at index" :arg1)m"},
};
constexpr CatalogId kMathIds[] = {
    {"zero-divide", R"m("attempt to divide by zero")m"},
    {"overflow", R"m("math or number overflow")m"},
    {"positive", R"m("positive number required")m"},
};
constexpr CatalogId kAccessIds[] = {
    {"cannot-open", R"m("cannot open:" :arg1)m"},
    {"cannot-close", R"m("cannot close:" :arg1)m"},
    {"invalid-utf8", R"m("invalid UTF-8 encoding:" :arg1)m"},
    {"not-open", R"m("port is not open:" :arg1)m"},
    {"no-connect", R"m("cannot connect:" :arg1 "reason: timeout")m"},
    {"no-scheme", R"m("missing port scheme:" :arg1)m"},
    {"unknown-scheme", R"m("scheme is unknown:" :arg1)m"},
    {"invalid-spec", R"m("invalid spec or options:" :arg1)m"},
    {"invalid-port", R"m("invalid port object (invalid field values)")m"},
    {"invalid-actor", R"m("invalid port actor (must be handle or object)")m"},
    {"no-port-action", R"m("port action not supported")m"},
    {"no-create", R"m("cannot create:" :arg1)m"},
    {"no-codec", R"m("cannot decode or encode (no codec):" :arg1)m"},
    {"bad-media", R"m("bad media data (corrupt image, sound, video)")m"},
    {"invalid-cmd", R"m("invalid port command:" :arg1)m"},
};
constexpr CatalogId kUserIds[] = {
    {"message", R"m(arg1)m"},
};
constexpr CatalogId kInternalIds[] = {
    {"bad-path", R"m("bad path:" arg1)m"},
    {"not-here", R"m(arg1 "not supported on your system")m"},
    {"no-memory", R"m("not enough memory")m"},
    {"wrong-mem", R"m("failed to release memory")m"},
    {"stack-overflow", R"m("stack overflow")m"},
    {"limit-hit", R"m("internal limit reached:" :arg1)m"},
    {"too-deep", R"m("block or paren series is too deep to process")m"},
    {"no-cycle", R"m("circular reference not allowed")m"},
    {"feature-na", R"m("feature not available")m"},
    {"not-done", R"m("reserved for future use (or not yet implemented)")m"},
    {"invalid-error", R"m("invalid error object field value:" :arg1)m"},
    {"routines", R"m("routines require compilation, from OS shell: `zel -r <script.zel>`")m"},
    {"zel-system", R"m("contains Zel/System code which requires compilation")m"},
    {"deprecated", R"m(arg1 "is DEPRECATED, please use" arg2 "instead")m"},
};

template <size_t N>
constexpr CatalogCategory category(const char* name, const char* title, const CatalogId (&ids)[N]) {
  return CatalogCategory{name, title, ids, uint32_t(N)};
}

}  // namespace

// The order is the numbering: a category's position is its number, an id's position its number
// within the category.
const CatalogCategory catalog_content[kCategoryCount] = {
    category("throw", "Throw Error", kThrowIds),
    category("note", "note", kNoteIds),
    category("syntax", "Syntax Error", kSyntaxIds),
    category("script", "Script Error", kScriptIds),
    category("math", "Math Error", kMathIds),
    category("access", "Access Error", kAccessIds),
    CatalogCategory{"reserved1", "Reserved1 Error", nullptr, 0},
    CatalogCategory{"reserved2", "Reserved2 Error", nullptr, 0},
    category("user", "User Error", kUserIds),
    category("internal", "Internal Error", kInternalIds),
};

}  // namespace error
