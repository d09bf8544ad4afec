// Fixture: the evaluator, above the values.
#include "datatypes/value.h"
#include "runtime/base.h"
