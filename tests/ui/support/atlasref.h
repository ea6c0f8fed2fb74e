// Test support for the texture atlas and fonts: FreeType's own rendering of
// the DejaVu face each atlas font is made from (the independent reference
// the atlas is checked against), and a pixel-test fixture whose window
// context holds the uploaded atlas.
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H

#include "pixeltest.h"

// The face and pixel size atlas font `font` is made from (0-20).
struct atlasref_face {
  const char *file;
  int px;
};
atlasref_face atlasref_face_of(int font);

// A FreeType face set to the size of atlas font `font`.
class FontRef {
 public:
  explicit FontRef(int font);
  ~FontRef();
  FontRef(const FontRef &) = delete;
  FontRef &operator=(const FontRef &) = delete;
  bool ok() const { return ok_; }
  FT_Face face() const { return face_; }
  // Loads and renders c; null on failure.
  FT_GlyphSlot render(int c);
  int advance(int c);        // rounded to pixels
  int digit_advance();       // the widest digit's
  int ascent() const;
  int descent() const;

 private:
  FT_Library lib_ = nullptr;
  FT_Face face_ = nullptr;
  bool ok_ = false;
};

// Pixel tests over the built-in atlas: the suite loads it and makes its
// texture in the window's context (0); each test starts from gfx_reset with
// the viewport set and context 0 selected.
class AtlasPixelTest : public PixelTest {
 public:
  static void SetUpTestSuite();
  static void TearDownTestSuite();

 protected:
  void SetUp() override;
};
