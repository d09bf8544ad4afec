// Series ownership (setting and removing owners deeply, notification, the owner table across
// collections) and the value slot pool.
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/cell_ops.h"
#include "datatypes/ownership.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/slot_pool.h"
#include "word_test_support.h"

namespace {

using word_test::WordTest;

class Ownership : public WordTest {
 protected:
  // A new object with a field `label` holding the text "kept" and, with a handler, a
  // change-handler record (its entries cleared: the collector reads the handler specs they
  // name). Until object! has its collector entry, the data stack keeps the object alive through
  // two cells naming its context record and handler record as blocks; popping those two cells
  // lets it go.
  static Cell new_object(bool handler) {
    Cell* holders = stack::push_new();
    stack::push_new();
    holders[0] = holders[1] = constants::none;
    uint32_t node = context::create(4, false, true, 0, context::kObject);
    holders[0] = Cell{TYPE_BLOCK, 0, node, 0};
    uint32_t record = handler ? alloc::new_cell_series_unset(2) : 0;
    if (record) holders[1] = Cell{TYPE_BLOCK, 0, record, 0};
    Cell object{TYPE_OBJECT, node, 0, record};
    *context::owner_cell(node) = object;
    context::put_word_value(node, source_word("label"), *text("kept"));
    stack::pop_cells(1);
    return object;
  }
  static Cell* text(const char* chars) {
    return string::load_encoded(reinterpret_cast<const uint8_t*>(chars), std::strlen(chars),
                                nullptr, string::kUtf8);
  }
  static bool owned(const Cell& series) {
    return alloc::series_of(series.w2)->flags & alloc::kOwned;
  }
  // The context node of the series' owner, 0 when it has none.
  static uint32_t owner_node(const Cell& series) {
    const Cell* owner = ownership::owner_of(series.w2);
    return owner ? owner->w1 : 0;
  }
  static Cell* element(const Cell& block, uint32_t i) { return cell::block_head(block) + i; }
};

TEST_F(Ownership, AnOwnerReachesEverySeriesInsideTheValue) {
  Cell a = new_object(false);
  Cell* outer = build("x [y [z]]");
  block::append_cell(*outer, *text("text"));
  Cell word = source_word("field");
  ownership::set_owner(*outer, a, word);
  Cell inner = *element(*outer, 1);
  Cell innermost = *element(inner, 1);
  Cell string = *element(*outer, 2);
  for (const Cell* c : {outer, &inner, &innermost, &string}) {
    EXPECT_TRUE(owned(*c));
    EXPECT_EQ(owner_node(*c), a.w1);
    const Cell* record_word = ownership::owner_of(c->w2) + 1;
    EXPECT_EQ(record_word->w2, word.w2);
  }
  ownership::unset_owner(*outer);
  for (const Cell* c : {outer, &inner, &innermost, &string}) {
    EXPECT_FALSE(owned(*c));
    EXPECT_EQ(ownership::owner_of(c->w2), nullptr);
  }
}

TEST_F(Ownership, ABlockInsideItselfIsOwnedOnceAndTheWalkEnds) {
  Cell a = new_object(false);
  Cell* self = build("p q");
  block::append_cell(*self, *self);
  ownership::set_owner(*self, a, source_word("loop"));
  EXPECT_EQ(owner_node(*self), a.w1);
  ownership::unset_owner(*self);
  EXPECT_FALSE(owned(*self));
  EXPECT_EQ(ownership::owner_of(self->w2), nullptr);
}

TEST_F(Ownership, AnOwnedSeriesKeepsItsFirstOwner) {
  Cell a = new_object(false);
  Cell b = new_object(false);
  Cell* outer = build("[m]");
  ownership::set_owner(*outer, a, source_word("first"));
  block::append_cell(*outer, *build("[n]"));  // not owned yet
  ownership::set_owner(*outer, b, source_word("second"));
  EXPECT_EQ(owner_node(*outer), a.w1);
  EXPECT_EQ(owner_node(*element(*outer, 0)), a.w1);
  EXPECT_EQ(owner_node(*element(*outer, 1)), b.w1);
}

TEST_F(Ownership, ObjectsAreWalkedUnlessTheyAreOwnersThemselves) {
  Cell a = new_object(false);
  Cell inner = new_object(false);
  Cell* held = build("h");
  context::put_word_value(inner.w1, source_word("items"), *held);
  context::put_word_value(inner.w1, source_word("back"), a);  // the owner itself: skipped
  ownership::own_value(inner, a, source_word("child"));
  EXPECT_EQ(owner_node(*held), a.w1);
  EXPECT_TRUE(context::context_cell(a.w1)->header & ownership::kOwnerObject);
  EXPECT_FALSE(owned(*context::values_of(a.w1)));  // the owner's own label was not reached

  Cell b = new_object(false);
  Cell owner_object = new_object(false);
  Cell* other = build("o");
  context::put_word_value(owner_object.w1, source_word("items"), *other);
  context::context_cell(owner_object.w1)->header |= ownership::kOwnerObject;
  ownership::set_owner(owner_object, b, source_word("nested"));
  EXPECT_FALSE(owned(*other));

  ownership::unset_owner(inner);
  EXPECT_FALSE(owned(*held));
}

TEST_F(Ownership, UnsetOwnerRangeFreesOnlyTheCellsInRange) {
  Cell a = new_object(false);
  Cell* outer = build("[r] [s] [t]");
  ownership::set_owner(*outer, a, source_word("range"));
  ownership::unset_owner_range(*outer, 1, 1);
  EXPECT_TRUE(owned(*element(*outer, 0)));
  EXPECT_FALSE(owned(*element(*outer, 1)));
  EXPECT_TRUE(owned(*element(*outer, 2)));
  ownership::unset_owner_range(*outer, 2, 100);  // cut at the tail
  EXPECT_FALSE(owned(*element(*outer, 2)));
  EXPECT_TRUE(owned(*outer));
}

TEST_F(Ownership, NotifyTellsWhetherAnOwnerWithHandlersHoldsTheSeries) {
  Cell plain = new_object(false);
  Cell watching = new_object(true);
  Cell* free_block = build("f");
  Cell* by_plain = build("g");
  Cell* by_watching = build("w");
  ownership::set_owner(*by_plain, plain, source_word("p"));
  ownership::set_owner(*by_watching, watching, source_word("w"));
  EXPECT_FALSE(ownership::notify_owner(free_block, "append", nullptr, 0, 1));
  EXPECT_FALSE(ownership::notify_owner(by_plain, "append", nullptr, 0, 1));
  EXPECT_TRUE(ownership::notify_owner(by_watching, "append", nullptr, 0, 1));
  Cell word = source_word("w");
  EXPECT_FALSE(ownership::notify_owner(&word, "append", nullptr, 0, 1));
}

// What the object side was told, in order: "action index count" per notification.
std::vector<std::string> told;
void record_deep_change(const Cell&, const Cell&, const Cell&, const Cell& action, const Cell*,
                        int32_t index, int32_t count) {
  const Cell* name = symbol::get_cell(action.w2);
  alloc::Series* text = alloc::series_of(name->w3);
  told.push_back(std::string(reinterpret_cast<const char*>(text->head_ptr()), text->used()) +
                 " " + std::to_string(index) + " " + std::to_string(count));
}

TEST_F(Ownership, SeriesActionsTellTheOwnerBeforeAndAfterWithTheirWords) {
  Cell watching = new_object(true);
  Cell* target = build("a b c d");
  ownership::set_owner(*target, watching, source_word("w"));
  ownership::DeepChangeHandler previous = ownership::set_deep_change_handler(record_deep_change);
  struct Case {
    const char* name;
    void (*run)(Cell* series);
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"append", [](Cell* s) { block::insert(s, build("x"), -1, false, 1, true); },
       {"append 4 1", "appended 4 1"}},
      {"insert", [](Cell* s) { block::insert(s, build("y"), -1, false, 1, false); },
       {"insert 0 1", "inserted 0 1"}},
      {"remove", [](Cell* s) { series::remove(s, nullptr, nullptr); },
       {"remove 0 1", "removed 0 0"}},
      {"take", [](Cell* s) { block::take(s, nullptr, false, false); },
       {"take 0 1", "taken 0 0"}},
      {"clear", [](Cell* s) { series::clear(s); }, {"clear 0 4", "cleared 0 0"}},
  };
  for (const Case& c : cases) {
    told.clear();
    Cell* series = stack::push_copy(*target);
    c.run(series);
    EXPECT_EQ(told, c.expected) << c.name;
  }
  ownership::set_deep_change_handler(previous);
}

