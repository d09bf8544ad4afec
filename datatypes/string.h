// string!: text values. For now their printing (form and mold) and the series actions they take
// from series!; the rest of the string! actions come with the string datatype's own work.
#pragma once

namespace string_type {

void register_datatype();

}  // namespace string_type
