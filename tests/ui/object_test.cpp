// The class registry: registration, slot inheritance through the class_init
// chain, the first-init and final flags, creation and deletion order, the
// watch list and the name buffer's limit.
#include "ui/object.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log.h"
#include "testlog.h"
#include "uitest.h"

namespace {

const auto *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

std::vector<std::string> g_calls;

// A three-level family: base writes both slots, mid overrides one, leaf
// overrides none.
struct fam_class : object_class {
  const char *(*hello)();
  const char *(*bye)();
};
const char *base_hello() { return "base hello"; }
const char *base_bye() { return "base bye"; }
const char *mid_bye() { return "mid bye"; }

typeid_t g_base = -1, g_mid = -1, g_leaf = -1;

void note_flags(const char *who, typeid_t self, object_class *rec) {
  g_calls.push_back(std::string(who) + " on " + object_class_name(typeid_t(rec->type)) +
                    " first=" + std::to_string(object_class_first_init(self)));
}
void base_cinit(object_class *rec) {
  note_flags("base_cinit", g_base, rec);
  auto *c = static_cast<fam_class *>(rec);
  c->hello = base_hello;
  c->bye = base_bye;
}
void mid_cinit(object_class *rec) {
  note_flags("mid_cinit", g_mid, rec);
  static_cast<fam_class *>(rec)->bye = mid_bye;
}
void leaf_cinit(object_class *rec) { note_flags("leaf_cinit", g_leaf, rec); }
void base_cfini(object_class *rec) {
  g_calls.push_back(std::string("base_cfini on ") + object_class_name(typeid_t(rec->type)));
}
void mid_cfini(object_class *rec) {
  g_calls.push_back(std::string("mid_cfini on ") + object_class_name(typeid_t(rec->type)));
}

void base_init(object *) { g_calls.push_back("base_init"); }
void mid_init(object *) { g_calls.push_back("mid_init"); }
void leaf_init(object *) { g_calls.push_back("leaf_init"); }
void base_fini(object *) { g_calls.push_back("base_fini"); }
void mid_fini(object *) { g_calls.push_back("mid_fini"); }
void leaf_fini(object *) { g_calls.push_back("leaf_fini"); }
void base_pre(object *) { g_calls.push_back("base_pre"); }
void leaf_pre(object *) { g_calls.push_back("leaf_pre"); }

struct fam_obj : object {
  int payload[4];
};

void register_family() {
  // The ids must be known inside the class_init calls, which run during
  // registration: the next id is the current count.
  g_base = object_type_count();
  g_base = object_register_class("fam_base", 0, sizeof(fam_obj), base_init, base_fini,
                                 sizeof(fam_class), base_cinit, base_cfini);
  g_mid = object_type_count();
  g_mid = object_register_class("fam_mid", g_base, sizeof(fam_obj), mid_init, mid_fini,
                                sizeof(fam_class), mid_cinit, mid_cfini);
  g_leaf = object_type_count();
  g_leaf = object_register_class("fam_leaf", g_mid, sizeof(fam_obj), leaf_init, leaf_fini,
                                 sizeof(fam_class), leaf_cinit, nullptr);
  object_set_predelete(g_base, base_pre);
  object_set_predelete(g_leaf, leaf_pre);
}

// Each test starts from a fresh registry, so the order of registration and
// the flags are the test's own.
class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    object_shutdown();
    object_init();
    g_calls.clear();
  }
};

TEST_F(Registry, RootClassIsObject) {
  EXPECT_EQ(object_type_count(), 1);
  EXPECT_STREQ(object_class_name(0), "object");
  EXPECT_EQ(object_parent_type(0), -1);
  object_class *rec = object_class_record(0);
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(rec->type, 0u);
  EXPECT_EQ(rec->parent, nullptr);
}