// The owner table keeps nothing alive: a record goes with its series, and an owner lives as
// long as a series it owns. Each case collects before anything else is made, so no node freed
// by the collection is reused before it is looked at.
TEST_F(Ownership, AnOwnerAndTheSeriesItHoldsGoTogetherWithTheirRecord) {
  Cell owner = new_object(false);
  Cell* items = build("dead");
  uint32_t series = items->w2;
  context::put_word_value(owner.w1, source_word("items"), *items);
  ownership::set_owner(*items, owner, source_word("items"));
  stack::pop_cells(3);  // nothing but the owner table names either now
  gc::collect();
  EXPECT_EQ(ownership::owner_of(series), nullptr);
  EXPECT_FALSE(alloc::node_in_use(series));
  EXPECT_FALSE(alloc::node_in_use(owner.w1));
}

TEST_F(Ownership, ASeriesOnlyTheTableNamesGoesWithItsRecord) {
  Cell owner = new_object(false);
  Cell* loose = build("loose");
  uint32_t series = loose->w2;
  ownership::set_owner(*loose, owner, source_word("loose"));
  stack::pop_cells(1);
  gc::collect();
  EXPECT_EQ(ownership::owner_of(series), nullptr);
  EXPECT_FALSE(alloc::node_in_use(series));
  EXPECT_TRUE(alloc::node_in_use(owner.w1));
}

