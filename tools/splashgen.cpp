// Writes the splash picture of the program (the "SPLASH" file of the
// program folder): width and height as big-endian 16-bit numbers, then RGBA
// pixels, top row first. The picture is computed, so the build needs no
// image file: a dark vertical gradient, the market's green and red as two
// bands, and a light frame.
//
//   ambit-splashgen <output path>
#include <cstdint>
#include <cstdio>
#include <vector>

static constexpr int kWidth = 600, kHeight = 340;

// The colour of one pixel (r, g, b); the tests sample this same rule.
static void pixel(int x, int y, uint8_t *out) {
  uint8_t r, g, b;
  if (x < 4 || y < 4 || x >= kWidth - 4 || y >= kHeight - 4) {
    r = g = b = 0xf0;                              // the frame
  } else if (y >= 250 && y < 262) {
    r = 0x27, g = 0xc6, b = 0x45;                  // green band
  } else if (y >= 266 && y < 278) {
    r = 0xd9, g = 0x43, b = 0x55;                  // red band
  } else {
    r = (uint8_t)(0x20 + y * 0x30 / kHeight);      // gradient, darker at the top
    g = (uint8_t)(0x20 + y * 0x30 / kHeight);
    b = (uint8_t)(0x28 + x * 0x40 / kWidth);
  }
  out[0] = r;
  out[1] = g;
  out[2] = b;
  out[3] = 0xff;
}

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s <output>\n", argv[0]);
    return 2;
  }
  std::vector<uint8_t> data(4 + (size_t)kWidth * kHeight * 4);
  data[0] = kWidth >> 8;
  data[1] = kWidth & 0xff;
  data[2] = kHeight >> 8;
  data[3] = kHeight & 0xff;
  for (int y = 0; y < kHeight; y++)
    for (int x = 0; x < kWidth; x++) pixel(x, y, &data[4 + ((size_t)y * kWidth + x) * 4]);
  FILE *f = fopen(argv[1], "wb");
  if (!f || fwrite(data.data(), 1, data.size(), f) != data.size() || fclose(f) != 0) {
    fprintf(stderr, "can't write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