TEST_F(Registry, ClassInitChainRunsRootFirstWithFirstInitFlags) {
  register_family();
  EXPECT_EQ(g_calls, (std::vector<std::string>{
                         "base_cinit on fam_base first=1",
                         "base_cinit on fam_mid first=0",
                         "mid_cinit on fam_mid first=1",
                         "base_cinit on fam_leaf first=0",
                         "mid_cinit on fam_leaf first=0",
                         "leaf_cinit on fam_leaf first=1",
                     }));
  EXPECT_EQ(object_class_first_init(g_leaf), 0u);
  EXPECT_EQ(object_class_fini_flag(g_leaf), 1u);
}

TEST_F(Registry, SlotsAreInheritedAndOverridden) {
  register_family();
  auto *base = static_cast<fam_class *>(object_class_record(g_base));
  auto *mid = static_cast<fam_class *>(object_class_record(g_mid));
  auto *leaf = static_cast<fam_class *>(object_class_record(g_leaf));
  struct row {
    fam_class *cls;
    const char *hello, *bye;
  } rows[] = {
      {base, "base hello", "base bye"},
      {mid, "base hello", "mid bye"},
      {leaf, "base hello", "mid bye"},  // the grandchild keeps the parent's override
  };
  for (const row &r : rows) {
    EXPECT_STREQ(r.cls->hello(), r.hello);
    EXPECT_STREQ(r.cls->bye(), r.bye);
  }
  EXPECT_EQ(leaf->parent, mid);
  EXPECT_EQ(mid->parent, base);
  EXPECT_EQ(base->parent, object_class_record(0));
}

TEST_F(Registry, SameNameTwiceReturnsTheSameIdWithoutClassInit) {
  register_family();
  g_calls.clear();
  int before = object_type_count();
  EXPECT_EQ(object_register_class("fam_mid", g_base, 999, nullptr, nullptr, 999, mid_cinit,
                                  nullptr),
            g_mid);
  EXPECT_TRUE(g_calls.empty());
  EXPECT_EQ(object_type_count(), before);
}

TEST_F(Registry, NewAndDeleteRunTheChainsInOrder) {
  register_family();
  g_calls.clear();
  object *o = object_new(g_leaf);
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(o->cls, object_class_record(g_leaf));
  auto *f = static_cast<fam_obj *>(o);
  EXPECT_EQ(f->payload[0] | f->payload[3], 0);  // zeroed
  object_delete(o);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"base_init", "mid_init", "leaf_init", "base_pre",
                                               "leaf_pre", "leaf_fini", "mid_fini",
                                               "base_fini"}));
}

TEST_F(Registry, IsAFollowsAncestors) {
  register_family();
  object *m = object_new(g_mid);
  struct row {
    typeid_t t;
    int is;
  } rows[] = {{0, 1}, {g_base, 1}, {g_mid, 1}, {g_leaf, 0}};
  for (const row &r : rows) EXPECT_EQ(object_is_a(m, r.t), r.is) << r.t;
  EXPECT_STREQ(object_type_name(m), "fam_mid");
  object m2 = {nullptr};
  EXPECT_EQ(object_is_a(&m2, 0), 0);
  object_delete(m);
}

TEST_F(Registry, ShutdownRunsEachClassFiniChainLeafUpAndSetsFinalFlags) {
  register_family();
  g_calls.clear();
  object_shutdown();
  EXPECT_EQ(g_calls, (std::vector<std::string>{
                         "mid_cfini on fam_leaf", "base_cfini on fam_leaf",
                         "mid_cfini on fam_mid", "base_cfini on fam_mid",
                         "base_cfini on fam_base",
                     }));
  EXPECT_EQ(object_type_count(), 0);
  object_init();
}

TEST_F(Registry, InitOnARegistryInUseShutsItDownFirst) {
  register_family();
  g_calls.clear();
  object_init();
  EXPECT_EQ(g_calls.size(), 5u);  // every class_fini chain ran
  EXPECT_EQ(object_type_count(), 1);
  // The names are free again: the same name registers as a new class.
  EXPECT_EQ(object_register_class("fam_base", 0, sizeof(object), nullptr, nullptr,
                                  sizeof(object_class), nullptr, nullptr),
            1);
}

