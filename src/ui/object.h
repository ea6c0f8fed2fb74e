// The object and class registry of the toolkit. Objects are plain zeroed
// records whose first word points at their class record; a class record is a
// zeroed block that starts with the class's type id and its parent's record,
// followed by the class's table of operations (function slots). Classes are
// registered by name into one type table; a subclass's record starts as its
// parent's and its class_init overrides slots by writing into it. Main
// thread only.
#pragma once

#include <cstdint>

// An index into the type table: 0 is the root class "object", -1 is none.
using typeid_t = int32_t;

// The header of every class record.
struct object_class {
  uint32_t type;         // the class's own type id
  object_class *parent;  // the parent class's record; null for "object"
};

// The header of every instance.
struct object {
  object_class *cls;
};

using object_init_fn = void (*)(object *obj);        // on a new zeroed instance
using object_fini_fn = void (*)(object *obj);        // before an instance is freed
using object_predelete_fn = void (*)(object *obj);   // first step of a deletion
using object_class_init_fn = void (*)(object_class *rec);
using object_class_fini_fn = void (*)(object_class *rec);

constexpr int kObjectNameBufSize = 1024;  // every class name with its terminator
constexpr int kObjectTypeGrowth = 128;    // type table growth, in entries
constexpr int kObjectMaxWatched = 16;

// Empties the type table (shutting a registry in use down first) and the
// watch list, and registers "object". 0.
int object_init();
// Runs every class_fini chain (last registered class first), frees every
// class record and the table.
void object_shutdown();
// Changes at every object_init; class getters compare it with the value they
// cached, so they register again after a restart of the registry.
uint32_t object_generation();

// Registers a class, or returns the type id of the class already registered
// under `name` (then nothing changes). -1 after an ERROR line when memory
// runs out. Runs the class_init chain, root first, on the new record.
typeid_t object_register_class(const char *name, typeid_t parent, uint32_t instance_size,
                               object_init_fn init, object_fini_fn fini, uint32_t class_size,
                               object_class_init_fn class_init, object_class_fini_fn class_fini);
// A zeroed instance with its class pointer set and the init chain run (root
// first); null after an ERROR line when memory runs out. A bad type id is
// FATAL.
object *object_new(typeid_t type);
// Pre-delete hooks root first, fini operations leaf first, watchers told,
// then the memory freed. Does not detach the object from any parent.
void object_delete(object *obj);
void object_set_predelete(typeid_t type, object_predelete_fn hook);

// 1 when obj's class or one of its ancestors is `type`, else 0.
int object_is_a(const object *obj, typeid_t type);
const char *object_type_name(const object *obj);
// The name of a registered class, or null for a bad type id.
const char *object_class_name(typeid_t type);
// The class record of a registered class, or null.
object_class *object_class_record(typeid_t type);
typeid_t object_parent_type(typeid_t type);
int object_type_count();
uint32_t object_class_first_init(typeid_t type);
uint32_t object_class_fini_flag(typeid_t type);

// Watching: a caller about to run an operation that may delete obj watches
// it, then reads *killed (1 once obj was deleted) and unwatches it when alive.
int object_watch(object *obj, int *killed);
int object_unwatch(object *obj);

// A class getter's cache: the getter registers on first use and again after
// the registry was restarted.
struct object_type_cache {
  typeid_t type = -1;
  uint32_t generation = 0;
};
// The cached type id, registering through `reg` when the cache is stale.
inline typeid_t object_cached_type(object_type_cache *c, typeid_t (*reg)()) {
  if (c->type < 0 || c->generation != object_generation()) {
    c->type = reg();
    c->generation = object_generation();
  }
  return c->type;
}
