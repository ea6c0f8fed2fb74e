// The base of the market window's content kinds: a bin that keeps the
// instrument it was given and hands it to its class; a kind without a
// module of its own (the tool panels other than the scan panel) is a class
// of its name on this base. Classes are registered on first use and kept
// by name.
#include "windows/content.h"

#include <cstring>

#include "tools/alerttools.h"
#include "tools/charttools.h"
#include "tools/depthtools.h"
#include "tools/listtools.h"
#include "tools/newstools.h"
#include "tools/scantools.h"
#include "tools/searchtools.h"
#include "tools/tradetools.h"
#include "ui/object.h"

namespace {

// Registering an existing name returns its id, so no cache is kept; the
// registry restarts between test programs' fixtures.
void content_reqsize(widget *self, size *out) { *out = {0, static_cast<content *>(self)->req_h}; }

void content_restyle(widget *self) { static_cast<content *>(self)->restyled++; }

void content_class_init(object_class *rec) {
  auto *c = static_cast<content_class *>(rec);
  c->reqsize = content_reqsize;
  c->restyle = content_restyle;
  c->set_instr = nullptr;
}

typeid_t base_type() {
  return object_register_class("content", bin_type(), sizeof(content), nullptr, nullptr, sizeof(content_class),
                               content_class_init, nullptr);
}

}  // namespace

typeid_t content_type() { return base_type(); }

content *content_new(widget *parent, const char *name) {
  typeid_t t = object_register_class(name, base_type(), sizeof(content), nullptr, nullptr, sizeof(content_class),
                                     nullptr, nullptr);
  auto *c = static_cast<content *>(widget_new(parent, t));
  if (c) c->name = name;
  return c;
}

bool content_is(const widget *w) { return w && object_is_a(reinterpret_cast<const object *>(w), base_type()); }

void content_set_instr(widget *w, instr *in) {
  if (!content_is(w)) return;
  auto *c = static_cast<content *>(w);
  c->instrument = in;
  c->given++;
  auto *k = static_cast<content_class *>(c->cls);
  if (k->set_instr) k->set_instr(w, in);
}

// Every role's panel by its name (the ticker bar makes its own); an unknown
// name gets an empty content widget of that name.
widget *toolpanel_new(widget *parent, const char *name, widget *owner) {
  if (strcmp(name, "scantools") == 0) return scantools_new(parent, owner);
  if (strcmp(name, "depthtools") == 0) return depthtools_new(parent, owner);
  if (strcmp(name, "tradetools") == 0) return tradetools_new(parent, owner);
  if (strcmp(name, "alerttools") == 0) return alerttools_new(parent, owner);
  if (strcmp(name, "searchtools") == 0) return searchtools_new(parent, owner);
  if (strcmp(name, "indextools") == 0) return indextools_new(parent, owner);
  if (strcmp(name, "optiontools") == 0) return optiontools_new(parent, owner);
  if (strcmp(name, "forextools") == 0) return forextools_new(parent, owner);
  if (strcmp(name, "charttools") == 0) return charttools_new(parent, owner);
  if (strcmp(name, "histnewstools") == 0) return histnewstools_new(parent, owner);
  if (strcmp(name, "newstools") == 0) return newstools_new(parent, owner);
  if (strcmp(name, "rsstools") == 0) return rsstools_new(parent, owner);
  if (strcmp(name, "doctools") == 0) return doctools_new(parent, owner);
  return content_new(parent, name);
}
