// The system clipboard as the rest of the program uses it: list windows
// export rows of tab-separated cells, charts copy a rectangle of a window's
// pixels as an image, and the terminal puts its selection there and pastes
// from it. User-interface thread only.
//
// A text export runs clipboard_reset; per row clipboard_new_row, one
// clipboard_add_cell per cell, clipboard_end_row; then clipboard_put_text.
#pragma once
#include <cstdint>

constexpr int kClipInitial = 4096;
constexpr int kClipStep = 1024;
constexpr int kClipPrintfRoom = 1024;  // clipboard_printf reserves this much

int clipboard_init(void);  // 0 / -1
void clipboard_shutdown(void);
void clipboard_reset(void);
void clipboard_new_row(void);
// "%s" for a row's first cell, "\t%s" for the others. A tab, carriage
// return or line feed inside the text becomes a blank, so a cell can never
// break the rows and columns it is read back as.
void clipboard_add_cell(const char *text);
void clipboard_end_row(void);
// Formats at the end of the text, cut to the room reserved; 0 / -1.
int clipboard_printf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// The text written so far (for tests and callers that show it).
const char *clipboard_text(void);
int clipboard_put_text(void);          // the platform's result
int clipboard_put(const char *text);   // the platform's result
// The clipboard's text, or null when it holds none; valid until the buffer
// is next used.
const char *clipboard_get_text(void);
// Copies the rectangle (y from the window's top) of gui window `window`'s
// pixels to the clipboard as an image. The rectangle is clamped to the
// window; 0 / -1.
int clipboard_copy_image(int window, int x, int y, int width, int height);
