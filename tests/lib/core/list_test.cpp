#include "lib/core/list.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<int> Walk(const ListNode& head) {
  std::vector<int> values;
  for (const ListNode* n = head.next; n->next != nullptr; n = n->next) values.push_back(n->value);
  return values;
}

TEST(List, AppendBehindHeadPutsNewestFirstAndRemoveUnlinks) {
  ListNode head, tail, a, b, c;
  ASSERT_EQ(ListInit(&head, &tail), 0);
  EXPECT_EQ(head.value, -1);
  EXPECT_EQ(head.previous, nullptr);
  EXPECT_EQ(tail.next, nullptr);
  EXPECT_TRUE(Walk(head).empty());
  int payload = 0;
  ListAppend(&head, &a, 1, &payload);
  ListAppend(&head, &b, 2, nullptr);
  ListAppend(&a, &c, 3, nullptr);  // behind a given node
  EXPECT_EQ(Walk(head), (std::vector<int>{2, 1, 3}));
  EXPECT_EQ(a.data, &payload);
  EXPECT_EQ(tail.previous, &c);
  EXPECT_EQ(ListRemove(&a), 0);
  EXPECT_EQ(Walk(head), (std::vector<int>{2, 3}));
  EXPECT_EQ(a.next, &c);  // own links untouched
  EXPECT_EQ(ListRemove(&b), 0);
  EXPECT_EQ(ListRemove(&c), 0);
  EXPECT_EQ(head.next, &tail);
  EXPECT_EQ(tail.previous, &head);
}

TEST(List, RefusesSentinels) {
  ListNode head, tail, a;
  ListInit(&head, &tail);
  EXPECT_EQ(ListAppend(&tail, &a, 1, nullptr), -1);
  EXPECT_EQ(ListRemove(&head), -1);
  EXPECT_EQ(ListRemove(&tail), -1);
  EXPECT_EQ(head.next, &tail);
}

}  // namespace
