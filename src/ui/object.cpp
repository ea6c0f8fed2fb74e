// The object and class registry: one type table of class entries in
// registration order, one 1024-byte buffer of class names, and a short list
// of watched objects. Everything the toolkit creates goes through
// object_new/object_delete, which run the init chain root first, the
// pre-delete hooks root first and the fini chain leaf first. The table holds
// a few dozen classes, so name look-ups are a linear scan.
#include "ui/object.h"

#include <cstdlib>
#include <cstring>

#include "log.h"

namespace {

const char kSrc[] = "src/ui/object";

struct type_entry {
  const char *name;  // into the name buffer
  typeid_t parent;
  uint32_t instance_size;
  object_init_fn init;
  object_fini_fn fini;
  object_predelete_fn predelete;
  uint32_t class_size;
  object_class_init_fn class_init;
  object_class_fini_fn class_fini;
  object_class *record;  // owned
  uint32_t first_init;
  uint32_t final;
};

struct watched {
  object *obj;
  int *killed;
};

struct registry {
  type_entry *types = nullptr;
  int count = 0;
  int capacity = 0;
  char names[kObjectNameBufSize];
  int names_used = 0;
  watched watch[kObjectMaxWatched];
  int watch_count = 0;
  uint32_t generation = 0;
};
registry R;

bool valid(typeid_t t) { return t >= 0 && t < R.count; }

// The chain of a class from the root down to it, into out[]; the depth.
int chain(typeid_t t, typeid_t *out, int max) {
  int n = 0;
  for (typeid_t k = t; k >= 0 && n < max; k = R.types[k].parent) out[n++] = k;
  // reverse: root first
  for (int i = 0; i < n / 2; i++) {
    typeid_t x = out[i];
    out[i] = out[n - 1 - i];
    out[n - 1 - i] = x;
  }
  return n;
}

constexpr int kMaxDepth = 64;

void free_table() {
  free(R.types);
  R.types = nullptr;
  R.count = 0;
  R.capacity = 0;
}

}  // namespace

int object_init() {
  // A registry still in use is shut down properly first, so that classes
  // holding shared resources (the box node pool) release them.
  if (R.count > 0) object_shutdown();
  R.names_used = 0;
  R.watch_count = 0;
  R.generation++;
  object_register_class("object", -1, sizeof(object), nullptr, nullptr, sizeof(object_class),
                        nullptr, nullptr);
  return 0;
}

uint32_t object_generation() { return R.generation; }

typeid_t object_register_class(const char *name, typeid_t parent, uint32_t instance_size,
                               object_init_fn init, object_fini_fn fini, uint32_t class_size,
                               object_class_init_fn class_init, object_class_fini_fn class_fini) {
  for (int i = 0; i < R.count; i++)
    if (strcmp(R.types[i].name, name) == 0) return i;
  if (parent < -1 || parent >= R.count) {
    log(LOG_ERROR, kSrc, "bad typeid %d", parent);
    return -1;
  }
  // The parent's class_init writes its slots into this record and its init
  // its fields into every instance: both must hold the parent's layout.
  if (parent >= 0 && (class_size < R.types[parent].class_size ||
                      instance_size < R.types[parent].instance_size)) {
    log(LOG_ERROR, kSrc, "%s is smaller than its parent %s", name, R.types[parent].name);
    return -1;
  }

  if (R.count == R.capacity) {
    int cap = R.capacity + kObjectTypeGrowth;
    auto *t = static_cast<type_entry *>(realloc(R.types, sizeof(type_entry) * size_t(cap)));
    if (!t) {
      log(LOG_ERROR, kSrc, "can't realloc to %d types", cap);
      for (int i = 0; i < R.count; i++) free(R.types[i].record);
      free_table();
      return -1;
    }
    R.types = t;
    R.capacity = cap;
  }
  auto *rec = static_cast<object_class *>(calloc(1, class_size));
  if (!rec) {
    log(LOG_ERROR, kSrc, "can't alloc %s class", name);
    return -1;
  }
  typeid_t id = R.count;
  rec->type = uint32_t(id);
  rec->parent = parent >= 0 ? R.types[parent].record : nullptr;

  size_t len = strlen(name) + 1;
  if (R.names_used + len >= size_t(kObjectNameBufSize)) {
    free(rec);
    log(LOG_FATAL, kSrc, "extend name buf");
    return -1;
  }
  char *stored = R.names + R.names_used;
  memcpy(stored, name, len);
  R.names_used += int(len);

  R.types[id] = type_entry{stored, parent,     instance_size, init, fini, nullptr,
                           class_size, class_init, class_fini,  rec,  1,    1};
  R.count++;

  // The class_init chain, root first: every class's operations are written
  // over its parent's, and each class learns through its first-init flag
  // whether this is its own record (1) or a subclass's (0).
  typeid_t c[kMaxDepth];
  int n = chain(id, c, kMaxDepth);
  for (int i = 0; i < n; i++) {
    if (R.types[c[i]].class_init) R.types[c[i]].class_init(rec);
    R.types[c[i]].first_init = 0;
  }
  return id;
}

