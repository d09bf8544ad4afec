// The action list: every action's slot and its name in the language, written once. The slot
// enum (action::Slot in datatypes/datatype.h) is made from it; the build checks the names and
// slots against the actions' definitions in boot/env/*.zel (boot/check_lists.py), and
// the interpreter binds each slot's dispatcher by its name (interpreter/dispatch.cpp). The slots
// are fixed: action! values and the datatypes' tables rely on them.
#pragma once

// X(ENUM, slot, name). A null name: the slot has no word of its own (the path step, set-path
// and compare are reached through paths and the comparison natives). make is defined by
// start-up itself (boot/environment.cpp), every other named action by boot/env/10-actions.zel.
#define ZEL_ACTIONS(X) \
  X(MAKE,        1, "make")            \
  X(RANDOM,      2, "random")          \
  X(REFLECT,     3, "reflect")         \
  X(TO,          4, "to")              \
  X(FORM,        5, "form")            \
  X(MOLD,        6, "mold")            \
  X(EVAL_PATH,   7, nullptr)           \
  X(SET_PATH,    8, nullptr)           \
  X(COMPARE,     9, nullptr)           \
  X(ABSOLUTE,   10, "absolute")        \
  X(ADD,        11, "add")             \
  X(DIVIDE,     12, "divide")          \
  X(MULTIPLY,   13, "multiply")        \
  X(NEGATE,     14, "negate")          \
  X(POWER,      15, "power")           \
  X(REMAINDER,  16, "remainder")       \
  X(ROUND,      17, "round")           \
  X(SUBTRACT,   18, "subtract")        \
  X(EVEN_Q,     19, "even?")           \
  X(ODD_Q,      20, "odd?")            \
  X(AND_T,      21, "and~")            \
  X(COMPLEMENT, 22, "complement")      \
  X(OR_T,       23, "or~")             \
  X(XOR_T,      24, "xor~")            \
  X(APPEND,     25, "append")          \
  X(AT,         26, "at")              \
  X(BACK,       27, "back")            \
  X(CHANGE,     28, "change")          \
  X(CLEAR,      29, "clear")           \
  X(COPY,       30, "copy")            \
  X(FIND,       31, "find")            \
  X(HEAD,       32, "head")            \
  X(HEAD_Q,     33, "head?")           \
  X(INDEX_Q,    34, "index?")          \
  X(INSERT,     35, "insert")          \
  X(LENGTH_Q,   36, "length?")         \
  X(MOVE,       37, "move")            \
  X(NEXT,       38, "next")            \
  X(PICK,       39, "pick")            \
  X(POKE,       40, "poke")            \
  X(PUT,        41, "put")             \
  X(REMOVE,     42, "remove")          \
  X(REVERSE,    43, "reverse")         \
  X(SELECT,     44, "select")          \
  X(SORT,       45, "sort")            \
  X(SKIP,       46, "skip")            \
  X(SWAP,       47, "swap")            \
  X(TAIL,       48, "tail")            \
  X(TAIL_Q,     49, "tail?")           \
  X(TAKE,       50, "take")            \
  X(TRIM,       51, "trim")            \
  X(CREATE,     52, "create")          \
  X(CLOSE,      53, "close")           \
  X(DELETE,     54, "delete")          \
  X(MODIFY,     55, "modify")          \
  X(OPEN,       56, "open")            \
  X(OPEN_Q,     57, "open?")           \
  X(QUERY,      58, "query")           \
  X(READ,       59, "read")            \
  X(RENAME,     60, "rename")          \
  X(UPDATE,     61, "update")          \
  X(WRITE,      62, "write")
