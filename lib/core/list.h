// lib/core/list.h - an intrusive doubly linked list with sentinel nodes.
// The nodes live inside the users' records; a list is a head and a tail
// sentinel (value -1, data null). A walk goes from head->next until it meets
// the node whose next link is null (the tail). The list does no locking.
#pragma once

#include <cstdint>

struct ListNode {
  int32_t value;   // usually the owning record's handle
  void* data;      // usually the owning record
  ListNode* previous;
  ListNode* next;
};

// Makes an empty list: head <-> tail. Returns 0.
int ListInit(ListNode* head, ListNode* tail);
// Stores value and data in node and links it directly behind after (pass
// the head to put it first). Returns 0, or -1 when after is the tail (it has
// no next node) or an argument is null.
int ListAppend(ListNode* after, ListNode* node, int32_t value, void* data);
// Unlinks node; its own links are left as they were. Returns 0, or -1 for a
// sentinel or a node that is not linked.
int ListRemove(ListNode* node);
