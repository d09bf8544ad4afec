// tag!, email! and ref!: string! subtypes that differ from it only in their literal text (<a>,
// name@host, @ref) and, for email!, the user and host fields. Text, encoding and the series
// actions are string!'s.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace tag {

void register_datatypes();  // after string!, their parent

}  // namespace tag
