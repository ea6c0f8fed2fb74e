// The GL call recorder: a second dispatch table that logs every call with its
// arguments as one text line ("Begin(GL_QUADS)", "Color4ub(255,0,0,255)",
// "Vertex2i(10,20)"), so drawing code can be checked without a display.
//
// Line format: the entry point's name without the "gl" prefix, then the
// arguments in parentheses separated by "," with no spaces. GLenum arguments
// are written as their GL_ names (unknown values as 0x%04X), bitfields as
// names joined by "|", booleans as GL_TRUE/GL_FALSE, floats and doubles with
// "%g", pointers as "ptr" or "null". Main thread only, like `gl` itself.
#pragma once

#include <string>
#include <vector>

#include "lib/glapi.h"

// The recording table. While recording without forwarding, queries answer
// as a context would without doing anything: GetError GL_NO_ERROR,
// GetIntegerv zeros (GL_MAX_TEXTURE_SIZE 4096), GetString "recorder",
// GenTextures 1, 2, 3 ... and ReadPixels leaves the buffer untouched.
extern const gl_api glapi_record;

// Clears the call list and installs the recorder, remembering the table in
// use. With `forward` set, every call is also passed to that table (a real
// context then draws while the calls are logged, and queries answer from it).
// A second start while recording only clears the list.
void glrecord_start(bool forward = false);
// Reinstalls the table that was in use at start; the list is kept.
void glrecord_stop();
bool glrecord_active();
// The calls recorded since start or the last clear, in order.
const std::vector<std::string> &glrecord_calls();
// The same, one call a line, each line ending in "\n".
std::string glrecord_text();
void glrecord_clear();
// Calls GL refuses where they were made, since start (a call other than a
// vertex, texture coordinate or colour between Begin and End, an End
// without a Begin, a Begin inside one, a vertex outside any: it draws
// nothing), each as "what: line"; the first
// 1000 are kept. glrecord_clear leaves them.
const std::vector<std::string> &glrecord_misuse();
void glrecord_clear_misuse();

// Records for the length of a scope (start in the constructor, stop in the
// destructor), so a failed assertion never leaves the recorder installed.
class glrecord_scope {
 public:
  explicit glrecord_scope(bool forward = false) { glrecord_start(forward); }
  ~glrecord_scope() { glrecord_stop(); }
  glrecord_scope(const glrecord_scope &) = delete;
  glrecord_scope &operator=(const glrecord_scope &) = delete;
};

// The GL_ name of an enum value as the recorder writes it (for tests that
// build expected lines).
std::string glrecord_enum_name(unsigned value);
