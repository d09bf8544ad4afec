// Plans of blocks: the table by node, planning a statement, and the planned walk. Relies on the
// general evaluator (interpreter/eval.h) for every expression a plan does not cover, and on the
// lean call's steps (interpreter/call.h).
#include "interpreter/plan.h"

#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/native.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/runtime_words.h"
#include "datatypes/stack.h"
#include "datatypes/word.h"
#include "interpreter/call.h"
#include "interpreter/eval.h"
#include "interpreter/frames.h"
#include "interpreter/natives.h"
#include "interpreter/trace.h"
#include "runtime/gc.h"

namespace plan {

uint64_t epoch = 1;
uint64_t unknown_epoch = 1;
// A node freed and reused keeps its entry: the new series' plans are made after it, or are
// checked cell by cell, so a stale entry costs only a comparison.
rt::ZeroTable<uint64_t> written;

namespace {

using interp::Feed;
using interp::pending;

enum Kind : uint8_t { kConst, kLitWord, kGetWord, kWord, kCall, kSetWord, kParen, kInfix, kPath };
// The conditional natives (their index), whose branch a planned call runs as the native would,
// without entering it; else 0.
int32_t branch_of(const Cell& callable) {
  if (cell::type_of(callable) != TYPE_NATIVE) return 0;
  const int32_t index = int32_t(native::index_of(callable));
  return index == natives::IF || index == natives::UNLESS || index == natives::EITHER ? index : 0;
}

// Where a word's value was found, kept while no buffer has been relocated since: its value cell
// in a context whose values are a series, or else the record of a context whose values are on
// the data stack (a function's), which says where the running call's values are.
struct ValueCache {
  Cell* cell = nullptr;
  const Cell* held_record = nullptr;
  uint64_t relocations = 0;
};

struct Node {
  Kind kind = kConst;
  // The cell at `end` is a word: after this expression the general walk looks for an operator
  // there (only where operators apply after it).
  bool check_after = false;
  bool direct_set = false;           // kSetWord: see the planner
  // Found to run code, or to be a paren of more than such an expression (see pure_value): the
  // node is never computed in place.
  mutable bool not_pure = false;
  bool of_leaves = false;          // kInfix: both operands are literals or words
  bool literal_branches = false;   // kCall of a conditional: its blocks are literal blocks (the
                                   // last one perhaps followed by a word: check_after)
  mutable uint8_t impure_branches = 0;  // literal_branches: the blocks found to run code (bit 1, 2)
  uint8_t arity = 0;               // kCall: arguments
  interp::IntegerOp integer_op = interp::IntegerOp::kNone;  // kInfix: its function's, if any
  int32_t branch = 0;              // kCall: a conditional whose branch the walk runs itself
  const interp::CallInfo* info = nullptr;  // kCall, kInfix (checked to still describe it)
  mutable ValueCache value;  // of the node's word (kWord, kCall, kInfix)
  mutable ValueCache after;  // check_after: of the word at `end`
  // kParen: the paren's one planned statement, found in epoch `inner_epoch` after `inner_cycles`
  // collections (paren_statement)
  mutable const Node* inner_first = nullptr;
  mutable uint64_t inner_epoch = 0;
  mutable uint64_t inner_cycles = 0;
  uint32_t start = 0, end = 0;     // the cells it spans
  uint32_t op_at = 0;              // kInfix: the operator's word
  Cell cell{};                     // the cell at start (kInfix: the operator's word)
  Cell guard{};                    // kCall: the callable; kInfix: the op! its word held
  Cell function{};                 // kInfix: what the op! wraps
  Node* kids[interp::kLeanArgs] = {};      // kCall: arguments; kSetWord: [0] the value;
                                           // kInfix: [0] the left operand, [1] the right one
};

// A statement the general walk evaluates (planning it met something a plan does not cover).
Node general_statement;

// Operator chains longer than this are left to the general walk, which loops over them: the
// planned walk recurses once per operator.
constexpr uint32_t kMaxChain = 64;
// Nesting of planned expressions (calls in arguments of calls...); deeper ones go generally.
constexpr uint32_t kMaxDepth = 200;

struct Plan {
  uint32_t node = 0;
  uint32_t evaluations = 0;  // before the plan was made
  uint32_t users = 0;        // walks using it now
  bool retired = false;      // replaced while in use: deleted when its last walk ends
  bool made = false;
  uint64_t checked = 0;  // epoch when the whole block was last found unchanged
  std::vector<Cell> cells;        // the block's cells when planned
  uint32_t length = 0;            // their count
  std::vector<Node*> statements;  // by start position: null until planned
  // Made with the plan: most blocks are evaluated once (a library's definitions), and an empty
  // deque already takes memory of its own.
  std::unique_ptr<std::deque<Node>> nodes;
};

rt::ZeroTable<Plan*> plans;  // by block node, owned
std::vector<uint32_t> planned_nodes;       // the nodes that have an entry
std::vector<std::unique_ptr<Plan>> retired_plans;
// The table holds its plans by plain pointers: they go at exit with the planned nodes' list.
struct PlanOwner {
  ~PlanOwner() {
    for (uint32_t node : planned_nodes) delete plans[node];
  }
} plan_owner;
bool hooked = false;

// ZEL_PLANS=off walks every block generally, ZEL_PLANS=always plans blocks from their first
// evaluation: the tests run the case tables both ways against the same answers.
enum class Mode { kSecondEvaluation, kAlways, kOff };
Mode mode_from_environment() {
  const char* setting = std::getenv("ZEL_PLANS");
  if (!setting) return Mode::kSecondEvaluation;
  if (std::strcmp(setting, "off") == 0) return Mode::kOff;
  if (std::strcmp(setting, "always") == 0) return Mode::kAlways;
  return Mode::kSecondEvaluation;
}
const Mode mode = mode_from_environment();

void retire(Plan*& slot) {
  if (slot->users) {
    slot->retired = true;
    retired_plans.push_back(std::unique_ptr<Plan>(slot));
  } else {
    delete slot;
  }
  slot = nullptr;
}

[[gnu::noinline]] void drop_retired(Plan* plan) {
  for (auto& retired : retired_plans) {
    if (retired.get() == plan) {
      retired = std::move(retired_plans.back());
      retired_plans.pop_back();
      return;
    }
  }
}

inline void release(Plan* plan) {
  if (--plan->users == 0 && plan->retired) [[unlikely]] drop_retired(plan);
}

struct Using {
  Plan* plan;
  explicit Using(Plan* p) : plan(p) { plan->users++; }
  ~Using() { release(plan); }
  Using(const Using&) = delete;
  Using& operator=(const Using&) = delete;
};

void drop_dead_plans() {
  gc::keep_marked(planned_nodes, [](uint32_t node) { retire(plans[node]); });
}

// Whether no run may have changed the node's cells since the epoch.
inline bool unwritten_since(uint32_t node, uint64_t since) {
  return unknown_epoch <= since && (node >= written.size() || written[node] <= since);
}

inline bool same_cell(const Cell& a, const Cell& b) {
  return a.header == b.header && a.w1 == b.w1 && a.w2 == b.w2 && a.w3 == b.w3;
}

// Whether the block's cells [from, to) are still the plan's (and the block that long).
bool holds(const Plan& plan, uint32_t from, uint32_t to) {
  if (cell::cell_count(plan.node) != plan.cells.size()) return false;
  const Cell* live = cell::cells_of(plan.node);
  for (uint32_t i = from; i < to; i++) {
    if (!same_cell(live[i], plan.cells[i])) return false;
  }
  return true;
}

// Whether a made plan still holds over the block's cells from `index`: checked in this epoch,
// unwritten since its last check, or its cells compared (from the head, that counts for the
// epoch).
bool holds_from(Plan& plan, uint32_t index) {
  if (plan.checked == epoch) return true;
  if (unwritten_since(plan.node, plan.checked) ||
      (index == 0 && holds(plan, 0, uint32_t(plan.cells.size())))) {
    plan.checked = epoch;
    return true;
  }
  return index > 0 && holds(plan, index, uint32_t(plan.cells.size()));
}

// --- Planning ------------------------------------------------------------------------------------

struct Planner {
  Plan& plan;
  uint32_t i;
  uint32_t depth = 0;
  bool failed = false;

