// The atlas's reference fonts through FreeType, and the atlas pixel fixture.
#include "atlasref.h"

#include <algorithm>
#include <string>

#include "lib/gfx.h"
#include "lib/tex.h"

atlasref_face atlasref_face_of(int font) {
  static const atlasref_face kFaces[21] = {
      {"DejaVuSans.ttf", 9},                 {"DejaVuSans.ttf", 10},
      {"DejaVuSansMono.ttf", 12},            {"DejaVuSansMono-Bold.ttf", 12},
      {"DejaVuSans.ttf", 11},                {"DejaVuSansCondensed.ttf", 11},
      {"DejaVuSans.ttf", 12},                {"DejaVuSansCondensed.ttf", 12},
      {"DejaVuSans.ttf", 13},                {"DejaVuSans.ttf", 14},
      {"DejaVuSansCondensed.ttf", 14},       {"DejaVuSans.ttf", 16},
      {"DejaVuSansCondensed.ttf", 16},       {"DejaVuSansCondensed-Bold.ttf", 9},
      {"DejaVuSansCondensed-Bold.ttf", 10},  {"DejaVuSansCondensed-Bold.ttf", 11},
      {"DejaVuSansCondensed-Bold.ttf", 12},  {"DejaVuSansCondensed-Bold.ttf", 14},
      {"DejaVuSans-Bold.ttf", 18},           {"DejaVuSans-Bold.ttf", 22},
      {"DejaVuSans-Bold.ttf", 28},
  };
  return (font >= 0 && font < 21) ? kFaces[font] : atlasref_face{"", 0};
}

FontRef::FontRef(int font) {
  atlasref_face f = atlasref_face_of(font);
  std::string path = std::string(AMBIT_FONT_DIR) + "/" + f.file;
  ok_ = f.px > 0 && FT_Init_FreeType(&lib_) == 0 && FT_New_Face(lib_, path.c_str(), 0, &face_) == 0 &&
        FT_Set_Pixel_Sizes(face_, 0, FT_UInt(f.px)) == 0;
}

FontRef::~FontRef() {
  if (face_) FT_Done_Face(face_);
  if (lib_) FT_Done_FreeType(lib_);
}

FT_GlyphSlot FontRef::render(int c) {
  return FT_Load_Char(face_, FT_ULong(c), FT_LOAD_RENDER) == 0 ? face_->glyph : nullptr;
}

int FontRef::advance(int c) {
  if (FT_Load_Char(face_, FT_ULong(c), FT_LOAD_DEFAULT) != 0) return -1;
  return int((face_->glyph->advance.x + 32) >> 6);
}

int FontRef::digit_advance() {
  int w = 0;
  for (int c = '0'; c <= '9'; c++) w = std::max(w, advance(c));
  return w;
}

int FontRef::ascent() const { return int(face_->size->metrics.ascender >> 6); }
int FontRef::descent() const { return int(-(face_->size->metrics.descender >> 6)); }

void AtlasPixelTest::SetUpTestSuite() {
  PixelTest::SetUpTestSuite();
  tex_init();
  ASSERT_EQ(tex_load_builtin(), 0);
  tex_context_new(0);
}

void AtlasPixelTest::TearDownTestSuite() {
  tex_context_forget(0);
  tex_fini();
  PixelTest::TearDownTestSuite();
}

void AtlasPixelTest::SetUp() {
  PixelTest::SetUp();
  gfx_reset();
  gfx_set_viewport(kWidth, kHeight);
  tex_select_context(0);
}
