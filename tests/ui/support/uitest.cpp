// Shared support of the toolkit's tests: the test environment and the probe
// widget class.
#include "uitest.h"

#include "lib/gfx.h"
#include "lib/gmap.h"
#include "lib/tex.h"
#include "lib/timer.h"
#include "testlog.h"
#include "ui/container.h"
#include "ui/gui.h"
#include "ui/object.h"

namespace {

std::vector<std::string> *g_log = nullptr;

probe *as_probe(widget *w) { return static_cast<probe *>(w); }
const char *name_of(widget *w) { return as_probe(w)->name ? as_probe(w)->name : "?"; }

void p_reqsize(widget *self, size *out) { *out = as_probe(self)->req; }
void p_draw(widget *self) {
  probe_note(name_of(self), "draw");
  if (as_probe(self)->colour)
    gfx_fill_rect(self->r.x, self->r.y, self->r.w, self->r.h, as_probe(self)->colour);
}
void p_geometry(widget *self) {
  probe_note(name_of(self), "geometry");
  widget_redraw(self);
}
void p_show_children(widget *self) { probe_note(name_of(self), "show"); }
void p_hide_children(widget *self) { probe_note(name_of(self), "hide"); }
void p_press(widget *self, int32_t x, int32_t y, int button) {
  probe_note(name_of(self), "press");
  if (!as_probe(self)->keeps_press && self->parent)
    self->parent->cls->press(self->parent, x, y, button);
}
void p_release(widget *self, int32_t, int32_t, int) { probe_note(name_of(self), "release"); }
void p_key(widget *self, key_event *) { probe_note(name_of(self), "key"); }

void probe_class_init(object_class *rec) {
  auto *c = static_cast<widget_class *>(rec);
  c->reqsize = p_reqsize;
  c->draw = p_draw;
  c->geometry_changed = p_geometry;
  c->show_children = p_show_children;
  c->hide_children = p_hide_children;
  c->press = p_press;
  c->release = p_release;
  c->key_press = p_key;
}

void probe_predelete(object *o) { probe_note(name_of(reinterpret_cast<widget *>(o)), "predelete"); }
void probe_fini(object *o) { probe_note(name_of(reinterpret_cast<widget *>(o)), "fini"); }

typeid_t register_probe() {
  typeid_t t = object_register_class("probe", widget_type(), sizeof(probe), nullptr, probe_fini,
                                     sizeof(widget_class), probe_class_init, nullptr);
  object_set_predelete(t, probe_predelete);
  return t;
}

}  // namespace

void ToolkitEnv::SetUp() {
  start_runtime(TestStderr::kOff);
  object_init();
}

typeid_t probe_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_probe);
}

probe *probe_new(widget *parent, const char *name, int32_t w, int32_t h, uint32_t colour) {
  // The fields are set before the widget joins its parent, so the log
  // names it from its first callback on.
  auto *p = reinterpret_cast<probe *>(object_new(probe_type()));
  p->name = name;
  p->req = {w, h};
  p->colour = colour;
  if (!parent) return p;
  auto *c = static_cast<container *>(parent);
  if (container_cls(c)->add(c, p) < 0) {
    widget_delete(p);
    return nullptr;
  }
  return p;
}

void probe_set_log(std::vector<std::string> *log) { g_log = log; }

void probe_note(const char *name, const char *event) {
  if (g_log) g_log->push_back(std::string(name) + ":" + event);
}

namespace {
int drop_request(widget *, const rect *, widget_update_fn, int) { return 0; }
}  // namespace

void WidgetTest::SetUpTestSuite() {
  ASSERT_EQ(tex_init(), 0);
  ASSERT_EQ(tex_load_builtin(), 0);
  ASSERT_EQ(gmap_init(kGmapBudget), 0);
  ASSERT_EQ(timer_init(), 0);
}

void WidgetTest::TearDownTestSuite() {
  timer_fini();
  gmap_fini();
  tex_fini();
}

void WidgetTest::SetUp() {
  old_queue_ = widget_set_queue(drop_request);
  root = vbox_new(nullptr, 0, 0);
  widget_show(root);
}

void WidgetTest::TearDown() {
  gui_set_focus(nullptr);
  widget_delete(root);
  widget_set_queue(old_queue_);
}
