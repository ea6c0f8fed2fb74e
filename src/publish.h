// Publishing a link to readers that take no lock, and loading it: the one
// atomics idiom of the engine's shared lists and tables (model lists, hash
// sets, the deferred-free queue).
//
// A writer fills a record completely and only then stores the link that makes
// it reachable; a reader loads the link and may then read the record.
//  - publish_link: a release store. Every store the writer made before it
//    (the record's fields, and every earlier link of the same change) is
//    visible to a reader whose acquire load sees the link. So a reader that
//    meets several links of one change (prev, next, head, tail, count) in any
//    order never sees a newer link and then an older value of a link stored
//    before it: the newer link's acquire brings the older stores with it.
//    What release does not give is store-load order: the writer's later
//    loads may be performed before the store is visible to others. Nothing
//    here depends on that. The readers of these links only load; they never
//    store anything the writer reads back to decide what to do (no flag
//    handshake, no reader counts the writer checks before reusing memory).
//    Unlinked records are reused only after the deferred-free delay, which is
//    measured in time and crosses the core lock's hand-overs (each a full
//    acquire/release pair), not signalled by readers. A sequentially
//    consistent store (a locked exchange on x86-64, a full barrier that
//    stalls the store buffer, several a message) bought only that unused
//    store-load order. Should a writer ever need to read a reader's store
//    after publishing, it must use its own seq_cst pair, not this function.
//  - publish_release: the same release store, named for stores whose readers
//    re-check a change counter around their reads (the hash set's arrays),
//    where the counter's read-modify-write is a full barrier.
//  - load_link: an acquire load, paired with either store.
// On x86-64 a release store and an acquire load are plain moves; what they
// forbid is the compiler reordering the record's stores past the link.
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
  std::atomic_ref<T>(field).store(value, std::memory_order_release);
}

template <class T>
inline void publish_release(T& field, T value) {
  std::atomic_ref<T>(field).store(value, std::memory_order_release);
}
