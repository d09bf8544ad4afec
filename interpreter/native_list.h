// The native list: every native's index in the native table, its name in the language and the
// C++ function that runs it, written once. natives.h makes the index enum and the functions'
// declarations from it and natives.cpp the table; the build checks the names and indexes
// against the natives' definitions in boot/env/*.zel (boot/check_lists.py). The indexes
// are fixed: native! values rely on them.
#pragma once

// X(index, ENUM, name, function): a native that is built; its function, in namespace natives,
// is defined in one of the interpreter/natives_*.cpp families. R(index, ENUM, name): an index
// reserved for a native not built yet (its table entry stays empty).
#define ZEL_NATIVES(X, R) \
  X(  1, IF,                "if",                if_)                 \
  X(  2, UNLESS,            "unless",            unless)              \
  X(  3, EITHER,            "either",            either)              \
  X(  4, ANY,               "any",               any)                 \
  X(  5, ALL,               "all",               all)                 \
  X(  6, WHILE,             "while",             while_)              \
  X(  7, UNTIL,             "until",             until)               \
  X(  8, LOOP,              "loop",              loop)                \
  X(  9, REPEAT,            "repeat",            repeat)              \
  X( 10, FOREVER,           "forever",           forever)             \
  X( 11, FOREACH,           "foreach",           foreach)             \
  X( 12, FORALL,            "forall",            forall)              \
  X( 13, REMOVE_EACH,       "remove-each",       remove_each)         \
  X( 14, FUNC,              "func",              func)                \
  X( 15, FUNCTION,          "function",          function_native)     \
  X( 16, DOES,              "does",              does)                \
  X( 17, HAS,               "has",               has)                 \
  X( 18, SWITCH,            "switch",            switch_)             \
  X( 19, CASE,              "case",              case_)               \
  X( 20, DO,                "do",                do_)                 \
  X( 21, GET,               "get",               get)                 \
  X( 22, SET,               "set",               set)                 \
  X( 23, PRINT,             "print",             print)               \
  X( 24, PRIN,              "prin",              prin)                \
  X( 25, EQUAL_Q,           "equal?",            equal_q)             \
  X( 26, NOT_EQUAL_Q,       "not-equal?",        not_equal_q)         \
  X( 27, STRICT_EQUAL_Q,    "strict-equal?",     strict_equal_q)      \
  X( 28, LESSER_Q,          "lesser?",           lesser_q)            \
  X( 29, GREATER_Q,         "greater?",          greater_q)           \
  X( 30, LESSER_OR_EQUAL_Q, "lesser-or-equal?",  lesser_or_equal_q)   \
  X( 31, GREATER_OR_EQUAL_Q, "greater-or-equal?", greater_or_equal_q) \
  X( 32, SAME_Q,            "same?",             same_q)              \
  X( 33, NOT,               "not",               not_)                \
  X( 34, TYPE_Q,            "type?",             type_q)              \
  X( 35, REDUCE,            "reduce",            reduce)              \
  X( 36, COMPOSE,           "compose",           compose)             \
  X( 37, STATS,             "stats",             stats)               \
  X( 38, BIND,              "bind",              bind)                \
  X( 39, IN,                "in",                in)                  \
  X( 40, PARSE,             "parse",             parse_)              \
  X( 41, UNION,             "union",             union_)              \
  X( 42, INTERSECT,         "intersect",         intersect)           \
  X( 43, UNIQUE,            "unique",            unique)              \
  X( 44, DIFFERENCE,        "difference",        difference)          \
  X( 45, EXCLUDE,           "exclude",           exclude)             \
  X( 46, COMPLEMENT_Q,      "complement?",       complement_q)        \
  X( 47, DEHEX,             "dehex",             dehex)               \
  X( 48, ENHEX,             "enhex",             enhex)               \
  X( 49, NEGATIVE_Q,        "negative?",         negative_q)          \
  X( 50, POSITIVE_Q,        "positive?",         positive_q)          \
  X( 51, MAX,               "max",               max)                 \
  X( 52, MIN,               "min",               min)                 \
  X( 53, SHIFT,             "shift",             shift)               \
  X( 54, TO_HEX,            "to-hex",            to_hex)              \
  X( 55, SINE,              "sine",              sine)                \
  X( 56, COSINE,            "cosine",            cosine)              \
  X( 57, TANGENT,           "tangent",           tangent)             \
  X( 58, ARCSINE,           "arcsine",           arcsine)             \
  X( 59, ARCCOSINE,         "arccosine",         arccosine)           \
  X( 60, ARCTANGENT,        "arctangent",        arctangent)          \
  X( 61, ARCTANGENT2,       "arctangent2",       arctangent2)         \
  X( 62, NAN_Q,             "NaN?",              nan_q)               \
  X( 63, LOG_2,             "log-2",             log_2)               \
  X( 64, LOG_10,            "log-10",            log_10)              \
  X( 65, LOG_E,             "log-e",             log_e)               \
  X( 66, EXP,               "exp",               exp_)                \
  X( 67, SQUARE_ROOT,       "square-root",       square_root)         \
  X( 68, CONSTRUCT,         "construct",         construct)           \
  X( 69, VALUE_Q,           "value?",            value_q)             \
  X( 70, TRY,               "try",               try_)                \
  X( 71, UPPERCASE,         "uppercase",         uppercase)           \
  X( 72, LOWERCASE,         "lowercase",         lowercase)           \
  X( 73, AS_PAIR,           "as-pair",           as_pair)             \
  X( 74, AS_POINT2D,        "as-point2D",        as_point2d)          \
  X( 75, AS_POINT3D,        "as-point3D",        as_point3d)          \
  X( 76, AS_MONEY,          "as-money",          as_money)            \
  X( 77, BREAK,             "break",             break_)              \
  X( 78, CONTINUE,          "continue",          continue_)           \
  X( 79, EXIT,              "exit",              exit_)               \
  X( 80, RETURN,            "return",            return_)             \
  X( 81, THROW,             "throw",             throw_)              \
  X( 82, CATCH,             "catch",             catch_)              \
  X( 83, EXTEND,            "extend",            extend)              \
  X( 84, DEBASE,            "debase",            debase)              \
  X( 85, TO_LOCAL_FILE,     "to-local-file",     to_local_file)       \
  X( 86, WAIT,              "wait",              wait)                \
  X( 87, CHECKSUM,          "checksum",          checksum)            \
  X( 88, UNSET,             "unset",             unset)               \
  X( 89, NEW_LINE,          "new-line",          new_line)            \
  X( 90, NEW_LINE_Q,        "new-line?",         new_line_q)          \
  X( 91, ENBASE,            "enbase",            enbase)              \
  X( 92, CONTEXT_Q,         "context?",          context_q)           \
  X( 93, SET_ENV,           "set-env",           set_env)             \
  X( 94, GET_ENV,           "get-env",           get_env)             \
  X( 95, LIST_ENV,          "list-env",          list_env)            \
  X( 96, NOW,               "now",               now)                 \
  X( 97, SIGN_Q,            "sign?",             sign_q)              \
  X( 98, AS,                "as",                as)                  \
  X( 99, CALL,              "call",              call)                \
  X(100, ZERO_Q,            "zero?",             zero_q)              \
  X(101, SIZE_Q,            "size?",             size_q)              \
  X(102, BROWSE,            "browse",            browse)              \
  X(103, COMPRESS,          "compress",          compress)            \
  X(104, DECOMPRESS,        "decompress",        decompress)          \
  X(105, RECYCLE,           "recycle",           recycle)             \
  X(106, TRANSCODE,         "transcode",         transcode)           \
  X(107, APPLY,             "apply",             apply)
