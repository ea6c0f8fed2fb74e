// Window drawing and the owner map. A window draws only what was queued for
// it, lowest stacking level first, or its whole tree after an invalidation;
// then it presents the back buffer. The contents of a double-buffered
// window alternate between two buffers, so every entry drawn is queued once
// more (marked with the repeat bit, which stops a third draw) and lands in
// the other buffer on the window's next frame. Mesa keeps the back buffer's
// contents across a swap, which is what makes partial redraws correct.
//
// The owner map finds, for an area a drag label covered, which widgets show
// through each pixel, so exactly those are queued again.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "lib/gfx.h"
#include "lib/glapi.h"
#include "lib/splash.h"
#include "lib/tex.h"
#include "log.h"
#include "ui/container.h"
#include "ui/gui_internal.h"
#include "ui/tooltip.h"

static const char kSrc[] = "src/ui/gui_draw";
static constexpr int kSavedStep = 128;
static constexpr colour kGripColour = 0xffc8c8c8;

// The drag label's box where it was last drawn, and before that (w 0: none).
static struct {
  rect cur, prev;
} L;

// Frames that ended with a GL error pending.
static int64_t frame_errors;

int64_t gui_frame_gl_errors(void) { return frame_errors; }

// After a frame every error the frame left is drained; a frame with any
// counts once. A release build only notes that the errors were ignored; a
// debug build names each one, as a drawing fault to be mended.
static void check_frame_errors() {
  bool any = false;
  for (int i = 0; i < 16; i++) {
    GLenum e = gl->GetError();
    if (e == GL_NO_ERROR) break;
    any = true;
#ifndef NDEBUG
    log(LOG_ERROR, kSrc, "glerror: %x after a frame", e);
#endif
  }
  if (!any) return;
  frame_errors++;
#ifdef NDEBUG
  log(LOG_WARN, kSrc, "gfx errors ignored");
#endif
}

int gui_draw_init(void) {
  if (G.saved) return 0;
  G.saved = (gui_update *)malloc(kSavedStep * sizeof(gui_update));
  if (!G.saved) return -1;
  G.saved_cap = kSavedStep;
  G.saved_count = 0;
  return 0;
}

void gui_draw_fini(void) {
  free(G.saved);
  G.saved = nullptr;
  G.saved_cap = G.saved_count = 0;
  free(G.owner_map);
  G.owner_map = nullptr;
  G.owner_cap = 0;
}

static void check(const char *name) {
  GLenum e = gl->GetError();
  if (e != GL_NO_ERROR) log(LOG_ERROR, kSrc, "glerror: %x in gl%s", e, name);
}

