// The program's process shell and desktop services on Linux. launch_main
// runs the application main synchronously (the frame loop pumps events
// itself), so the whole program runs inside it. The services use SDL for
// text clipboard and message boxes, libpng and our Xlib clipboard module
// for images, poppler for PDF pages and `xdg-open` for files and links.
//
// Opening is the one place where text from outside (a news item's link, a
// downloaded document) reaches another program, so it is narrowed to web
// and mail links and to files of our own data tree, and the opener runs
// detached (double fork) so that a slow browser never holds the frame loop.
#include "ui/launch-linux.h"

#include <SDL2/SDL.h>
#include <png.h>
#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-image.h>
#include <poppler/cpp/poppler-page-renderer.h>
#include <poppler/cpp/poppler-page.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "lib/tex.h"
#include "localdata.h"
#include "log.h"
#include "ui/x11clip.h"

static const char kSrc[] = "src/ui/launch-linux";
static constexpr int kUrlMax = 4095;
static constexpr int kAlertTextMax = 4096;

static int xdg_open(const char *target);

static struct {
  int argc;
  char **argv;
  int result;
  launch_opener_fn opener = xdg_open;
  int alert_log;
  char version[64], build[64], notice[512];
} st;

// ---- process ----

void launch_thread_trampoline(plat_thread_fn fn, void *arg) { fn(arg); }

void launch_main(int argc, char **argv, launch_app_main_fn app_main) {
  plat_set_thread_wrapper(launch_thread_trampoline);
  if (!app_main) return;
  st.argc = argc;
  st.argv = (char **)calloc((size_t)argc + 1, sizeof(char *));
  for (int i = 0; i < argc; i++) st.argv[i] = strdup(argv[i]);
  st.result = app_main(st.argc, st.argv);
}

int launch_cleanup(void) {
  if (st.argv) {
    for (int i = 0; i < st.argc; i++) free(st.argv[i]);
    free(st.argv);
  }
  st.argv = nullptr;
  st.argc = 0;
  if (SDL_WasInit(0)) SDL_Quit();
  int r = st.result;
  st.result = 0;
  return r;
}

char **launch_argv(void) { return st.argv; }

// ---- clipboard ----

int launch_clipboard_get(char *buffer, uint32_t *size) {
  if (!SDL_WasInit(SDL_INIT_VIDEO) || !SDL_HasClipboardText()) {
    *size = 0;
    return -1;
  }
  char *text = SDL_GetClipboardText();
  if (!text || !*text) {
    SDL_free(text);
    *size = 0;
    return -1;
  }
  // UTF-8 to ASCII: every character outside ASCII becomes one '?'.
  std::string ascii;
  for (const unsigned char *p = (const unsigned char *)text; *p; p++) {
    if (*p < 0x80)
      ascii += (char)*p;
    else if ((*p & 0xC0) != 0x80)
      ascii += '?';
  }
  SDL_free(text);
  uint32_t need = (uint32_t)ascii.size() + 1;
  int fits = need <= *size && buffer;
  if (fits) memcpy(buffer, ascii.c_str(), need);
  *size = need;
  return fits ? 0 : -1;
}

int launch_clipboard_set(const char *text) {
  if (!SDL_WasInit(SDL_INIT_VIDEO) || SDL_SetClipboardText(text ? text : "") != 0) {
    log(LOG_ERROR, kSrc, "can't set clipboard text");
    return -1;
  }
  return 0;
}

static void png_append(png_structp png, png_bytep data, png_size_t n) {
  auto *out = (std::vector<uint8_t> *)png_get_io_ptr(png);
  out->insert(out->end(), data, data + n);
}

static int encode_png(const uint8_t *rgba, int32_t w, int32_t h, std::vector<uint8_t> *out) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return -1;
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, info ? &info : nullptr);
    return -1;
  }
  png_set_write_fn(png, out, png_append, nullptr);
  png_set_IHDR(png, info, (png_uint_32)w, (png_uint_32)h, 8, PNG_COLOR_TYPE_RGB_ALPHA,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int32_t y = 0; y < h; y++) png_write_row(png, (png_bytep)(rgba + (size_t)y * w * 4));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return 0;
}

int launch_clipboard_set_image(const uint8_t *rgba, int32_t w, int32_t h) {
  if (!rgba || w < 1 || h < 1 || (int64_t)w * h > (int64_t)INT32_MAX / 4) return 1;
  std::vector<uint8_t> png;
  if (encode_png(rgba, w, h, &png) != 0) {
    log(LOG_ERROR, kSrc, "can't encode %dx%d image", w, h);
    return 1;
  }
  return x11clip_set_png(png.data(), png.size()) == 0 ? 0 : 1;
}

// ---- opening ----

// Runs `xdg-open target` detached: the child forks the opener and exits at
// once, so the only wait is for that short-lived child.
static int xdg_open(const char *target) {
  pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    pid_t grandchild = fork();
    if (grandchild == 0) {
      execlp("xdg-open", "xdg-open", target, (char *)nullptr);
      _exit(127);
    }
    _exit(grandchild < 0 ? 1 : 0);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : -1;
}

