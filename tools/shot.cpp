// Writes what an X display shows as a PNG file: the whole root window, or
// one window by id, read with XGetImage and written as 8-bit RGB. `./run
// --headless` uses it for its picture of the signed-on screen.
//
//   ambit-shot [--display NAME] [--window ID] OUTPUT.png
//
// Exit status 0 when the file was written, 1 when the display, the window
// or the file could not be had, 2 for a bad command line.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <png.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

int usage(const char *prog) {
  fprintf(stderr, "usage: %s [--display NAME] [--window ID] OUTPUT.png\n", prog);
  return 2;
}

// The position of a mask's lowest set bit and its width, for the visual's
// colour channels.
void mask_shift(unsigned long mask, int *shift, int *bits) {
  *shift = 0;
  *bits = 0;
  if (!mask) return;
  while (!(mask & 1)) {
    mask >>= 1;
    ++*shift;
  }
  while (mask & 1) {
    mask >>= 1;
    ++*bits;
  }
}

uint8_t channel(unsigned long pixel, unsigned long mask) {
  int shift, bits;
  mask_shift(mask, &shift, &bits);
  if (bits == 0) return 0;
  const unsigned long v = (pixel & mask) >> shift;
  const unsigned long top = (1ul << bits) - 1;
  return static_cast<uint8_t>(v * 255 / top);
}

int write_png(const char *path, const std::vector<uint8_t> &rgb, int w, int h) {
  FILE *f = fopen(path, "wb");
  if (!f) {
    perror(path);
    return -1;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, info ? &info : nullptr);
    fclose(f);
    fprintf(stderr, "%s: can't write the PNG\n", path);
    return -1;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, 9);
  png_write_info(png, info);
  for (int y = 0; y < h; y++) png_write_row(png, const_cast<png_bytep>(rgb.data() + static_cast<size_t>(y) * w * 3));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  if (fclose(f) != 0) {
    perror(path);
    return -1;
  }
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  const char *display_name = nullptr, *out = nullptr;
  unsigned long window_id = 0;
  for (int i = 1; i < argc; i++) {
    if (!strcmp(argv[i], "--display") && i + 1 < argc) {
      display_name = argv[++i];
    } else if (!strcmp(argv[i], "--window") && i + 1 < argc) {
      char *end = nullptr;
      window_id = strtoul(argv[++i], &end, 0);
      if (!end || *end || window_id == 0) return usage(argv[0]);
    } else if (argv[i][0] == '-' || out) {
      return usage(argv[0]);
    } else {
      out = argv[i];
    }
  }
  if (!out) return usage(argv[0]);
  Display *d = XOpenDisplay(display_name);
  if (!d) {
    fprintf(stderr, "ambit-shot: can't open display %s\n", display_name ? display_name : "(DISPLAY)");
    return 1;
  }
  const Window win = window_id ? static_cast<Window>(window_id) : DefaultRootWindow(d);
  XWindowAttributes attr;
  if (!XGetWindowAttributes(d, win, &attr) || attr.width < 1 || attr.height < 1) {
    fprintf(stderr, "ambit-shot: no window 0x%lx\n", static_cast<unsigned long>(win));
    XCloseDisplay(d);
    return 1;
  }
  XImage *img = XGetImage(d, win, 0, 0, static_cast<unsigned>(attr.width), static_cast<unsigned>(attr.height),
                          AllPlanes, ZPixmap);
  if (!img) {
    fprintf(stderr, "ambit-shot: can't read the window's pixels\n");
    XCloseDisplay(d);
    return 1;
  }
  const int w = attr.width, h = attr.height;
  std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
  for (int y = 0; y < h; y++) {
    for (int x = 0; x < w; x++) {
      const unsigned long p = XGetPixel(img, x, y);
      uint8_t *o = &rgb[(static_cast<size_t>(y) * w + x) * 3];
      o[0] = channel(p, img->red_mask);
      o[1] = channel(p, img->green_mask);
      o[2] = channel(p, img->blue_mask);
    }
  }
  XDestroyImage(img);
  XCloseDisplay(d);
  if (write_png(out, rgb, w, h) < 0) return 1;
  printf("%s %dx%d\n", out, w, h);
  return 0;
}