TEST_F(Registry, WatchListMarksDeletedObjects) {
  register_family();
  object *objs[kObjectMaxWatched];
  int killed[kObjectMaxWatched];
  for (int i = 0; i < kObjectMaxWatched; i++) {
    objs[i] = object_new(g_base);
    killed[i] = 7;
    ASSERT_EQ(object_watch(objs[i], &killed[i]), 0);
    EXPECT_EQ(killed[i], 0);
  }
  object *extra = object_new(g_base);
  int extra_killed = 0;
  LogCapture cap;
  EXPECT_EQ(object_watch(extra, &extra_killed), -1);
  EXPECT_TRUE(cap.has("already watching 16 potential victims"));

  object_delete(objs[3]);  // its entry goes; the list has room again
  EXPECT_EQ(killed[3], 1);
  EXPECT_EQ(killed[4], 0);
  EXPECT_EQ(object_watch(extra, &extra_killed), 0);

  EXPECT_EQ(object_unwatch(objs[0]), 0);
  object_delete(objs[0]);
  EXPECT_EQ(killed[0], 0);  // no longer watched: not told
  LogCapture cap2;
  EXPECT_EQ(object_unwatch(objs[1]), 0);
  EXPECT_EQ(object_unwatch(objs[1]), -1);
  EXPECT_TRUE(cap2.has("not watching fam_base"));
  for (int i = 1; i < kObjectMaxWatched; i++)
    if (i != 3) {
      object_unwatch(objs[i]);
      object_delete(objs[i]);
    }
  object_unwatch(extra);
  object_delete(extra);
}

TEST_F(Registry, BadTypeIds) {
  LogCapture cap;
  object_set_predelete(99, nullptr);
  EXPECT_TRUE(cap.has("bad typeid 99"));
  EXPECT_EQ(object_register_class("orphan", 5, sizeof(object), nullptr, nullptr,
                                  sizeof(object_class), nullptr, nullptr),
            -1);
  EXPECT_TRUE(cap.has("bad typeid 5"));
  register_family();
  // A record or instance smaller than the parent's could not hold its layout.
  EXPECT_EQ(object_register_class("shrunk", g_base, sizeof(fam_obj), nullptr, nullptr,
                                  sizeof(object_class), nullptr, nullptr),
            -1);
  EXPECT_EQ(object_register_class("thin", g_base, sizeof(object), nullptr, nullptr,
                                  sizeof(fam_class), nullptr, nullptr),
            -1);
  EXPECT_TRUE(cap.has("shrunk is smaller than its parent fam_base"));
  EXPECT_EQ(object_class_name(object_type_count()), nullptr);
  EXPECT_EXIT((log_set_stderr(1), object_new(42)), ::testing::ExitedWithCode(1), "bad typeid 42");
}

TEST_F(Registry, NameBufferIsLimited) {
  // Names of 99 characters with terminators: ten fill 1000 bytes beside
  // "object", the eleventh would reach 1024.
  auto fill = [] {
    log_set_stderr(1);
    for (int i = 0; i < 11; i++) {
      std::string name(99, char('a' + i));
      object_register_class(name.c_str(), 0, sizeof(object), nullptr, nullptr,
                            sizeof(object_class), nullptr, nullptr);
    }
  };
  EXPECT_EXIT(fill(), ::testing::ExitedWithCode(1), "extend name buf");
  for (int i = 0; i < 10; i++) {
    std::string name(99, char('a' + i));
    EXPECT_GE(object_register_class(name.c_str(), 0, sizeof(object), nullptr, nullptr,
                                    sizeof(object_class), nullptr, nullptr),
              0);
  }
  EXPECT_EQ(object_type_count(), 11);
}

}  // namespace