launch_opener_fn launch_set_opener(launch_opener_fn fn) {
  launch_opener_fn old = st.opener;
  st.opener = fn ? fn : xdg_open;
  return old;
}

// A file may be opened when its real path lies inside the data tree.
static int file_allowed(const char *path, std::string *real) {
  char root[PATH_MAX], rroot[PATH_MAX], rpath[PATH_MAX];
  if (!path || !*path || !localdata_ready()) return 0;
  if (localdata_path_into(root, 0, nullptr) != 0) return 0;
  if (!realpath(root, rroot) || !realpath(path, rpath)) return 0;
  size_t n = strlen(rroot);
  if (strncmp(rpath, rroot, n) != 0 || rpath[n] != '/') return 0;
  *real = rpath;
  return 1;
}

int launch_open_file(const char *path) {
  std::string real;
  if (!file_allowed(path, &real) || st.opener(real.c_str()) != 0) {
    errno = errno ? errno : EACCES;
    log(LOG_OSERR, kSrc, "can't open file");
    return -1;
  }
  return 0;
}

static int scheme_is(const char *text, const char *scheme) {
  return strncasecmp(text, scheme, strlen(scheme)) == 0;
}

// Web links only: a scheme the desktop would hand to another kind of
// program (file manager, terminal, custom handlers) is refused. Control
// characters and spaces are refused as well: a link is one token.
static int url_allowed(const char *url) {
  if (!scheme_is(url, "http://") && !scheme_is(url, "https://") && !scheme_is(url, "mailto:"))
    return 0;
  for (const unsigned char *p = (const unsigned char *)url; *p; p++)
    if (*p <= ' ' || *p == 0x7f) return 0;
  return 1;
}

static int open_link(const char *url) {
  if (!url_allowed(url) || st.opener(url) != 0) {
    errno = errno ? errno : EACCES;
    log(LOG_OSERR, kSrc, "can't open url");
    return -1;
  }
  return 0;
}

int launch_open_url(const char *text) {
  if (!text) return -1;
  if (scheme_is(text, "file://")) return launch_open_file(text + 7);
  if (strstr(text, "://")) return open_link(text);
  char url[kUrlMax + 1];
  if (snprintf(url, sizeof url, "http://%s", text) >= (int)sizeof url) {
    log(LOG_ERROR, kSrc, "can't open url");  // longer than a link can be
    return -1;
  }
  return open_link(url);
}

int launch_mailto(const char *address) {
  if (!address) return -1;
  char url[kUrlMax + 1];
  if (snprintf(url, sizeof url, "mailto:%s", address) >= (int)sizeof url) {
    log(LOG_ERROR, kSrc, "can't open url");
    return -1;
  }
  return open_link(url);
}

// ---- alerts and About ----

void launch_set_alert_log(int on) { st.alert_log = on; }

int launch_alert(const char *message, const char *title, const char *text, uint32_t flags) {
  char body[kAlertTextMax];
  const char *a = title ? title : "", *b = text ? text : "";
  if (*a && *b)
    snprintf(body, sizeof body, "%s\n\n%s", a, b);
  else
    snprintf(body, sizeof body, "%s", *a ? a : b);
  const char *head = message ? message : "";
  int critical = (flags & 3) != 0;
  if (st.alert_log) {
    log(LOG_INFO, kSrc, "alert: %s %s: %s", critical ? "critical" : "info", head, body);
    return 1;
  }
  SDL_MessageBoxButtonData ok = {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT |
                                     SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT,
                                 1, "OK"};
  SDL_MessageBoxData box = {};
  box.flags = critical ? SDL_MESSAGEBOX_ERROR : SDL_MESSAGEBOX_INFORMATION;
  box.title = head;
  box.message = body;
  box.numbuttons = 1;
  box.buttons = &ok;
  int pressed = 0;
  if (SDL_ShowMessageBox(&box, &pressed) != 0) {
    // No display: the text must not be lost.
    log(LOG_WARN, kSrc, "can't show alert (%s): %s: %s", SDL_GetError(), head, body);
    return 0;
  }
  return pressed == 1 ? 1 : 0;
}

void launch_set_about(const char *version, const char *build, const char *notice) {
  snprintf(st.version, sizeof st.version, "%s", version ? version : "");
  snprintf(st.build, sizeof st.build, "%s", build ? build : "");
  snprintf(st.notice, sizeof st.notice, "%s", notice ? notice : "");
}

// The text of an HTML file, tags dropped and white space folded, at most
// `max` bytes of it read.
static std::string html_text(const char *path, size_t max) {
  std::string out;
  FILE *f = fopen(path, "rb");
  if (!f) return out;
  int c, in_tag = 0, space = 0;
  size_t n = 0;
  while (n++ < max && (c = fgetc(f)) != EOF) {
    if (c == '<') in_tag = 1;
    if (in_tag) {
      if (c == '>') in_tag = 0;
      space = 1;
      continue;
    }
    if (c == ' ' || c == '\n' || c == '\r' || c == '\t') {
      space = 1;
      continue;
    }
    if (space && !out.empty()) out += ' ';
    space = 0;
    out += (char)c;
  }
  fclose(f);
  return out;
}

