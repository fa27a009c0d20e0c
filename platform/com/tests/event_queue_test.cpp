// What waiting events are counted as: the memory they take in the server, which for a data
// change is many times its size on the wire, and the bounds that count it.
#include "platform/com/rpc/event_queue.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/com/rpc/wire.h"

namespace platform::com::rpc {
namespace {

namespace pb = qar::com;

pb::Event DataChange(int items, const std::function<Variant(int)>& value) {
  pb::Event e;
  auto* d = e.mutable_data_change();
  for (int i = 0; i < items; ++i) {
    d->add_client_handles(i);
    wire::EncodeValue(value(i), d->add_values());
    d->add_qualities(OPC_QUALITY_GOOD);
    d->add_time_stamps(133'000'000'000'000'000 + i);
    d->add_errors(S_OK);
  }
  return e;
}

// The estimate is at least what the message objects themselves take (the library's own
// count, without what the allocator adds) and not far above it.
TEST(EventMemoryTest, CountsWhatTheEventTakesInMemory) {
  struct Row {
    const char* label;
    pb::Event event;
  } rows[] = {
      {"numbers", DataChange(5000, [](int i) { return Variant::R8(i * 0.5); })},
      {"short texts", DataChange(1000, [](int i) { return Variant::Str("v" + std::to_string(i)); })},
      {"long texts", DataChange(100, [](int i) { return Variant::Str(std::string(1000 + i, 'x')); })},
      {"a memory block", [] {
         pb::Event e;
         e.mutable_stream_data()->set_format("OPCSTMFORMATDATATIME");
         e.mutable_stream_data()->set_block(std::string(64 << 10, '\1'));
         return e;
       }()},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    const size_t counted = MemoryOf(row.event);
    const size_t used = row.event.SpaceUsedLong();
    EXPECT_GE(counted, used);
    EXPECT_LE(counted, used * 2);
  }
  // A data change of numbers takes several times its size on the wire.
  pb::Event numbers = DataChange(5000, [](int i) { return Variant::I4(i); });
  EXPECT_GT(MemoryOf(numbers), 3 * numbers.ByteSizeLong());
}

TEST(EventQueueTest, BoundsCountAndMemoryPerQueueAndShareOneBudget) {
  EventBudget budget(size_t{1} << 30);
  const pb::Event change = DataChange(100, [](int i) { return Variant::I4(i); });
  const size_t one = MemoryOf(pb::Event(change));  // as a queue holds it: a copy
  EventQueue by_count(2, size_t{1} << 30, budget), by_memory(100, 2 * one + one / 2, budget);
  for (EventQueue* q : {&by_count, &by_memory}) {
    EXPECT_TRUE(q->Push(change));
    EXPECT_TRUE(q->Push(change));
    EXPECT_FALSE(q->Push(change));
    EXPECT_EQ(q->Count(), 2u);
  }
  EXPECT_EQ(budget.Used(), 4 * one);
  by_count.Drop(/*keep_front=*/true);
  EXPECT_EQ(by_count.Count(), 1u);
  EXPECT_EQ(budget.Used(), 3 * one);
  by_count.Pop();
  EXPECT_TRUE(by_count.Empty());
  // One event always fits into an empty queue, however large.
  EventQueue tiny(1, 1, budget);
  EXPECT_TRUE(tiny.Push(change));
  EXPECT_FALSE(tiny.Push(change));
  tiny.Drop(false);
  by_memory.Drop(false);
  EXPECT_EQ(budget.Used(), 0u);
}

// The queues of one budget together never hold more than it allows, neither when asked
// before an event is built nor when it is pushed, and an empty queue is no exception; what
// one queue gives back, another may take.
TEST(EventQueueTest, AllQueuesOfABudgetStayWithinItEvenWhenEmpty) {
  const pb::Event change = DataChange(100, [](int i) { return Variant::I4(i); });
  const size_t one = MemoryOf(pb::Event(change));
  EventBudget budget(2 * one + one / 2);
  EventQueue a(100, size_t{1} << 30, budget), b(100, size_t{1} << 30, budget);
  EXPECT_TRUE(a.Push(change));
  EXPECT_TRUE(a.Push(change));
  EXPECT_FALSE(b.Admits(DataChangeFloor(100)));
  EXPECT_FALSE(b.Push(change));
  EXPECT_TRUE(b.Empty());
  EXPECT_LE(budget.Used(), budget.Limit());
  EXPECT_EQ(budget.Used(), 2 * one);
  // Refused for the total, the event is still the caller's, to push once there is room.
  pb::Event event = change;
  EXPECT_EQ(b.Check(one), EventQueue::Fit::kOverTotal);
  EXPECT_EQ(b.Push(event, one), EventQueue::Fit::kOverTotal);
  EXPECT_EQ(event.data_change().client_handles_size(), 100);
  a.Pop();
  EXPECT_EQ(b.Push(event, one), EventQueue::Fit::kFits);
  EXPECT_EQ(budget.Used(), 2 * one);
  a.Drop(false);
  b.Drop(false);
  EXPECT_EQ(budget.Used(), 0u);
}

// What is known of a data change before it is built never counts more than the built event:
// a queue asked first refuses only what it would refuse once built, and within a little of it.
TEST(EventMemoryTest, TheFloorOfADataChangeIsNeverAboveTheBuiltEvent) {
  struct Row {
    const char* label;
    int items;
    std::function<Variant(int)> value;
  } rows[] = {
      {"none", 0, [](int) { return Variant(); }},
      {"one number", 1, [](int i) { return Variant::I4(i); }},
      {"numbers", 5000, [](int i) { return Variant::R8(i * 0.5); }},
      {"texts", 1000, [](int i) { return Variant::Str(std::string(40, 'x') + std::to_string(i)); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    const pb::Event built = DataChange(row.items, row.value);
    const size_t floor = DataChangeFloor(static_cast<size_t>(row.items));
    EXPECT_LE(floor, MemoryOf(built));
    EXPECT_GE(floor, row.items ? row.items * sizeof(pb::Value) : sizeof(pb::Event));
  }
  EventBudget budget(size_t{1} << 41);
  const pb::Event change = DataChange(100, [](int i) { return Variant::I4(i); });
  const size_t one = MemoryOf(pb::Event(change));
  EventQueue q(100, 2 * one, budget);
  EXPECT_TRUE(q.Admits(size_t{1} << 40));  // an empty queue takes one event, however large
  ASSERT_TRUE(q.Push(change));
  EXPECT_TRUE(q.Admits(DataChangeFloor(100)));
  ASSERT_TRUE(q.Push(change));
  EXPECT_FALSE(q.Admits(DataChangeFloor(100)));
  EXPECT_FALSE(q.Push(change));
}

}  // namespace
}  // namespace platform::com::rpc
