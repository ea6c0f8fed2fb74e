// Chart styles: the named chart set-ups that charts share. A style is either
// private to one chart (id 0, freed when its last chart lets go) or
// registered (id above 0, named, in the user's ordered list, saved in the
// user configuration). Every chart watches exactly one style; an edit of one
// chart reaches every other chart on the same style. User-interface thread
// only.
#pragma once
#include <cstdint>

#include "sstime.h"

struct chart_plot;

constexpr int kCstyleNameSize = 32;  // 31 characters and the NUL
constexpr float kCstyleUnset = 3.4028235e38f;  // a parameter left to the registry

// Style flag bits.
constexpr uint32_t kCstyleDeleting = 0x1;   // unlinked: its deletion was announced
constexpr uint32_t kCstyleNotifying = 0x2;  // watchers are being called

// Watcher events.
constexpr int kCstyleChanged = 1;
constexpr int kCstyleRenamed = 2;
constexpr int kCstyleDeleted = 3;

struct cstyle;
// Called as callback(style, event, owner, argument, n).
typedef void (*cstyle_watch_fn)(cstyle* style, int event, void* owner, void* argument, int n);

// One overlay or indicator setting.
struct cstyle_supp {
  int32_t type;      // registry number
  float params[3];   // kCstyleUnset: the registry's default
  cstyle_supp* next;
};

struct cstyle_watcher {
  cstyle_watch_fn callback;
  void* owner;  // the watching chart; watchers without one are never told
  void* argument;
  int n;
  cstyle_watcher* prev;
  cstyle_watcher* next;
};

struct cstyle {
  int32_t id;  // 0 private, above 0 registered
  char name[kCstyleNameSize];
  int32_t watcher_count;
  cstyle_watcher* watch_head;
  cstyle_watcher* watch_tail;
  cstyle* prev;
  cstyle* next;
  uint32_t flags;
  int32_t ordinal;  // place in the registered list, -1 private
  int32_t linked;   // 1 while in its list
  int32_t holds;    // undo records holding the style: it is not freed while held
  // The settings of what a chart shows.
  int32_t range, range_count;
  ss_time from, mid, to;
  int32_t from_type, mid_type, to_type;
  int32_t period, period_count;
  int32_t scale;
  int32_t type;
  cstyle_supp* overlays;
  cstyle_supp* indicators;
  uint32_t options;
};

// One row of the tool panel's range and period menus; a count of -1 stands
// for the kind whatever its count; the tables end with kind -1.
struct cstyle_preset {
  int32_t kind, count, entry;
};
extern const cstyle_preset cstyle_range_presets[];
extern const cstyle_preset cstyle_period_presets[];

// What a style needs of the chart widget. The owner of a watch is the
// chart; plot_of gives its data block (by default the owner is taken to be
// the data block itself). The overlay calls default to the data block's own
// instance lists; the widget installs its setters. Null fields keep the
// defaults.
struct cstyle_chart_hooks {
  chart_plot* (*plot_of)(void* owner);
  void (*clear_overlays)(chart_plot* plot);
  void (*add_overlay)(chart_plot* plot, int32_t type, const float params[3]);
  void (*clear_indicators)(chart_plot* plot);
  void (*add_indicator)(chart_plot* plot, int32_t type, const float params[3]);
  void (*redraw)(void* owner);  // queue the chart's redraw
};
void cstyle_set_chart_hooks(const cstyle_chart_hooks* hooks);

int cstyle_init(void);  // 0 / -1
void cstyle_fini(void);

// Creation and copying. Null after an ERROR line.
cstyle* cstyle_new(const char* name, int32_t id);  // registered; id < 1: the next free
cstyle* cstyle_alloc(void);                        // private
cstyle* cstyle_clone(const cstyle* style);         // private copy
void cstyle_copy(cstyle* dst, const cstyle* src);  // settings only, no notices
void cstyle_assign(cstyle* dst, const cstyle* src);  // copy, then every watcher follows

// The registered list.
void cstyle_set_id(cstyle* style);
void cstyle_register(cstyle* style);  // an unlinked style back into its list
void cstyle_unlink(cstyle* style);    // nothing for a style not in a list
void cstyle_delete(cstyle* style);    // freed unless watched
void cstyle_move(int32_t from, int32_t to);
cstyle* cstyle_find(int32_t id);
int32_t cstyle_id_at(int32_t ordinal);  // -1 when none
int32_t cstyle_count(void);
int cstyle_name_free(const char* name);
void cstyle_rewind(void);
cstyle* cstyle_next(void);
int cstyle_is_unnamed(const cstyle* style);
int cstyle_id_valid(const cstyle* style);
int32_t cstyle_get_id(const cstyle* style);
const char* cstyle_name(const cstyle* style);
void cstyle_rename(cstyle* style, const char* name);
// Private styles alive (in the private list).
int32_t cstyle_private_count(void);

// Charts.
int cstyle_watch(cstyle* style, cstyle_watch_fn callback, void* owner, void* argument, int n);
int cstyle_unwatch(cstyle* style, void* owner);
void cstyle_apply_spec(chart_plot* plot, const cstyle* style);
int cstyle_apply(cstyle* style, chart_plot* plot);  // plot null: only re-apply and notify
// The watch callback a chart uses: event 1 re-applies the style and redraws,
// event 3 moves the chart onto a private, unnamed clone of the style (the
// owner must be the chart whose data block plot_of gives).
void cstyle_chart_notice(cstyle* style, int event, void* owner, void* argument, int n);

// Configuration: the current block of the writer / reader.
void cstyle_save(const cstyle* style);
void cstyle_load(cstyle* style);

// Undo: hands the operations of the chart-style records (a chart's style,
// 17; a deleted style, 23; a created style, 24) to the undo ring's
// registration, which the application passes in at start-up (the undo ring
// sits above the charts). The object of record 17 is the chart (whose data
// block plot_of gives), of 23 and 24 the style.
struct undo_record_ops;
void cstyle_undo_register(void (*register_type)(int type, const undo_record_ops* ops));
