// The process around the program on Linux, and the desktop services the
// rest of the system asks of the platform: the clipboard (text, and images
// as PNG), opening files and links with the desktop's opener, alerts, the
// application-support folder, the About box and PDF page rendering.
//
// Nothing here starts video: the launcher uses launch_main and the file
// services without a display. The clipboard and alerts need video started
// by the gui (gui_plat_init). Main thread only, except the page renderer,
// which any one thread may run at a time per job.
#pragma once
#include <cstdint>

#include "plat.h"

typedef int (*launch_app_main_fn)(int argc, char **argv);

// Installs the thread wrapper; with an app main, copies the arguments, runs
// it synchronously and keeps its result for launch_cleanup.
void launch_main(int argc, char **argv, launch_app_main_fn app_main);
// Frees the copies; returns the app main's result (0 when none ran).
int launch_cleanup(void);
// The platform thread wrapper: runs fn(arg).
void launch_thread_trampoline(plat_thread_fn fn, void *arg);
// The copied arguments (null-terminated), or null before launch_main.
char **launch_argv(void);

// Clipboard text. get: 0 and the text as ASCII (other characters become '?')
// with its NUL in `buffer` when *size is big enough; -1 with *size the bytes
// needed, or 0 when the clipboard holds no text.
int launch_clipboard_get(char *buffer, uint32_t *size);
int launch_clipboard_set(const char *text);  // 0 / -1
// 8-bit RGBA rows (4 x w bytes each, first row on top) as a PNG image on
// the clipboard; 0, or 1 on failure.
int launch_clipboard_set_image(const uint8_t *rgba, int32_t w, int32_t h);

// Opening. Only http, https and mailto links and files inside the per-user
// data tree are handed to the opener; anything else is refused with the
// OSERR line. 0 / -1.
int launch_open_file(const char *path);
int launch_open_url(const char *text);
int launch_mailto(const char *address);
// Test seam: the opener gets the final target ("https://..", a path) and
// answers 0 / -1. Null restores xdg-open. Returns the previous opener.
typedef int (*launch_opener_fn)(const char *target);
launch_opener_fn launch_set_opener(launch_opener_fn fn);

// A modal message box with one "OK" button; flags & 3 makes it critical.
// The box's heading is `message`, its text `title` and `text` joined by a
// blank line. Returns 1 when OK was pressed, 0 otherwise.
int launch_alert(const char *message, const char *title, const char *text, uint32_t flags);
// Test switch: while on, alerts are logged (INFO "alert: ...") instead of shown.
void launch_set_alert_log(int on);

// The About box: application name, short version, build number and the
// legal notice (set by the application; empty until then), then the text of
// the resource folder's "Credits.html" when there is one.
void launch_set_about(const char *version, const char *build, const char *notice);
void launch_about(const char *app_name);

// The running program's own path (/proc/self/exe) into `buffer` (1024
// bytes); 0 / -1.
int launch_exe_path(char *buffer);
// The bundle's resource folder, kept as a folder layout beside the program:
// "<program's folder>/Ambit.app/Contents/Resources"; 0 / -1 (too long).
int launch_resources_dir(char *buffer);

// The absolute path of the bundle with the launcher's identifier, found by
// asking the desktop for it, into `buffer` (1024 bytes). This system keeps
// no register of bundles by identifier, so there is never one: -1.
int launch_find_bundle(char *buffer);

// The user's application-support folder ($XDG_DATA_HOME, else
// ~/.local/share) into `buffer` (1024 bytes). 0 / -1.
int launch_app_support_dir(char *buffer);

// One page to render. The caller fills path, page, and (for a picture)
// pixels, width, height and rotation; the renderer fills the rest.
struct launch_pdf_job {
  const char *path;
  int32_t page;         // from 0
  int32_t page_count;   // out
  float page_w, page_h; // out: crop box in points
  uint8_t *pixels;      // width x height x 4 bytes (R, G, B, unused), or null
  int32_t width, height;
  int32_t rotation;     // 0 none, 1 quarter turn clockwise, 2 half, 3 counter-clockwise
  int32_t bottom_up;    // out: 1, the first row of pixels is the bottom of the picture
  int32_t error;        // out: 0 rendered, 1 failed (file, page)
  int32_t done;         // out: 1 once the renderer finished with the job
};
// Loads the built-in texture atlas; the loader's result (0 / -1).
int help_load_textures(void);

// Renders the page scaled to fill width x height (axes swapped for turns 1
// and 3) on white. Answers 0; the job's error field tells the outcome.
int launch_render_pdf_page(launch_pdf_job *job);
