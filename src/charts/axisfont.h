// The chart axes' text measuring on the toolkit's font atlas: a chart font
// and its small value font (where 'a'..'j' are raised small digits).
#pragma once
#include <cstdint>

#include "charts/axislist.h"

// Measures through font_text_size; line heights are ascent + descent.
chart_fonts axisfont_atlas(int32_t font, int32_t small_font);