TEST_F(Ownership, AnOwnerOnlyTheTableNamesLivesWhileItsSeriesDoes) {
  Cell* kept = build("kept");
  Cell owner = new_object(true);
  ownership::set_owner(*kept, owner, source_word("kept"));
  stack::pop_cells(2);  // only the owner table names the owner now
  gc::collect();
  gc::collect();
  ASSERT_EQ(owner_node(*kept), owner.w1);
  ASSERT_TRUE(alloc::node_in_use(owner.w1));
  EXPECT_EQ(text_of(*context::values_of(owner.w1)), "kept");
  EXPECT_TRUE(ownership::notify_owner(kept, "append", nullptr, 0, 1));  // its handlers too
}

using SlotPoolValues = Ownership;

TEST(SlotPool, GrowsByDoublingAndReusesTheLastFreedSlotFirst) {
  ASSERT_EQ(slot_pool::capacity(), 100u);  // nothing else parks values
  std::vector<uint32_t> slots;
  for (int32_t i = 1; i <= 100; i++) {
    slots.push_back(slot_pool::alloc(Cell{TYPE_INTEGER, 0, uint32_t(i), 0}));
  }
  EXPECT_EQ(slot_pool::capacity(), 100u);
  EXPECT_EQ(slots.front(), 1u);
  EXPECT_EQ(slots.back(), 100u);
  EXPECT_EQ(slot_pool::alloc(Cell{TYPE_INTEGER, 0, 101, 0}), 101u);
  EXPECT_EQ(slot_pool::capacity(), 200u);
  for (uint32_t i = 1; i <= 101; i++) EXPECT_EQ(slot_pool::slot_at(i)->w2, i);

  slot_pool::free(7);
  slot_pool::free(42);
  slot_pool::free(0);  // nothing
  EXPECT_EQ(slot_pool::alloc(Cell{TYPE_INTEGER, 0, 1042, 0}), 42u);
  EXPECT_EQ(slot_pool::alloc(Cell{TYPE_INTEGER, 0, 1007, 0}), 7u);
  EXPECT_EQ(slot_pool::alloc(Cell{TYPE_INTEGER, 0, 102, 0}), 102u);
  EXPECT_EQ(slot_pool::capacity(), 200u);
  for (uint32_t i = 1; i <= 102; i++) slot_pool::free(i);
}

TEST_F(SlotPoolValues, ParkedValuesOutliveCollections) {
  uint32_t index = slot_pool::alloc(*build("parked [value]"));
  stack::pop_cells(1);
  gc::collect();
  gc::collect();
  Cell parked = *slot_pool::slot_at(index);
  ASSERT_EQ(cell::type_of(parked), TYPE_BLOCK);
  Cell inner = *element(parked, 1);
  ASSERT_EQ(alloc::series_of(inner.w2)->length(), 1u);
  EXPECT_EQ(element(inner, 0)->w2, sym("value"));
  slot_pool::free(index);
}

}  // namespace
