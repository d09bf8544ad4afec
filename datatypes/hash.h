// hash!: a block that keeps a hash index of its values (datatypes/hashtable.h) so that find and
// select look values up instead of walking the block. block!'s and series!'s own edits keep the
// index in step; this module makes, prints, copies and reorders hashes and answers find and
// select through the index.
#pragma once

namespace hash {

void register_datatype();  // after block!, its parent

}  // namespace hash
