// Test support: what the application main starts for drawing before any
// screen or window exists (the texture atlas, fades, drawing lists and a
// visual style), and its stop. Header-only: only tests that link the
// application's styles include it.
#pragma once
#include <gtest/gtest.h>

#include "lib/fade.h"
#include "lib/gmap.h"
#include "lib/tex.h"
#include "style.h"

inline ::testing::AssertionResult drawstart_up() {
  tex_init();
  if (tex_load_builtin() != 0) return ::testing::AssertionFailure() << "no built-in atlas";
  if (fade_init() != 0) return ::testing::AssertionFailure() << "fade_init";
  if (gmap_init(kGmapBudget) != 0) return ::testing::AssertionFailure() << "gmap_init";
  if (style_init() != 0 || style_select(0) != 0) return ::testing::AssertionFailure() << "no style";
  return ::testing::AssertionSuccess();
}

inline void drawstart_down() {
  style_fini();
  gmap_fini();
  fade_fini();
  tex_fini();
}