  uint32_t length() const { return uint32_t(plan.cells.size()); }

  Node* make(Kind kind, uint32_t start) {
    if (!plan.nodes) plan.nodes = std::make_unique<std::deque<Node>>();
    Node& node = plan.nodes->emplace_back();
    node.kind = kind;
    node.start = start;
    node.cell = plan.cells[start];
    return &node;
  }

  Node* fail() {
    failed = true;
    return nullptr;
  }

  // The value a bound word holds now, or null when its context has no values (a function's
  // word while the function is not running).
  const Cell* held(const Cell& word) {
    if (!word::context_of(word) || word::index_of(word) == context::kUnresolved) return nullptr;
    if (!context::has_values(word::context_of(word))) return nullptr;
    return interp::word_value(word);
  }

  Node* primary() {
    if (i >= length() || ++depth > kMaxDepth) return fail();
    const uint32_t start = i++;
    const Cell& at = plan.cells[start];
    Node* node = nullptr;
    switch (cell::type_of(at)) {
      case TYPE_WORD: {
        if (!word::context_of(at) || word::index_of(at) == context::kUnresolved) return fail();
        const Cell* value = held(at);
        const uint8_t type = value ? cell::type_of(*value) : uint8_t(TYPE_NONE);
        if (type == TYPE_UNSET || type == TYPE_OP) return fail();  // the general walk raises
        if (interp::callable(type)) {
          const Cell callable = *value;
          // May allocate (the argument cache): the callable is the word's value, rooted.
          const interp::CallInfo& info = interp::call_info(callable);
          if (!info.lean) return fail();
          node = make(kCall, start);
          node->guard = callable;
          node->info = &info;
          node->arity = info.arity;
          node->branch = branch_of(callable);
          bool literal_branches = node->branch != 0;
          for (uint32_t a = 0; a < info.arity; a++) {
            node->kids[a] = expression(false);
            if (failed) return nullptr;
            const Node* kid = node->kids[a];
            // The last block may be followed by a word, which the walk checks is no operator.
            if (a > 0 && !(kid->kind == kConst && (!kid->check_after || a + 1 == info.arity) &&
                           cell::type_of(kid->cell) == TYPE_BLOCK &&
                           (info.masks[a] >> TYPE_BLOCK & 1))) {
              literal_branches = false;
            }
          }
          node->literal_branches = literal_branches;
        } else {
          node = make(kWord, start);
        }
        break;
      }
      case TYPE_SET_WORD:
        node = make(kSetWord, start);
        // Set straight into its value cell when the word's context is neither an object (whose
        // words may have change handlers and are marked as assigned) nor a function's (whose
        // values exist only while it runs): the global context.
        node->direct_set = word::context_of(at) && word::index_of(at) != context::kUnresolved &&
                           context::kind_of(word::context_of(at)) == context::kGlobal &&
                           !context::stack_held(word::context_of(at));
        node->kids[0] = expression(false);
        if (failed) return nullptr;
        break;
      case TYPE_PAREN: node = make(kParen, start); break;
      case TYPE_GET_WORD: node = make(kGetWord, start); break;
      case TYPE_LIT_WORD: node = make(kLitWord, start); break;
      case TYPE_PATH: case TYPE_GET_PATH:
        // Planned as one cell: a path that selects a function takes its arguments from the
        // cells after it, and the walk then goes on generally from where the call ended.
        node = make(kPath, start);
        break;
      case TYPE_SET_PATH: case TYPE_LIT_PATH:
      case TYPE_NATIVE: case TYPE_ACTION: case TYPE_FUNCTION: case TYPE_ROUTINE: case TYPE_OP:
      case TYPE_ISSUE:
        return fail();
      default:
        node = make(kConst, start);
    }
    node->end = i;
    depth--;
    return node;
  }

