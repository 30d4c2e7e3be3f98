// lib/core/list.cpp - intrusive list with sentinels.
#include "lib/core/list.h"

int ListInit(ListNode* head, ListNode* tail) {
  *head = ListNode{-1, nullptr, nullptr, tail};
  *tail = ListNode{-1, nullptr, head, nullptr};
  return 0;
}

int ListAppend(ListNode* after, ListNode* node, int32_t value, void* data) {
  if (after == nullptr || node == nullptr || after->next == nullptr) return -1;
  node->value = value;
  node->data = data;
  node->previous = after;
  node->next = after->next;
  after->next->previous = node;
  after->next = node;
  return 0;
}

int ListRemove(ListNode* node) {
  if (node == nullptr || node->previous == nullptr || node->next == nullptr) return -1;
  node->previous->next = node->next;
  node->next->previous = node->previous;
  return 0;
}