// The fixed GL state every drawing routine starts from.
static void reset_gl_state(gui_win *w) {
  static const struct {
    GLenum cap;
    const char *name;
  } kOff[] = {
      {GL_ALPHA_TEST, "Disable"},     {GL_DEPTH_TEST, "Disable"},    {GL_STENCIL_TEST, "Disable"},
      {GL_DITHER, "Disable"},         {GL_FOG, "Disable"},           {GL_LIGHTING, "Disable"},
      {GL_COLOR_LOGIC_OP, "Disable"}, {GL_COLOR_MATERIAL, "Disable"}, {GL_TEXTURE_1D, "Disable"},
      {GL_TEXTURE_2D, "Disable"},     {GL_TEXTURE_3D, "Disable"},    {GL_MULTISAMPLE, "Disable"},
      {GL_CULL_FACE, "Disable"},      {GL_SCISSOR_TEST, "Disable"},  {GL_LINE_SMOOTH, "Disable"},
      {GL_POINT_SMOOTH, "Disable"},   {GL_POLYGON_SMOOTH, "Disable"},
  };
  for (const auto &c : kOff) {
    gl->Disable(c.cap);
    check(c.name);
  }
  gl->Enable(GL_BLEND);
  check("Enable");
  gl->BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  check("BlendFunc");
  gl->ShadeModel(GL_FLAT);
  check("ShadeModel");
  gl->DepthMask(GL_FALSE);
  check("DepthMask");
  gl->Hint(GL_PERSPECTIVE_CORRECTION_HINT, GL_FASTEST);
  check("Hint");
  gl->LineWidth(1);
  check("LineWidth");
  gl->PixelStorei(GL_UNPACK_ALIGNMENT, 1);
  check("PixelStorei");
  gl->PixelTransferi(GL_MAP_COLOR, GL_FALSE);
  check("PixelTransferi");
  static const GLenum kScale[] = {GL_RED_SCALE, GL_GREEN_SCALE, GL_BLUE_SCALE, GL_ALPHA_SCALE};
  static const GLenum kBias[] = {GL_RED_BIAS, GL_GREEN_BIAS, GL_BLUE_BIAS, GL_ALPHA_BIAS};
  for (GLenum s : kScale) {
    gl->PixelTransferf(s, 1.0f);
    check("PixelTransferf");
  }
  for (GLenum b : kBias) {
    gl->PixelTransferf(b, 0.0f);
    check("PixelTransferf");
  }
  gl->ClearColor(0, 0, 0, 1);
  check("ClearColor");
  int index = (int)(w - G.wins);
  tex_context_new(index);  // the atlas is uploaded when the context is selected
  gl->Viewport(0, 0, w->frame.w, w->frame.h);
  check("Viewport");
  gl->Clear(GL_COLOR_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
  check("Clear");
  gfx_reset();
  if (w->root) (w->root)->cls->restyle(w->root);
}

static void save(const gui_update &u) {
  if (G.saved_count >= G.saved_cap) {
    log(LOG_FATAL, kSrc, "maxsaved exceeded");
    return;
  }
  G.saved[G.saved_count++] = u;
}

static void draw_entry(const gui_update &u) {
  widget *w = u.w;
  if (w && widget_is_shown(w) && w->r.w >= 1 && w->r.h >= 1) {
    widget_draw(w);
    save(u);
  }
  if (w) w->flags &= ~WIDGET_DIRTY;
}

// Owner map over `area` of window `w`: the widget that shows at each pixel.
static void claim(widget *x, const rect &a) {
  if (!widget_is_shown(x)) return;
  int32_t x0 = std::max(x->r.x, a.x), y0 = std::max(x->r.y, a.y);
  int32_t x1 = std::min(x->r.x + x->r.w, a.x + a.w), y1 = std::min(x->r.y + x->r.h, a.y + a.h);
  if (x0 >= x1 || y0 >= y1) return;
  bool pass = object_is_a(widget_obj(x), container_type()) &&
              container_get_bg((container *)x) == 0;
  if (!pass) {
    for (int32_t y = y0; y < y1; y++)
      for (int32_t xx = x0; xx < x1; xx++) {
        widget *&cell = G.owner_map[(int64_t)(y - a.y) * a.w + (xx - a.x)];
        if (!cell || cell->level <= x->level) cell = x;
      }
  }
  int n = (x)->cls->child_count(x);
  for (int i = 0; i < n; i++)
    if (widget *c = (x)->cls->get_child(x, i)) claim(c, a);
}

int gui_queue_owners(int index, const rect *area) {
  gui_win *w = gui_window_record(index);
  if (!w || !w->root || area->w < 1 || area->h < 1) return 0;
  int64_t cells = (int64_t)area->w * area->h;
  if (cells > G.owner_cap) {
    int64_t cap = cells * 2;
    auto *grown = (widget **)realloc(G.owner_map, (size_t)cap * sizeof(widget *));
    if (!grown) {
      log(LOG_WARN, kSrc, "can't alloc space for %d area lines", (int)(cap / area->w));
      free(G.owner_map);
      G.owner_map = nullptr;
      G.owner_cap = 0;
      gui_invalidate_window(-1);
      return -1;
    }
    G.owner_map = grown;
    G.owner_cap = cap;
  }
  memset(G.owner_map, 0, (size_t)cells * sizeof(widget *));
  claim(w->root, *area);
  int queued = 0;
  for (int64_t i = 0; i < cells; i++) {
    widget *o = G.owner_map[i];
    if (!o) continue;
    while (o->parent && (o->flags & WIDGET_TRANSPARENT)) {
      o->flags |= WIDGET_DIRTY;
      o = o->parent;
    }
    if (o->flags & WIDGET_DIRTY) continue;
    gui_queue_update(o, &o->r, nullptr, 0);
    o->flags |= WIDGET_REPEAT;
    queued++;
  }
  return queued;
}

int gui_draw_window(int index) {
  gui_win *w = gui_window_record(index);
  if (!w || !w->in_use) return 0;
  if (w->frame.w < 0 || w->frame.h < 0) {
    log(LOG_ERROR, kSrc, "ignoring %dx%d window", w->frame.w, w->frame.h);
    return 0;
  }
  int locked = 0;
  if (w->reset) {
    if (gui_plat_lock(&w->plat) != 0) return 0;
    locked = 1;
    while (gl->GetError() != GL_NO_ERROR) {
    }
    log(LOG_WARN, kSrc, "resetting window %d %dx%d", index, w->frame.w, w->frame.h);
    tex_context_forget(index);
    splash_forget_window(index);
    reset_gl_state(w);
  }
  widget *root = w->root;
  if (!w->needs_draw || w->state == 1 || !root || root->r.w < 1 || root->r.h < 1) {
    w->reset = 0;
    if (locked) gui_plat_unlock(&w->plat);
    return 0;
  }
  w->reset = 0;
  // A driver that leaves the back buffer undefined after a swap gets every
  // frame in full; the queue still decides when a frame is drawn.
  if (!w->plat.back_kept) w->full_redraw = 1;
  // The widgets under the drag label's last box (and the one before) are
  // drawn again, so the label leaves no trail where it moved from.
  if (!gui_drag_label_showing()) L = {};
  if (gui_drag_label_showing() && L.cur.w > 0) {
    rect a = L.cur;
    if (L.prev.w > 0) {
      int32_t x0 = std::min(a.x, L.prev.x), y0 = std::min(a.y, L.prev.y);
      int32_t x1 = std::max(a.x + a.w, L.prev.x + L.prev.w);
      int32_t y1 = std::max(a.y + a.h, L.prev.y + L.prev.h);
      a = {x0, y0, x1 - x0, y1 - y0};
    }
    if (!w->full_redraw) gui_queue_owners(index, &a);
  }
  if (G.saved_cap < w->update_cap) {
    int cap = (w->update_cap + kSavedStep - 1) / kSavedStep * kSavedStep;
    auto *grown = (gui_update *)realloc(G.saved, (size_t)cap * sizeof(gui_update));
    if (!grown) {
      log(LOG_ERROR, kSrc, "can't save %d", cap);
    } else {
      G.saved = grown;
      G.saved_cap = cap;
    }
  }
  int can_repeat = G.saved_cap >= w->update_cap;
  G.saved_count = 0;
  gui_make_current(index);
  if (!locked && gui_plat_lock(&w->plat) != 0) return 0;

  gl->MatrixMode(GL_PROJECTION);
  gl->LoadIdentity();
  gl->Ortho(0, root->r.w, root->r.h, 0, 0, 1);
  gl->MatrixMode(GL_MODELVIEW);
  gl->LoadIdentity();
  if (G.resize_marker) gl->Viewport(0, 0, root->r.w, root->r.h);
  if (G.render_option) gl->Translatef(0.5f, 0.5f, 0);
  gfx_set_viewport(w->frame.w, w->frame.h);
  tex_select_context(index);
  container_reset_bg_cache();

  int drawn;
  if (!w->full_redraw) {
    int n = w->update_count;
    if (n == 1) {
      draw_entry(w->updates[0]);
      drawn = 1;
    } else {
      // Stable: equal levels keep their queue order; forgotten entries last.
      std::stable_sort(w->updates, w->updates + n, [](const gui_update &a, const gui_update &b) {
        if (!a.w || !b.w) return a.w && !b.w;
        return a.w->level < b.w->level;
      });
      for (int i = 0; i < n; i++) {
        const gui_update &u = w->updates[i];
        if (u.w && (u.w->flags & WIDGET_DIRTY)) draw_entry(u);
      }
      drawn = n;
    }
    gui_stats.widgets += G.saved_count;
  } else {
    widget_draw(root);
    for (int i = 0; i < w->update_count; i++) {
      gui_update &u = w->updates[i];
      if (!u.w) continue;
      u.w->flags &= ~WIDGET_DIRTY;
      if (widget_is_shown(u.w) && u.w->r.w >= 1 && u.w->r.h >= 1) save(u);
    }
    w->full_redraw = 0;
    drawn = 1;
    gui_stats.full_frames++;
  }
  int32_t mx, my;
  if (gui_drag_label_showing() && gui_widget_mouse(root, &mx, &my)) {
    L.prev = L.cur;
    rect inner;
    if (tooltip_draw(mx, my, &inner) == 0) L.cur = tooltip_last_box();
  }

  if (!(w->flags & GUI_WIN_BORDERLESS)) {  // the resize grip, bottom right
    int32_t W = root->r.w, H = root->r.h;
    gfx_begin_lines(kGripColour);
    gfx_line(W - 9, H - 1, W - 1, H - 9);
    gfx_line(W - 6, H - 1, W - 1, H - 6);
    gfx_line(W - 3, H - 1, W - 1, H - 3);
    gfx_end_lines();
  }
  gfx_flush();
  gui_set_active(0);
  const int64_t swap0 = gui_now_us();
  gui_plat_swap(&w->plat);
  gui_stats.swap_us += gui_now_us() - swap0;
  gui_set_active(1);
  gui_stats.frames++;

  G.current = -1;
  w->update_count = 0;
  w->needs_draw = 0;
  if (w->extra_full_redraws > 0) {
    w->extra_full_redraws--;
    w->needs_draw = w->full_redraw = 1;
  }
  if (can_repeat) {
    for (int i = 0; i < G.saved_count; i++) {
      gui_update &u = G.saved[i];
      if (u.w && !(u.w->flags & WIDGET_REPEAT)) widget_redraw_rect(u.w, &u.r, u.fn, u.n);
    }
    for (int i = 0; i < w->update_count; i++)
      if (w->updates[i].w) w->updates[i].w->flags |= WIDGET_REPEAT;
  }
  check_frame_errors();
  return drawn;
}