  // An expression; with operators after it unless no_infix.
  Node* expression(bool no_infix) {
    Node* left = primary();
    if (failed || no_infix) return left;
    for (uint32_t chain = 0;; chain++) {
      if (i >= length() || cell::type_of(plan.cells[i]) != TYPE_WORD) return left;
      const Cell* value = held(plan.cells[i]);
      if (!value || cell::type_of(*value) != TYPE_OP) {
        left->check_after = true;
        return left;
      }
      if (chain == kMaxChain) return fail();
      const Cell op = *value;
      const Cell function = native::unwrap_op(op);
      const interp::CallInfo& info = interp::call_info(function);
      if (!info.lean || info.arity != 2) return fail();
      Node* node = make(kInfix, left->start);
      node->op_at = i;
      node->cell = plan.cells[i];
      node->guard = op;
      node->function = function;
      node->integer_op = interp::integer_op_of(function);
      node->info = &info;
      node->kids[0] = left;
      i++;
      node->kids[1] = expression(true);
      if (failed) return nullptr;
      node->end = i;
      node->of_leaves = (left->kind == kConst || left->kind == kWord) &&
                        (node->kids[1]->kind == kConst || node->kids[1]->kind == kWord);
      left = node;
    }
  }
};

// The planned statement at the position (planning it now if the walk reaches it first), or the
// general-statement marker.
Node* statement_at(Plan& plan, uint32_t index) {
  Node* planned = plan.statements[index];
  if (planned) return planned;
  Planner planner{plan, index};
  Node* node = planner.expression(false);
  planned = planner.failed ? &general_statement : node;
  plan.statements[index] = planned;
  return planned;
}

// --- The planned walk ----------------------------------------------------------------------------

// The word's value cell found again (raising as word_value does), the cache filled.
[[gnu::noinline]] Cell* cache_value(const Cell& word, ValueCache& cache) {
  Cell* value = interp::word_value(word);
  cache = ValueCache{};
  if (word::index_of(word) == context::kUnresolved) return value;
  const Cell* record = context::context_cell(word::context_of(word));
  if (record->header & context::kStackHeld) {
    cache.held_record = record;
  } else if (context::values_position_of(*record)) {
    cache.cell = value;
  } else {
    return value;
  }
  cache.relocations = alloc::relocations;
  return value;
}
// The value cell the cache still knows, else null.
[[gnu::always_inline]] inline Cell* cache_hit(const Cell& word, const ValueCache& cache) {
  if (cache.relocations == alloc::relocations) [[likely]] {
    if (cache.cell) return cache.cell;
    if (cache.held_record) {
      const uint32_t position = context::values_position_of(*cache.held_record);
      if (position != context::kNoValues) {
        return stack::bottom + position + word::index_of(word);
      }
    }
  }
  return nullptr;
}
[[gnu::always_inline]] inline Cell* cached_value(const Cell& word, ValueCache& cache) {
  if (Cell* value = cache_hit(word, cache)) [[likely]] return value;
  return cache_value(word, cache);
}
[[gnu::always_inline]] inline Cell* word_value_of(const Node* node) {
  return cached_value(node->cell, node->value);
}

// Made for every block, branch and paren a plan walks: its zeroed fields are kept to 16 bytes
// in a row, which the compiler clears with plain stores (a longer run became a string
// instruction, slow to start, in every walk).
struct Walk {
  Walk(const Feed& feed, Plan* plan, uint64_t whole) : feed(feed), plan(plan), whole(whole) {}
  Feed feed;
  Plan* plan;
  bool stale = false;       // the block changed: the rest is walked generally
  uint64_t whole;           // epoch when the block from the position on was last the plan's copy
  uint64_t checked = 0;     // epoch when the cells from the position to checked_end last were
  uint32_t checked_end = 0;
  uint32_t needed_end = 0;  // the end of the cells the statement's plan relies on (its own, and
                            // the one after)
};

// Whether the block's cells from the walk's position to `end` are still the plan's copy: no run
// changed the block since it was whole, or they were compared since code last ran. A comparison
// vouches for the cells it covered only: code that ran before it may have changed later ones.
[[gnu::noinline]] bool holds_to_slow(Walk& w, uint32_t end) {
  if (unwritten_since(w.plan->node, w.whole)) {
    w.whole = epoch;
    return true;
  }
  if (w.checked == epoch && end <= w.checked_end) return true;
  if (!holds(*w.plan, w.feed.index, end)) return false;
  w.checked = epoch;
  w.checked_end = end;
  return true;
}
[[gnu::always_inline]] inline bool holds_to(Walk& w, uint32_t end) {
  return w.whole == epoch || holds_to_slow(w, end);
}

// Whether the plan holds at the position: the block unchanged over the statement since code last
// ran, and the walk standing there.
[[gnu::always_inline]] inline bool usable_at(Walk& w, uint32_t position) {
  if (w.stale || w.feed.index != position) return false;
  if (!holds_to(w, w.needed_end)) [[unlikely]] {
    w.stale = true;
    return false;
  }
  return true;
}
// ... where the node starts.
[[gnu::always_inline]] inline bool usable(Walk& w, const Node* node) { return usable_at(w, node->start); }

void run(Walk& w, const Node* node, bool no_infix);
inline Plan* plan_for(uint32_t node, uint32_t index);
// The block's plan when it is made and holds from `index`; else null, and no evaluation is
// counted (a block without one is left to its walk, which counts it).
inline Plan* made_plan(uint32_t node, uint32_t index) {
  if (node >= plans.size() || !plans[node] || !plans[node]->made) return nullptr;
  return plan_for(node, index);
}

// A literal's cell, or the value of a word holding data; null for anything else.
[[gnu::always_inline]] inline const Cell* pure_leaf(const Node* node) {
  if (node->kind == kConst) return &node->cell;
  if (node->kind != kWord) return nullptr;
  const Cell* value = word_value_of(node);
  const uint8_t type = cell::type_of(*value);
  if (type == TYPE_UNSET || type == TYPE_OP || interp::callable(type)) return nullptr;
  return value;
}

// The value of an expression that runs no code, computed in place: a literal, a word holding
// data, an operator over two numbers that it computes without a call, a paren holding one such
// expression. False when the node is anything else or its guards fail; nothing has happened
// then, and the caller evaluates the node its usual way. The walk must stand at the node with
// the plan holding there: nothing in such an expression can change a block.
bool compute_pure(const Node* node, Cell* out, uint32_t depth);
bool pure_branch(const Node* node, const Cell& condition, Cell* out);
// An operator node's value over its computed operands, while its word holds the op planned and
// the op computes it without a call.
[[gnu::always_inline]] inline bool operate(const Node* node, const Cell& left, const Cell& right,
                                           Cell* out) {
  if (!interp::same_callable(*word_value_of(node), node->guard)) return false;
  return interp::integer_op(node->integer_op, left, right, out) ||
         interp::number_operator(node->function, left, right, out);
}
// The operator applied in place to the left operand (a stack cell) when the right one is a number
// it computes over without a call; its word already checked.
[[gnu::always_inline]] inline bool operate_on(const Node* node, Cell* operand, const Cell& right) {
  const uint8_t type = cell::type_of(right);
  return (type == TYPE_INTEGER || type == TYPE_FLOAT) &&
         (interp::integer_op(node->integer_op, *operand, right, operand) ||
          interp::number_operator(node->function, *operand, right, operand));
}
// An operator over two literals or words (`n - 1`, `i < n`), the commonest pure expression,
// computed where it is needed.
[[gnu::always_inline]] inline bool pure_infix_of_leaves(const Node* node, Cell* out) {
  const Cell* left = pure_leaf(node->kids[0]);
  if (!left) return false;
  const Cell* right = pure_leaf(node->kids[1]);
  return right && operate(node, *left, *right, out);
}
// The tests that most often decide, made before the call.
[[gnu::always_inline]] inline bool pure_value(const Node* node, Cell* out, uint32_t depth = 0) {
  if (node->of_leaves) return pure_infix_of_leaves(node, out);
  return !node->not_pure && compute_pure(node, out, depth);
}
// The value of a conditional with literal blocks over its condition's value, when it chooses no
// block (none) or a block of one expression that runs no code; false otherwise. A branch found to
// be more is remembered, and not looked at again while the node lives.
// The condition must not be unset! (either raises on it).
bool pure_branch(const Node* node, const Cell& condition, Cell* out) {
  const bool falsy = logic::falsy(condition);
  uint32_t taken;
  switch (node->branch) {  // as natives::chosen_branch chooses
    case natives::IF: taken = falsy ? 0 : 1; break;
    case natives::UNLESS: taken = falsy ? 1 : 0; break;
    default: taken = falsy ? 2 : 1; break;
  }
  if (!taken) {
    *out = constants::none;
    return true;
  }
  const uint8_t bit = uint8_t(1u << taken);
  if (node->impure_branches & bit) return false;
  const Cell* chosen = &node->kids[taken]->cell;
  const uint32_t start = cell::series_index(*chosen);
  Plan* plan = made_plan(cell::series_node(*chosen), start);
  if (!plan) return false;
  if (start < plan->length) {
    const Node* statement = statement_at(*plan, start);
    if (statement != &general_statement && statement->end == plan->length &&
        pure_value(statement, out)) {
      return true;
    }
    // A word that holds a function now may hold data later: only a statement that can never be
    // pure is remembered.
    if (statement == &general_statement || statement->end != plan->length || statement->not_pure) {
      node->impure_branches |= bit;
    }
  }
  return false;
}

bool compute_pure(const Node* node, Cell* out, uint32_t depth) {
  switch (node->kind) {
    case kConst:
      *out = node->cell;
      return true;
    case kWord: {
      const Cell* value = pure_leaf(node);
      if (value) *out = *value;
      return value != nullptr;
    }
    case kInfix: {
      // Each operand: a leaf read where it is, else computed into its room.
      Cell room[2];
      const Cell* operands[2];
#pragma GCC unroll 2
      for (int k = 0; k < 2; k++) {
        operands[k] = pure_leaf(node->kids[k]);
        if (operands[k]) continue;
        if (!pure_value(node->kids[k], &room[k], depth)) {
          node->not_pure = node->kids[k]->not_pure;
          return false;
        }
        operands[k] = &room[k];
      }
      return operate(node, *operands[0], *operands[1], out);
    }
    case kParen: {
      // One expression filling the paren; its plan holds when the epoch says so.
      if (depth > 8) return false;
      Plan* inner = plan_for(cell::series_node(node->cell), cell::series_index(node->cell));
      const uint32_t start = cell::series_index(node->cell);
      if (!inner || start >= inner->length || inner->checked != epoch) return false;
      const Node* statement = statement_at(*inner, start);
      if (statement == &general_statement || statement->check_after ||
          statement->end != inner->length) {
        node->not_pure = true;  // a paren's cell names the same block while the plan holds
        return false;
      }
      if (pure_value(statement, out, depth + 1)) return true;
      node->not_pure = statement->not_pure;
      return false;
    }
    case kPath: {
      // A block's value picked by a literal index, the path read as it is now.
      const uint32_t path = cell::series_node(node->cell);
      const uint32_t at = cell::series_index(node->cell);
      if (at + 2 != cell::cell_count(path)) return false;
      const Cell* elements = cell::cells_of(path) + at;
      const Cell& head = elements[0];
      if (cell::type_of(head) != TYPE_WORD || cell::type_of(elements[1]) != TYPE_INTEGER ||
          !word::context_of(head) || word::index_of(head) == context::kUnresolved ||
          !context::has_values(word::context_of(head))) {
        return false;
      }
      Cell block = *interp::word_value(head);
      if (cell::type_of(block) != TYPE_BLOCK) return false;
      // A value within the block is read where it is; the rest as pick gives it.
      const int32_t n = integer::get_value(elements[1]);
      const uint32_t from = cell::series_index(block);
      const uint32_t series = cell::series_node(block);
      const Cell* picked = n > 0 && uint64_t(from) + uint32_t(n) <= cell::cell_count(series)
                               ? cell::cells_of(series) + from + (n - 1)
                               : series::pick(&block, n, nullptr);
      // A function picked by a plain path is called.
      if (cell::type_of(node->cell) == TYPE_PATH && interp::callable(cell::type_of(*picked))) {
        return false;
      }
      *out = *picked;
      return true;
    }
    default:
      node->not_pure = true;
      return false;
  }
}

// Whether the word after the node (check_after: it was no operator when planned) still has a
// value that is no operator. The plan must hold there.
[[gnu::always_inline]] inline bool no_operator_after(Walk& w, const Node* node) {
  const Cell& word = w.plan->cells[node->end];
  // The word may have no value to look at (the general walk then raises or goes on).
  const Cell* value = cache_hit(word, node->after);
  if (!value && word::context_of(word) && word::index_of(word) != context::kUnresolved &&
      context::has_values(word::context_of(word))) {
    value = cache_value(word, node->after);
  }
  return value && cell::type_of(*value) != TYPE_OP;
}

// After an expression, the general walk's operator look-ahead, where it may find one.
[[gnu::always_inline]] inline void look_after(Walk& w, const Node* node, bool no_infix) {
  if (no_infix || pending) return;
  // Code the node ran may have changed the block after it (an operator appended where the block
  // ended): the plan must still hold there.
  if (usable_at(w, node->end)) {
    if (!node->check_after) return;
    // The word after it was no operator when planned: one still is not, most often.
    if (no_operator_after(w, node)) return;
  }
  interp::apply_operators(w.feed, stack::top - 1, true);
}

void run_call(Walk& w, const Node* node);
void run_infix(Walk& w, const Node* node);
void run_set_word(Walk& w, const Node* node);
void run_paren_node(Walk& w, const Node* node);

// What run does, with the calls, operators and set-words (and parens where the caller asks)
// dispatched in the caller: in deep recursion each machine frame less per level counts.
template <bool kParenHere = false>
[[gnu::always_inline]] inline void dispatch(Walk& w, const Node* node, bool no_infix) {
  switch (node->kind) {
    case kCall:
      run_call(w, node);
      break;
    case kInfix:
      run_infix(w, node);
      break;
    case kSetWord:
      run_set_word(w, node);
      break;
    case kParen:
      if constexpr (kParenHere) {
        run_paren_node(w, node);
        break;
      }
      [[fallthrough]];
    default:  // literals, words and paths, and parens where not asked
      return run(w, node, no_infix);
  }
  look_after(w, node, no_infix);
}

// An operand where the plan may not hold: planned if usable, else by the general evaluator.
// Pushes the value.
[[gnu::always_inline]] inline void eval_operand(Walk& w, const Node* node, bool no_infix) {
  if (usable(w, node)) return dispatch<true>(w, node, no_infix);
  interp::eval_expression(w.feed, {.no_infix = no_infix, .push = true});
}

// A literal, or a word holding data, that the walk stands on with nothing to look for after it:
// its value, without a nested run. Null when it is anything else.
[[gnu::always_inline]] inline const Cell* plain_leaf(Walk& w, const Node* node) {
  if (node->check_after || !usable(w, node)) return nullptr;
  return pure_leaf(node);
}

// One expression of the walk at the top level of its block, its value pushed: planned when the
// plan holds there, else by the general evaluator.
[[gnu::always_inline]] inline void step(Walk& w) {
  Plan* plan = w.plan;
  const uint32_t length = plan->length;
  Node* statement = nullptr;
  if (!w.stale && w.feed.index < length) {
    statement = plan->statements[w.feed.index];
    if (!statement) {
      // Planned from the copy: the rest of the block must still be the copy.
      if (holds_to(w, length)) {
        statement = statement_at(*plan, w.feed.index);
      } else {
        w.stale = true;
      }
    }
    if (statement && statement != &general_statement) {
      w.needed_end = statement->end < length ? statement->end + 1 : length;
      if (!holds_to(w, w.needed_end)) w.stale = true;
    }
  }
  if (!w.stale && statement && statement != &general_statement) {
    dispatch(w, statement, false);
  } else {
    interp::eval_expression(w.feed, {.push = true});
  }
}

// Whether the walk is at the block's tail: the copy's while it holds, else the live block's.
inline bool at_tail(const Walk& w) {
  // A comparison checks the block's length too.
  if (!w.stale && (w.whole == epoch || w.checked == epoch)) {
    return w.feed.index >= w.plan->length;
  }
  return !interp::feed_cell(w.feed);
}

// The walk on from where it stands (the statement there onwards), as walk_statements below.
[[gnu::always_inline]] inline bool walk_loop(Walk& w, Cell* base, const Cell& saved) {
  for (;;) {
    cell::set_series_index(interp::eval_position, w.feed.index);
    step(w);
    if (pending) {
      interp::eval_position = saved;
      return true;
    }
    if (at_tail(w)) break;
    stack::top = base;
  }
  interp::eval_position = saved;
  return false;
}
[[gnu::noinline]] bool walk_on(Walk& w, Cell* base, const Cell& saved) {
  return walk_loop(w, base, saved);
}
// ... from the block's head (the walk's position put where the block is).
[[gnu::noinline]] bool walk_all(Plan* plan, const Cell& block, Cell* base) {
  const Cell saved = interp::eval_position;
  Walk w{Feed{block, cell::series_index(block), interp::kToTail}, plan, epoch};
  interp::eval_position = block;
  return walk_loop(w, base, saved);
}

// Walks the block's statements from its head, each value left at `base` (the one before
// dropped); true when an exit is pending. Inline: a block of one statement (a body, a branch, a
// paren) is the common case, and one nested call less for each of them counts in recursion.
[[gnu::always_inline]] inline bool walk_statements(Plan* plan, const Cell& block, Cell* base) {
  const uint32_t start = cell::series_index(block);
  if (start >= plan->length) {
    stack::top = base;
    stack::push_copy(constants::unset);
    return false;
  }
  Node* first = plan->statements[start];
  if (!first || first == &general_statement || first->end != plan->length) {
    return walk_all(plan, block, base);
  }
  const Cell saved = interp::eval_position;
  Walk w{Feed{block, start, interp::kToTail}, plan, epoch};
  // Nested walks put the position back as they found it: only the index moves here.
  interp::eval_position = block;
  w.needed_end = plan->length;
  dispatch(w, first, false);
  if (pending) {
    interp::eval_position = saved;
    return true;
  }
  if (at_tail(w)) {
    interp::eval_position = saved;
    return false;
  }
  stack::top = base;  // the block grew while it ran: walked on
  return walk_on(w, base, saved);
}

// Parens (and branches of conditionals) run in the enclosing frame up to this nesting within
// it; deeper ones get frames again, so that deep nesting meets the frame limit (stack-overflow)
// before the machine stack runs out.
constexpr uint32_t kFramelessParens = 32;
uint32_t frameless_parens = 0;
struct FramelessParen {
  FramelessParen() { ++frameless_parens; }
  ~FramelessParen() { --frameless_parens; }
  FramelessParen(const FramelessParen&) = delete;
  FramelessParen& operator=(const FramelessParen&) = delete;
};
// A block walked in a frame of its own (a body, a branch) counts its frameless nesting afresh.
struct FrameOfItsOwn {
  uint32_t outer = frameless_parens;
  FrameOfItsOwn() { frameless_parens = 0; }
  ~FrameOfItsOwn() { frameless_parens = outer; }
  FrameOfItsOwn(const FrameOfItsOwn&) = delete;
  FrameOfItsOwn& operator=(const FrameOfItsOwn&) = delete;
};

// A paren's statements walked by its plan in the enclosing frame, its value pushed, as
// eval_block would leave it; false, nothing done, when the paren has no plan yet or is nested
// too deep.
// A block's statements walked by its plan in the enclosing frame, its value pushed as
// eval_block would leave it (or an exit pending). The caller has checked the nesting.
[[gnu::always_inline]] inline void walk_here(Plan* plan, const Cell& block) {
  Using using_plan(plan);
  FramelessParen nesting;
  // The block may lose its last holder while it runs: its cell under the value keeps it.
  stack::push_copy(block);
  Cell* base = stack::top;
  if (walk_statements(plan, block, base)) return;
  base[-1] = *base;
  stack::top = base;
}

[[gnu::always_inline]] inline bool run_paren(const Node* node) {
  if (frameless_parens >= kFramelessParens) return false;
  Plan* inner = plan_for(cell::series_node(node->cell), cell::series_index(node->cell));
  if (!inner) return false;
  walk_here(inner, node->cell);
  return true;
}

// A paren's value pushed, the walk moved past it; run's part but the look-ahead.
[[gnu::always_inline]] inline void run_paren_node(Walk& w, const Node* node) {
  Cell computed;
  if (pure_value(node, &computed)) {
    stack::push_copy(computed);
  } else if (!run_paren(node)) {
    interp::eval_block(node->cell, false);
  }
  w.feed.index++;
}

// What if, unless and either do once their frame holds their arguments: the chosen block is
// evaluated in that frame, or none is the value; then the frame closes, the value pushed.
void run_branch(int32_t branch) {
  const Cell* chosen = natives::chosen_branch(branch, stack::args);
  if (!chosen) {
    stack::set_only_result(constants::none);
  } else {
    const Cell block = *chosen;
    interp::absorb_exits([&] { interp::eval_block_in_frame(block); });
    if (pending) return;
  }
  frames::unwind();
}

// Whether a call's planned route holds: its word holds the callable planned, described as
// planned.
[[gnu::always_inline]] inline bool call_holds(const Node* node) {
  const interp::CallInfo* info = node->info;
  return interp::same_callable(*word_value_of(node), node->guard) &&
         interp::same_callable(info->callable, node->guard) && info->lean &&
         info->arity == node->arity;
}

[[gnu::always_inline]] inline bool frameless_branch(const Node* node, const Cell& condition);

// walk_in_frame, inline in the planned call of a function.
[[gnu::always_inline]] inline bool walk_body(const Cell& block) {
  Plan* plan = plan_for(cell::series_node(block), cell::series_index(block));
  if (!plan) return false;
  Using using_plan(plan);
  // A block of one expression that runs no code (a branch such as `[n]`): its value at once.
  const uint32_t start = cell::series_index(block);
  if (start < plan->length) {
    const Node* statement = statement_at(*plan, start);
    Cell value;
    if (statement != &general_statement && statement->end == plan->length &&
        pure_value(statement, &value)) {
      stack::set_only_result(value);
      return true;
    }
  }
  FrameOfItsOwn counted_afresh;
  Cell* base = stack::top;
  if (!walk_statements(plan, block, base)) stack::set_only_result(*base);
  return true;
}

// What the lean call does with a function once its frame holds the arguments, without a trace
// session: the unused refinements and locals pushed, the body walked (by its plan when it has
// one), a return or exit ended here, the frame closed and the value pushed.
void run_function_call(const interp::CallInfo& info, const Cell& function) {
  interp::push_tail(info);
  context::set_values_position(function::context_of(function), stack::cell_index(stack::args));
  frames::set_body_flag(true);
  const Cell body = function::body_of(function);  // the function, in the frame, holds it
  if (cell::type_of(body) != TYPE_BLOCK) {
    stack::set_only_result(constants::unset);
  } else if (!walk_body(body)) {
    interp::eval_block(body, true);
    if (!pending) stack::top = stack::args + 1;
  }
  if (pending == rt::kThrowReturn || pending == rt::kThrowExit) {
    pending = 0;  // the function's frame is innermost again, the value in its arguments[0]
  } else if (pending) {
    return;
  }
  frames::unwind_call();
}

[[gnu::noinline]] void run_call(Walk& w, const Node* node) {
  // The description kept must still be the callable's: a callable made later on the nodes of a
  // collected one has the same cell, and perhaps other arguments.
  const interp::CallInfo* info = node->info;
  if (!call_holds(node)) {
    interp::eval_expression(w.feed, {.no_infix = true, .push = true});  // look_after follows
    return;
  }
  const Cell& callable = node->guard;
  w.feed.index++;
  if (node->literal_branches) {
    // A condition that runs no code leaves the plan holding over the literal blocks after it,
    // which the callable takes as they are.
    const Node* condition = node->kids[0];
    Cell value;
    // Where a word follows the last block, the plan holding over the condition holds there too
    // (the check covers the cell after the statement).
    const Node* last = node->kids[node->arity - 1];
    if (!condition->check_after && usable(w, condition) &&
        (!last->check_after || no_operator_after(w, last)) && pure_value(condition, &value)) {
      // A branch of one expression that runs no code (`[n]`), or none taken: nothing in it can
      // fail or look at the frames, so the call needs no frame.
      Cell result;
      if (cell::type_of(value) != TYPE_UNSET && (info->masks[0] >> cell::type_of(value) & 1) &&
          pure_branch(node, value, &result)) {
        stack::push_copy(result);
        w.feed.index = node->end;
        return;
      }
      if (cell::type_of(value) != TYPE_UNSET && (info->masks[0] >> cell::type_of(value) & 1) &&
          frameless_branch(node, value)) {
        w.feed.index = node->end;
        return;
      }
      interp::lean_enter(callable, node->cell, false);
      stack::push_copy(value);
      interp::check_lean_arg(*info, callable, node->cell, 0, stack::top - 1);
      for (uint32_t a = 1; a < info->arity; a++) stack::push_copy(node->kids[a]->cell);
      w.feed.index = node->end;
      return run_branch(node->branch);
    }
  }
  interp::lean_enter(callable, node->cell, false);
  for (uint32_t a = 0; a < info->arity; a++) {
    const Node* argument = node->kids[a];
    Cell computed;
    if (const Cell* value = plain_leaf(w, argument)) {
      stack::push_copy(*value);
      w.feed.index = argument->end;
    } else if (!argument->check_after && !argument->not_pure && usable(w, argument) &&
               pure_value(argument, &computed)) {
      stack::push_copy(computed);
      w.feed.index = argument->end;
    } else if (usable(w, argument)) {
      dispatch(w, argument, false);
    } else {
      if (!interp::feed_cell(w.feed)) interp::fire_lean_arg(callable, node->cell, a, nullptr);
      if (!interp::quick_expression(w.feed, false)) {
        interp::eval_expression(w.feed, {.push = true});
      }
    }
    if (pending) return;
    interp::check_lean_arg(*info, callable, node->cell, a, stack::top - 1);
  }
  if (node->branch) return run_branch(node->branch);
  if (cell::type_of(callable) == TYPE_FUNCTION && !trace::session && !trace::events) {
    return run_function_call(*info, callable);
  }
  interp::lean_finish(*info, callable, true, false);
}

// paren_statement's lookup through the paren's plan, kept by its node.
[[gnu::noinline]] const Node* paren_statement_slow(const Node* node) {
  const uint32_t start = cell::series_index(node->cell);
  Plan* inner = made_plan(cell::series_node(node->cell), start);
  if (!inner || start >= inner->length) return nullptr;
  const Node* first = inner->statements[start];
  if (!first || first == &general_statement || first->end != inner->length) return nullptr;
  node->inner_first = first;
  node->inner_epoch = epoch;
  node->inner_cycles = gc::collections();
  return first;
}
// A paren's one planned statement; null when its block has no plan yet or more than one statement,
// or when parens nest too deep to run in the enclosing frame.
[[gnu::always_inline]] inline const Node* paren_statement(const Node* node) {
  if (frameless_parens >= kFramelessParens) return nullptr;
  // While no run has written a block, the paren's plan and statement stay what they were: its
  // block, in the unchanged block of the paren, lives. Once a block was written, the paren's
  // block must be unwritten since, and no collection may have freed it (a block made later on its
  // node would be new to its plan).
  if (node->inner_first) {
    if (node->inner_epoch == epoch) return node->inner_first;
    if (node->inner_cycles == gc::collections() &&
        unwritten_since(cell::series_node(node->cell), node->inner_epoch)) {
      node->inner_epoch = epoch;
      return node->inner_first;
    }
  }
  return paren_statement_slow(node);
}
// Whether running the node makes a frame before anything can fail: a call whose word holds a
// callable (planned or not, a call marks its frame before it gathers its arguments); an operator
// after a leaf holding data or after such an expression (a planned operator makes its frame
// before it runs its right operand, a general one before it checks either); a paren of one such
// expression. The plan must hold over the node. Down the left operands and into parens, a few
// levels deep.
[[gnu::always_inline]] inline bool frame_first_route(const Node* node) {
  for (uint32_t depth = 0;; depth++) {
    if (node->check_after) return false;
    switch (node->kind) {
      case kCall:
        return interp::callable(cell::type_of(*word_value_of(node)));
      case kInfix:
        if (pure_leaf(node->kids[0])) return true;
        if (depth > 4) return false;
        node = node->kids[0];
        break;
      case kParen:
        if (depth > 4) return false;
        node = paren_statement(node);
        if (!node) return false;
        break;
      default:
        return false;
    }
  }
}
// A conditional's chosen block walked in the enclosing frame, its value pushed (or an exit
// pending), as the native's frame would leave it; false, nothing done, when the block is not one
// planned statement that makes a frame before anything can fail. Errors inside then name the
// same call and position they would under the native's frame, which reports nothing of its own.
// The condition must not be unset!, and must choose a block.
[[gnu::always_inline]] inline bool frameless_branch(const Node* node, const Cell& condition) {
  // A trace shows the block's walk as the native gives it.
  if (frameless_parens >= kFramelessParens || trace::events) return false;
  const bool falsy = logic::falsy(condition);
  const uint32_t taken = node->branch == natives::EITHER ? (falsy ? 2 : 1) : 1;
  const Cell& chosen = node->kids[taken]->cell;
  const uint32_t start = cell::series_index(chosen);
  Plan* plan = made_plan(cell::series_node(chosen), start);
  if (!plan || start >= plan->length) return false;
  const Node* statement = statement_at(*plan, start);
  if (statement == &general_statement || statement->end != plan->length ||
      !frame_first_route(statement)) {
    return false;
  }
  interp::absorb_exits([&] { walk_here(plan, chosen); });
  return true;
}

// ... where the walk stands.
inline bool makes_frame_first(Walk& w, const Node* node) {
  return usable(w, node) && frame_first_route(node);
}

[[gnu::noinline]] void run_infix(Walk& w, const Node* node) {
  Cell computed;
  if (pure_value(node, &computed)) {
    stack::push_copy(computed);
    w.feed.index = node->end;
    return;
  }
  const Node* left = node->kids[0];
  if (const Cell* value = plain_leaf(w, left)) {
    stack::push_copy(*value);
    w.feed.index = left->end;
  } else {
    eval_operand(w, left, false);
    if (pending) return;
  }
  Cell* operand = stack::top - 1;
  // The general walk decides here whether an operator follows.
  if (!usable_at(w, node->op_at) ||
      !interp::same_callable(*word_value_of(node), node->guard)) {
    interp::apply_operators(w.feed, operand, true);
    return;
  }
  const interp::CallInfo& info = *node->info;
  if (!interp::same_callable(info.callable, node->function) || !info.lean || info.arity != 2) {
    interp::apply_operators(w.feed, operand, true);
    return;
  }
  const Node* right = node->kids[1];
  w.feed.index++;
  // A number, or a word holding one, is taken without a call when the operator can compute it.
  if (right->kind == kConst || right->kind == kWord) {
    if (!usable(w, right)) {
      interp::lean_enter(node->function, node->cell, true);
      interp::check_lean_arg(info, node->function, node->cell, 0, stack::args);
      if (!interp::feed_cell(w.feed)) interp::fire_lean_arg(node->function, node->cell, 1, nullptr);
      if (!interp::quick_expression(w.feed, true)) {
        interp::eval_expression(w.feed, {.no_infix = true, .push = true});
      }
      if (pending) return;
      interp::check_lean_arg(info, node->function, node->cell, 1, stack::top - 1);
      interp::lean_finish(info, node->function, true, true);
      return;
    }
    const Cell* value = right->kind == kConst ? &right->cell : word_value_of(right);
    if (operate_on(node, operand, *value)) {
      w.feed.index = right->end;
      stack::top = operand + 1;
      return;
    }
  }
  if ((info.masks[0] >> cell::type_of(*operand) & 1) && makes_frame_first(w, right)) {
    // Nothing can fail, nor look at the frames, before the right operand's call makes its
    // frame: the operator's frame is made only if the operator is called. Its function is held
    // meanwhile, as the frame would hold it (the right operand may re-set the operator's word).
    const Cell function = node->function;
    gc::Guard keep_function(function);
    dispatch<true>(w, right, true);
    if (pending) return;
    const Cell value = stack::top[-1];
    stack::top = operand + 1;
    if (operate_on(node, operand, value)) return;
    interp::lean_enter(node->function, node->cell, true);
    stack::push_copy(value);
  } else {
    interp::lean_enter(node->function, node->cell, true);
    interp::check_lean_arg(info, node->function, node->cell, 0, stack::args);
    eval_operand(w, right, true);
    if (pending) return;
  }
  interp::check_lean_arg(info, node->function, node->cell, 1, stack::top - 1);
  interp::lean_finish(info, node->function, true, true);
}

[[gnu::noinline]] void run_set_word(Walk& w, const Node* node) {
  const Cell name = node->cell;
  w.feed.index++;
  const Node* value = node->kids[0];
  Cell computed;
  if (node->direct_set && !value->check_after && usable(w, value) &&
      pure_value(value, &computed) && cell::type_of(computed) != TYPE_UNSET) {
    // Nothing can go wrong between here and the store: no frame is needed for it.
    *word_value_of(node) = computed;
    stack::push_copy(computed);
    w.feed.index = value->end;
    return;
  }
  if (node->direct_set && !value->check_after && usable(w, value) && frame_first_route(value)) {
    run(w, value, false);
    if (pending) return;
    if (cell::type_of(stack::top[-1]) != TYPE_UNSET) {
      *word_value_of(node) = stack::top[-1];
      return;
    }
    // The set-word refuses the value: in its own frame, as the general walk has it.
    const Cell refused = stack::top[-1];
    --stack::top;
    frames::mark_native(name);
    stack::push_copy(name);
    stack::push_copy(refused);
    interp::absorb_exits([] { word::set_from_stack(*stack::arg(0)); });
    if (pending) return;
    frames::unwind();
    return;
  }
  frames::mark_native(name);
  stack::push_copy(name);
  if (usable(w, value)) {
    run(w, value, false);
  } else {
    if (!interp::feed_cell(w.feed)) rt::fire_error("script", "need-value", &name);
    interp::eval_expression(w.feed, {.push = true});
  }
  if (pending) return;
  if (node->direct_set && cell::type_of(*stack::arg(1)) != TYPE_UNSET) {
    // What word::set_from_stack does for such a word.
    *word_value_of(node) = *stack::arg(1);
    *stack::arg(0) = *stack::arg(1);
    frames::unwind();
    return;
  }
  interp::absorb_exits([] { word::set_from_stack(*stack::arg(0)); });
  if (pending) return;
  frames::unwind();
}

// Runs a node the walk stands on (usable), pushing its value, with the look-ahead after it.
void run(Walk& w, const Node* node, bool no_infix) {
  switch (node->kind) {
    case kConst:
      stack::push_copy(node->cell);
      w.feed.index++;
      break;
    case kLitWord: {
      Cell plain = node->cell;
      plain.header = TYPE_WORD;
      stack::push_copy(plain);
      w.feed.index++;
      break;
    }
    case kGetWord:
      stack::push_copy(*context::word_value_cell(node->cell));
      w.feed.index++;
      break;
    case kWord: {
      const Cell* value = word_value_of(node);
      const uint8_t type = cell::type_of(*value);
      if (type == TYPE_UNSET || type == TYPE_OP || interp::callable(type)) {
        interp::eval_expression(w.feed, {.no_infix = no_infix, .push = true});
        return;
      }
      stack::push_copy(*value);
      w.feed.index++;
      break;
    }
    case kPath: {
      Cell computed;
      if (pure_value(node, &computed)) {
        stack::push_copy(computed);
        w.feed.index++;
        break;
      }
      w.feed.index++;
      Cell path = node->cell;
      gc::Guard guard(path);
      interp::eval_path(path, &w.feed,
                        {.get = cell::type_of(path) == TYPE_GET_PATH, .push = true});
      break;
    }
    default:  // calls, operators, set-words and parens
      return dispatch<true>(w, node, no_infix);
  }
  look_after(w, node, no_infix);
}

// The plan to walk the block with from `index`, checked against the block; null when the block
// is walked generally this time (its first evaluation).
Plan* plan_for_slow(uint32_t node, uint32_t index);

inline Plan* plan_for(uint32_t node, uint32_t index) {
  if (mode == Mode::kOff) return nullptr;
  if (node < plans.size()) {
    Plan* plan = plans[node];
    if (plan && plan->made) {
      if (plan->checked == epoch) return plan;
      if (unwritten_since(node, plan->checked)) {
        plan->checked = epoch;
        return plan;
      }
    }
  }
  return plan_for_slow(node, index);
}

Plan* plan_for_slow(uint32_t node, uint32_t index) {
  if (node >= plans.size() || !plans[node]) {
    if (!hooked) {
      gc::add_sweep_hook(drop_dead_plans);
      hooked = true;
    }
    plans.grow_to(node + 1);
    plans[node] = new Plan();
    plans[node]->node = node;
    planned_nodes.push_back(node);
    if (mode != Mode::kAlways) return nullptr;
  }
  if (plans[node]->made) {
    Plan& plan = *plans[node];
    if (holds_from(plan, index)) return &plan;
    // Changed since it was planned: planned again (a walk still using the old plan keeps it).
    if (plan.users) {
      retire(plans[node]);
      plans[node] = new Plan();
      plans[node]->node = node;
    }
  }
  Plan& plan = *plans[node];
  plan.made = true;
  const Cell* cells = cell::cells_of(node);
  plan.cells.assign(cells, cells + cell::cell_count(node));
  plan.length = uint32_t(plan.cells.size());
  plan.statements.assign(plan.length, nullptr);
  if (plan.nodes) plan.nodes->clear();
  plan.checked = epoch;
  return &plan;
}


}  // namespace

bool walk_in_frame(const Cell& block) { return walk_body(block); }

bool eval_statement(Feed& feed) {
  Plan* plan = plan_for(cell::series_node(feed.block), feed.index);
  if (!plan || feed.index >= plan->length) return false;
  Using using_plan(plan);
  Walk w{feed, plan, epoch};
  step(w);
  feed.index = w.feed.index;
  return true;
}

bool run_block(const Cell& block, bool keep) {
  Plan* plan = plan_for(cell::series_node(block), cell::series_index(block));
  if (!plan) return false;
  Using using_plan(plan);
  frames::mark_eval(runtime_words::words.frame_body);
  // The walked block may lose its last holder while it runs: its frame keeps it alive.
  frames::top_frame()->callable = block;
  if (walk_statements(plan, block, stack::args)) return true;
  if (keep) {
    frames::unwind_last();
  } else {
    frames::unwind();
  }
  return true;
}

int32_t expression_count(const Cell& block) {
  const uint32_t node = cell::series_node(block);
  if (mode == Mode::kOff || node >= plans.size() || !plans[node] || !plans[node]->made) return -1;
  Plan& plan = *plans[node];
  uint32_t index = cell::series_index(block);
  if (!holds_from(plan, index)) return -1;
  int32_t count = 0;
  for (; index < plan.length; count++) {
    const Node* statement = statement_at(plan, index);
    if (statement == &general_statement) return -1;
    index = statement->end;
  }
  return count;
}

void grow_written(uint32_t node) { written.grow_to(node + 1); }

void clear() {
  for (uint32_t node : planned_nodes) retire(plans[node]);
  planned_nodes.clear();
  bump();  // what a node found in the former epoch may be gone
}

uint32_t planned_blocks() {
  uint32_t count = 0;
  for (uint32_t node : planned_nodes) count += plans[node] && plans[node]->made;
  return count;
}

}  // namespace plan
