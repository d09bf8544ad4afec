// Fixture: a value layer source that reaches up into the evaluator.
#include "datatypes/value.h"
#include "interpreter/eval.h"
