// Registers every datatype at start-up. Every type of the datatype list (runtime/types.h) gets
// its name and parent first (an empty action row); then each datatype that has its
// implementation fills its row, in an order that puts every parent's real row before its
// children's.
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
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/path.h"
#include "datatypes/point.h"
#include "datatypes/port.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tag.h"
#include "datatypes/time.h"
#include "datatypes/tuple.h"
#include "datatypes/typeset.h"
#include "datatypes/url.h"
#include "datatypes/vector.h"
#include "datatypes/word.h"
#include "runtime/gc.h"

namespace datatype {

void register_all() {
  for (uint8_t type = 1; type < TYPE_COUNT; type++) {
    if (types::name(type)) register_type(type, {});
  }
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
  vector::register_datatype();  // takes string!'s row too
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
  port::register_datatype();  // after object!, its parent
  money::register_datatype();
  image::register_datatype();  // after series!, its parent
}

}  // namespace datatype