object *object_new(typeid_t type) {
  if (!valid(type)) {
    log(LOG_FATAL, kSrc, "bad typeid %d", type);
    return nullptr;
  }
  const type_entry &e = R.types[type];
  auto *obj = static_cast<object *>(calloc(1, e.instance_size));
  if (!obj) {
    log(LOG_ERROR, kSrc, "can't alloc %db %s object", int(e.instance_size), e.name);
    return nullptr;
  }
  obj->cls = e.record;
  typeid_t c[kMaxDepth];
  int n = chain(type, c, kMaxDepth);
  for (int i = 0; i < n; i++)
    if (R.types[c[i]].init) R.types[c[i]].init(obj);
  return obj;
}

void object_delete(object *obj) {
  typeid_t type = obj && obj->cls ? typeid_t(obj->cls->type) : -1;
  if (!valid(type)) {
    log(LOG_FATAL, kSrc, "bad typeid %d", type);
    return;
  }
  typeid_t c[kMaxDepth];
  int n = chain(type, c, kMaxDepth);
  for (int i = 0; i < n; i++)
    if (R.types[c[i]].predelete) R.types[c[i]].predelete(obj);
  for (int i = n - 1; i >= 0; i--)
    if (R.types[c[i]].fini) R.types[c[i]].fini(obj);
  for (int i = 0; i < R.watch_count; i++)
    if (R.watch[i].obj == obj) {
      *R.watch[i].killed = 1;
      R.watch[i] = R.watch[--R.watch_count];
      break;
    }
  free(obj);
}

void object_set_predelete(typeid_t type, object_predelete_fn hook) {
  if (!valid(type)) {
    log(LOG_ERROR, kSrc, "bad typeid %d", type);
    return;
  }
  R.types[type].predelete = hook;
}

int object_is_a(const object *obj, typeid_t type) {
  if (!obj || !obj->cls) return 0;
  for (const object_class *c = obj->cls; c; c = c->parent)
    if (typeid_t(c->type) == type) return 1;
  return 0;
}

const char *object_type_name(const object *obj) {
  if (!obj || !obj->cls || !valid(typeid_t(obj->cls->type))) return "?";
  return R.types[obj->cls->type].name;
}

const char *object_class_name(typeid_t type) { return valid(type) ? R.types[type].name : nullptr; }
object_class *object_class_record(typeid_t type) {
  return valid(type) ? R.types[type].record : nullptr;
}
typeid_t object_parent_type(typeid_t type) { return valid(type) ? R.types[type].parent : -1; }
int object_type_count() { return R.count; }
uint32_t object_class_first_init(typeid_t type) { return valid(type) ? R.types[type].first_init : 0; }
uint32_t object_class_fini_flag(typeid_t type) { return valid(type) ? R.types[type].final : 0; }

int object_watch(object *obj, int *killed) {
  if (R.watch_count >= kObjectMaxWatched) {
    log(LOG_ERROR, kSrc, "already watching %d potential victims", kObjectMaxWatched);
    return -1;
  }
  R.watch[R.watch_count++] = watched{obj, killed};
  *killed = 0;
  return 0;
}

int object_unwatch(object *obj) {
  for (int i = 0; i < R.watch_count; i++)
    if (R.watch[i].obj == obj) {
      R.watch[i] = R.watch[--R.watch_count];
      return 0;
    }
  log(LOG_ERROR, kSrc, "not watching %s %p", object_type_name(obj), static_cast<void *>(obj));
  return -1;
}

void object_shutdown() {
  for (int i = R.count - 1; i >= 0; i--) {
    object_class *rec = R.types[i].record;
    for (typeid_t k = i; k >= 0; k = R.types[k].parent) {
      if (R.types[k].class_fini) R.types[k].class_fini(rec);
      R.types[k].final = 1;
    }
    free(rec);
    R.types[i].record = nullptr;
  }
  free_table();
  R.names_used = 0;
  R.watch_count = 0;
}
