// Colour arithmetic, one channel at a time.
#include "lib/colour.h"

static colour map_rgb(colour c, int n) {
  colour out = c & 0xff000000u;
  for (int shift = 0; shift < 24; shift += 8) {
    int v = (int)((c >> shift) & 0xff) + n;
    v = v < 0 ? 0 : v > 255 ? 255 : v;
    out |= (colour)v << shift;
  }
  return out;
}

colour colour_lighten(colour c, int n) { return map_rgb(c, n); }
colour colour_darken(colour c, int n) { return map_rgb(c, -n); }

colour colour_blend(colour a, colour b, int p) {
  colour out = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    uint32_t x = (a >> shift) & 0xff, y = (b >> shift) & 0xff;
    out |= ((x * (uint32_t)p + y * (uint32_t)(100 - p)) / 100) << shift;
  }
  return out;
}
