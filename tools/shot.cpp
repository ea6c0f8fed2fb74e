// ambit-shot: saves what an X server shows as a PNG file -- the whole root
// window, or one window by id -- for the screen tour (scripts/tour.sh),
// which looks at the terminal under Xvfb without any other image tools.
// Usage: ambit-shot OUT.png [WINDOW_ID]   (the display from $DISPLAY)
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

static int write_png(const char *path, const std::vector<unsigned char> &rgba, int w, int h) {
  FILE *f = fopen(path, "wb");
  if (!f) return -1;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    fclose(f);
    return -1;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, png_uint_32(w), png_uint_32(h), 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < h; y++) png_write_row(png, &rgba[size_t(y) * size_t(w) * 4]);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return fclose(f) == 0 ? 0 : -1;
}

int main(int argc, char **argv) {
  if (argc < 2 || argc > 3) {
    fprintf(stderr, "usage: %s OUT.png [WINDOW_ID]\n", argv[0]);
    return 2;
  }
  Display *d = XOpenDisplay(nullptr);
  if (!d) {
    fprintf(stderr, "ambit-shot: can't open the display\n");
    return 1;
  }
  Window win = argc == 3 ? Window(strtoul(argv[2], nullptr, 0)) : DefaultRootWindow(d);
  XWindowAttributes a;
  if (!XGetWindowAttributes(d, win, &a)) {
    fprintf(stderr, "ambit-shot: no window %s\n", argv[2]);
    return 1;
  }
  XImage *img = XGetImage(d, win, 0, 0, unsigned(a.width), unsigned(a.height), AllPlanes, ZPixmap);
  if (!img) {
    fprintf(stderr, "ambit-shot: can't read the window's pixels\n");
    return 1;
  }
  std::vector<unsigned char> rgba(size_t(a.width) * size_t(a.height) * 4);
  for (int y = 0; y < a.height; y++)
    for (int x = 0; x < a.width; x++) {
      unsigned long p = XGetPixel(img, x, y);
      unsigned char *o = &rgba[(size_t(y) * size_t(a.width) + size_t(x)) * 4];
      o[0] = (unsigned char)(p >> 16);
      o[1] = (unsigned char)(p >> 8);
      o[2] = (unsigned char)p;
      o[3] = 255;
    }
  XDestroyImage(img);
  XCloseDisplay(d);
  if (write_png(argv[1], rgba, a.width, a.height) != 0) {
    fprintf(stderr, "ambit-shot: can't write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
