// Ordered intrusive lists shared by the market lists: records with prev and
// next links (and, for the position helpers, a u32 position) held by a
// first and a last pointer. Header only; the callers own the records.
#pragma once
#include <cstdint>

template <class T>
inline void olist_unlink(T* x, T*& first, T*& last) {
  (x->prev ? x->prev->next : first) = x->next;
  (x->next ? x->next->prev : last) = x->prev;
  x->prev = x->next = nullptr;
}

// Inserts x before `at`, or at the end when `at` is null.
template <class T>
inline void olist_insert_before(T* x, T* at, T*& first, T*& last) {
  x->next = at;
  x->prev = at ? at->prev : last;
  (x->prev ? x->prev->next : first) = x;
  (at ? at->prev : last) = x;
}

template <class T>
inline void olist_renumber(T* first) {
  uint32_t i = 0;
  for (T* x = first; x; x = x->next) x->position = i++;
}

// Moves the record at position `from` to index `to` (clamped to the last
// index) and renumbers; false when nothing moved.
template <class T>
inline bool olist_move(T*& first, T*& last, int32_t total, uint32_t from, uint32_t to) {
  if (total <= 0) return false;
  uint32_t target = to < (uint32_t)total ? to : (uint32_t)total - 1;
  if (target == from) return false;
  T* x = first;
  while (x && x->position != from) x = x->next;
  if (!x) return false;
  olist_unlink(x, first, last);
  T* at = first;
  for (uint32_t i = 0; at && i < target; i++) at = at->next;
  olist_insert_before(x, at, first, last);
  olist_renumber(first);
  return true;
}

// Puts an unlinked record back at its kept position: before the first
// record whose stored position is not below it, and renumbers.
template <class T>
inline void olist_relink(T* x, T*& first, T*& last) {
  T* at = first;
  while (at && at->position < x->position) at = at->next;
  olist_insert_before(x, at, first, last);
  olist_renumber(first);
}
