// Registers every datatype at start-up, parents before children. Every id gets its name and
// parent first (an empty action row); then each datatype that has its implementation fills its
// row, in an order that puts every parent's real row before its children's.
#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/constants.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/error.h"
#include "datatypes/float.h"
#include "datatypes/function.h"
#include "datatypes/handle.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/path.h"
#include "datatypes/point.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tag.h"
#include "datatypes/time.h"
#include "datatypes/tuple.h"
#include "datatypes/typeset.h"
#include "datatypes/url.h"
#include "datatypes/word.h"
#include "runtime/gc.h"

namespace datatype {

namespace {

struct Name {
  uint8_t id;
  uint8_t parent;
  const char* name;
};

// The registration order, which puts every parent before its children.
constexpr Name kNames[] = {
    {TYPE_DATATYPE, 0, "datatype!"},       {TYPE_UNSET, 0, "unset!"},
    {TYPE_NONE, 0, "none!"},               {TYPE_LOGIC, 0, "logic!"},
    {TYPE_SERIES, 0, "series!"},           {TYPE_BLOCK, TYPE_SERIES, "block!"},
    {TYPE_STRING, TYPE_SERIES, "string!"}, {TYPE_BINARY, TYPE_STRING, "binary!"},
    {TYPE_INTEGER, 0, "integer!"},         {TYPE_SYMBOL, 0, "symbol!"},
    {TYPE_CONTEXT, 0, "context!"},         {TYPE_WORD, TYPE_SYMBOL, "word!"},
    {TYPE_LIT_WORD, TYPE_WORD, "lit-word!"}, {TYPE_SET_WORD, TYPE_WORD, "set-word!"},
    {TYPE_GET_WORD, TYPE_WORD, "get-word!"}, {TYPE_REFINEMENT, TYPE_WORD, "refinement!"},
    {TYPE_CHAR, TYPE_INTEGER, "char!"},    {TYPE_NATIVE, 0, "native!"},
    {TYPE_ACTION, TYPE_NATIVE, "action!"}, {TYPE_OP, TYPE_NATIVE, "op!"},
    {TYPE_PATH, TYPE_BLOCK, "path!"},      {TYPE_LIT_PATH, TYPE_PATH, "lit-path!"},
    {TYPE_SET_PATH, TYPE_PATH, "set-path!"}, {TYPE_GET_PATH, TYPE_PATH, "get-path!"},
    {TYPE_FUNCTION, TYPE_CONTEXT, "function!"}, {TYPE_ROUTINE, TYPE_FUNCTION, "routine!"},
    {TYPE_PAREN, TYPE_BLOCK, "paren!"},    {TYPE_ISSUE, TYPE_WORD, "issue!"},
    {TYPE_URL, TYPE_STRING, "url!"},       {TYPE_FILE, TYPE_URL, "file!"},
    {TYPE_OBJECT, 0, "object!"},           {TYPE_BITSET, 0, "bitset!"},
    {TYPE_TRIPLE, 0, "triple!"},           {TYPE_FLOAT, 0, "float!"},
    {TYPE_TYPESET, 0, "typeset!"},         {TYPE_ERROR, TYPE_OBJECT, "error!"},
    {TYPE_VECTOR, TYPE_STRING, "vector!"}, {TYPE_MAP, 0, "map!"},
    {TYPE_HASH, TYPE_BLOCK, "hash!"},      {TYPE_PAIR, 0, "pair!"},
    {TYPE_PERCENT, TYPE_FLOAT, "percent!"}, {TYPE_TUPLE, 0, "tuple!"},
    {TYPE_TIME, TYPE_FLOAT, "time!"},      {TYPE_TAG, TYPE_STRING, "tag!"},
    {TYPE_EMAIL, TYPE_STRING, "email!"},   {TYPE_HANDLE, TYPE_INTEGER, "handle!"},
    {TYPE_DATE, 0, "date!"},               {TYPE_PORT, TYPE_OBJECT, "port!"},
    {TYPE_MONEY, 0, "money!"},             {TYPE_REF, TYPE_STRING, "ref!"},
    {TYPE_POINT2D, 0, "point2D!"},         {TYPE_POINT3D, 0, "point3D!"},
    {TYPE_IMAGE, TYPE_SERIES, "image!"},
};

}  // namespace

void register_all() {
  for (const Name& n : kNames) register_type(n.id, n.parent, n.name, {});
  // Text series exist before their datatypes' actions do (names, mold output): keep them alive.
  for (uint8_t type : {TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF,
                       TYPE_BINARY}) {
    gc::set_type_marker(type, gc::mark_series_cell);
  }
  datatype::init();
  unset::init();
  none::init();
  logic::init();
  integer::init();
  char_::init();  // inherits from integer!
  series::init();
  block::init();
  string::register_datatype();  // after series!, its parent
  symbol::register_datatype();
  context::register_datatype();
  word::register_datatypes();
  native::register_datatypes();    // native! before action! and op!
  function::register_datatypes();  // after context!, its parent; function! before routine!
  triple::register_datatype();
  float_::register_datatypes();  // float! before its child percent!
  typeset::init();
  object::register_datatype();  // before error!, which inherits from it
  error::register_datatype();
  bitset::init();
  binary::init();  // takes string!'s row: string! registers before it
  path::register_datatypes();  // takes block!'s row: every module filling it registers before
  url::register_datatypes();   // url! then file!, after string!
  tag::register_datatypes();
  time_::register_datatype();  // after float!
  handle::register_datatype();  // after integer!
  map::register_datatypes();   // map!, and hash! after block!
  pair::register_datatype();
  point::register_datatypes();
  tuple::register_datatype();
  date::register_datatype();
  money::register_datatype();
}

}  // namespace datatype
