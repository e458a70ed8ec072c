// Intrusive doubly linked lists with a sentinel head, as the kernel keeps them.
//
// A head links to itself both ways when the list is empty. Entries live inside their records;
// CONTAINING_RECORD (ntdef.h) turns an entry back into its record. None of these lock: the owner
// of a list serialises every access to it.
#pragma once

#include "platform/ntdef.h"

typedef struct _LIST_ENTRY {
  struct _LIST_ENTRY* Flink;
  struct _LIST_ENTRY* Blink;
} LIST_ENTRY, *PLIST_ENTRY;

inline void InitializeListHead(PLIST_ENTRY head) {
  head->Flink = head;
  head->Blink = head;
}

inline BOOLEAN IsListEmpty(const LIST_ENTRY* head) { return head->Flink == head ? TRUE : FALSE; }

inline void InsertTailList(PLIST_ENTRY head, PLIST_ENTRY entry) {
  PLIST_ENTRY last = head->Blink;
  entry->Flink = head;
  entry->Blink = last;
  last->Flink = entry;
  head->Blink = entry;
}

inline void InsertHeadList(PLIST_ENTRY head, PLIST_ENTRY entry) {
  PLIST_ENTRY first = head->Flink;
  entry->Flink = first;
  entry->Blink = head;
  first->Blink = entry;
  head->Flink = entry;
}

// Unlinks entry from whatever list holds it; returns TRUE when that list is now empty. The entry's
// own links are left as they were.
inline BOOLEAN RemoveEntryList(PLIST_ENTRY entry) {
  PLIST_ENTRY next = entry->Flink;
  PLIST_ENTRY previous = entry->Blink;
  previous->Flink = next;
  next->Blink = previous;
  return next == previous ? TRUE : FALSE;
}

// Both return the head itself when the list is empty, and leave it empty.
inline PLIST_ENTRY RemoveHeadList(PLIST_ENTRY head) {
  PLIST_ENTRY entry = head->Flink;
  RemoveEntryList(entry);
  return entry;
}

inline PLIST_ENTRY RemoveTailList(PLIST_ENTRY head) {
  PLIST_ENTRY entry = head->Blink;
  RemoveEntryList(entry);
  return entry;
}
