#include "platform/list.h"

#include <gtest/gtest.h>

#include <vector>

namespace tessil {
namespace {

// Records shaped like the driver's: polymorphic, the list entry neither first nor in the most
// derived class.
struct Interface {
  virtual ~Interface() = default;
  virtual int Value() const = 0;
};

struct Linked : Interface {
  double padding[3] = {};
  LIST_ENTRY entry{};
};

struct Record : Linked {
  explicit Record(int value) : value(value) {}
  int Value() const override { return value; }
  int value;
};

std::vector<int> Walk(LIST_ENTRY* head) {
  std::vector<int> values;
  for (LIST_ENTRY* entry = head->Flink; entry != head; entry = entry->Flink) {
    values.push_back(CONTAINING_RECORD(entry, Record, entry)->Value());
  }
  return values;
}

std::vector<int> WalkBackwards(LIST_ENTRY* head) {
  std::vector<int> values;
  for (LIST_ENTRY* entry = head->Blink; entry != head; entry = entry->Blink) {
    values.push_back(CONTAINING_RECORD(entry, Record, entry)->Value());
  }
  return values;
}

TEST(KernelList, InsertionsAndRemovalsKeepBothDirectionsConsistent) {
  LIST_ENTRY head;
  InitializeListHead(&head);
  EXPECT_TRUE(IsListEmpty(&head));

  Record one(1), two(2), three(3), zero(0);
  InsertTailList(&head, &one.entry);
  InsertTailList(&head, &two.entry);
  InsertTailList(&head, &three.entry);
  InsertHeadList(&head, &zero.entry);
  EXPECT_FALSE(IsListEmpty(&head));
  EXPECT_EQ(Walk(&head), (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(WalkBackwards(&head), (std::vector<int>{3, 2, 1, 0}));

  EXPECT_FALSE(RemoveEntryList(&two.entry));  // from the middle
  EXPECT_EQ(Walk(&head), (std::vector<int>{0, 1, 3}));
  EXPECT_EQ(WalkBackwards(&head), (std::vector<int>{3, 1, 0}));

  EXPECT_EQ(RemoveHeadList(&head), &zero.entry);
  EXPECT_EQ(RemoveTailList(&head), &three.entry);
  EXPECT_TRUE(RemoveEntryList(&one.entry));  // the last entry: the list is now empty
  EXPECT_TRUE(IsListEmpty(&head));
  EXPECT_EQ(head.Flink, &head);
  EXPECT_EQ(head.Blink, &head);

  EXPECT_EQ(RemoveHeadList(&head), &head);  // removing from an empty list leaves it empty
  EXPECT_TRUE(IsListEmpty(&head));
}

TEST(KernelList, ContainingRecordFindsTheRecordOfAMemberInABaseClass) {
  Record record(42);
  Interface* asInterface = &record;
  EXPECT_EQ(CONTAINING_RECORD(&record.entry, Record, entry), &record);
  EXPECT_EQ(CONTAINING_RECORD(&record.entry, Linked, entry), static_cast<Linked*>(&record));
  EXPECT_EQ(CONTAINING_RECORD(&record.entry, Record, entry)->Value(), asInterface->Value());
}

}  // namespace
}  // namespace tessil
