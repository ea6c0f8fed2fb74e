// Publishing a link to readers that take no lock, and loading it: the one
// atomics idiom of the engine's shared lists and tables (model lists, hash
// sets, the deferred-free queue).
//
// A writer fills a record completely and only then stores the link that makes
// it reachable; a reader loads the link and may then read the record.
//  - publish_link: a sequentially consistent store. On x86-64 it is a locked
//    exchange, a full barrier. An acquire/release pair would already let the
//    reader see the record complete; the full barrier also keeps the writer's
//    later loads behind the store, so a reader that meets several links of
//    one change (prev, next, head, tail, count) in any order across a
//    hand-over of the core lock never sees a newer link before an older one.
//    It costs one locked instruction per link; relaxing it is a measured
//    change of its own.
//  - publish_release: a release store, for stores whose readers re-check a
//    change counter around their reads (the hash set's sorted array), where
//    the counter's read-modify-write is the full barrier.
//  - load_link: an acquire load, paired with either store.
// Each works on a plain field (through std::atomic_ref), so records keep
// their layout and code that holds the writer's lock reads fields directly.
#pragma once
#include <atomic>

template <class T>
inline T load_link(const T& field) {
  return std::atomic_ref<T>(const_cast<T&>(field)).load(std::memory_order_acquire);
}

template <class T>
inline void publish_link(T& field, T value) {
  std::atomic_ref<T>(field).store(value, std::memory_order_seq_cst);
}

template <class T>
inline void publish_release(T& field, T value) {
  std::atomic_ref<T>(field).store(value, std::memory_order_release);
}