void launch_about(const char *app_name) {
  char head[128], text[1024], dir[1024];
  snprintf(head, sizeof head, "About %s", app_name ? app_name : "");
  snprintf(text, sizeof text, "Version %s (%s)", st.version, st.build);
  std::string body = st.notice;
  if (launch_resources_dir(dir) == 0) {
    std::string credits = html_text((std::string(dir) + "/Credits.html").c_str(), 2048);
    if (!credits.empty()) body += (body.empty() ? "" : "\n\n") + credits;
  }
  launch_alert(head, text, body.c_str(), 0);
}

int launch_exe_path(char *buffer) {
  ssize_t n = readlink("/proc/self/exe", buffer, 1023);
  if (n <= 0) return -1;
  buffer[n] = 0;
  return 0;
}

int launch_resources_dir(char *buffer) {
  char exe[1024];
  if (launch_exe_path(exe) != 0) return -1;
  char *slash = strrchr(exe, '/');
  if (!slash) return -1;
  *slash = 0;
  int n = snprintf(buffer, 1024, "%s/Ambit.app/Contents/Resources", exe);
  return n > 0 && n < 1024 ? 0 : -1;
}

// ---- folders ----

int launch_find_bundle(char *buffer) {
  if (buffer) buffer[0] = 0;
  return -1;
}

int launch_app_support_dir(char *buffer) {
  std::string dir;
  const char *xdg = getenv("XDG_DATA_HOME");
  const char *home = getenv("HOME");
  if (xdg && xdg[0] == '/')
    dir = xdg;
  else if (home && home[0] == '/')
    dir = std::string(home) + "/.local/share";
  else
    return -1;
  if (dir.size() >= 1024) return -1;
  for (unsigned char c : dir)
    if (c >= 0x80) return -1;  // the data paths are ASCII
  memcpy(buffer, dir.c_str(), dir.size() + 1);
  return 0;
}

int help_load_textures(void) { return tex_load_builtin(); }

// ---- PDF pages ----

int launch_render_pdf_page(launch_pdf_job *job) {
  job->error = 1;
  job->bottom_up = 1;
  std::unique_ptr<poppler::document> doc(
      job->path ? poppler::document::load_from_file(job->path) : nullptr);
  if (!doc || doc->is_locked()) {
    job->page_count = 0;
    job->done = 1;
    return 0;
  }
  job->page_count = doc->pages();
  std::unique_ptr<poppler::page> page(
      job->page >= 0 && job->page < job->page_count ? doc->create_page(job->page) : nullptr);
  if (!page) {
    job->done = 1;
    return 0;
  }
  poppler::rectf box = page->page_rect(poppler::crop_box);
  job->page_w = (float)box.width();
  job->page_h = (float)box.height();
  if (job->pixels && job->width > 0 && job->height > 0 && box.width() > 0 && box.height() > 0) {
    int rot = job->rotation & 3;
    // The renderer's horizontal resolution scales the picture's x axis,
    // which is the page's height for a quarter turn.
    double across = (rot & 1) ? box.height() : box.width();
    double down = (rot & 1) ? box.width() : box.height();
    static const poppler::rotation_enum kRot[4] = {poppler::rotate_0, poppler::rotate_90,
                                                   poppler::rotate_180, poppler::rotate_270};
    poppler::page_renderer r;
    r.set_paper_color(0xffffffff);
    r.set_render_hint(poppler::page_renderer::antialiasing, true);
    r.set_render_hint(poppler::page_renderer::text_antialiasing, true);
    r.set_image_format(poppler::image::format_argb32);
    poppler::image img = r.render_page(page.get(), 72.0 * job->width / across,
                                       72.0 * job->height / down, 0, 0, job->width, job->height,
                                       kRot[rot]);
    if (!img.is_valid()) {
      job->done = 1;
      return 0;
    }
    memset(job->pixels, 0xff, (size_t)job->width * job->height * 4);
    int w = img.width() < job->width ? img.width() : job->width;
    int h = img.height() < job->height ? img.height() : job->height;
    const char *src = img.const_data();
    for (int y = 0; y < h; y++) {
      // argb32 is stored as B, G, R, A in memory on this little-endian host.
      const uint8_t *s = (const uint8_t *)src + (size_t)y * img.bytes_per_row();
      uint8_t *d = job->pixels + (size_t)(job->height - 1 - y) * job->width * 4;
      for (int x = 0; x < w; x++, s += 4, d += 4) {
        d[0] = s[2];
        d[1] = s[1];
        d[2] = s[0];
        d[3] = 0xff;
      }
    }
  }
  job->error = 0;
  job->done = 1;
  return 0;
}
