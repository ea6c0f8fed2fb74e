// Arithmetic on colours (u32 RGBA, red in the low byte): lighten, darken
// and blend, as styles and highlights use them.
#pragma once
#include <cstdint>

#include "lib/gfx.h"  // colour

// Adds n to red, green and blue, each capped at 255; alpha kept.
colour colour_lighten(colour c, int n);
// Subtracts n from red, green and blue, each floored at 0; alpha kept.
colour colour_darken(colour c, int n);
// Each channel (a * p + b * (100 - p)) / 100, truncated; p is the share of a.
colour colour_blend(colour a, colour b, int p);
