// The GL call recorder of the tests. Each entry of `glapi_record` formats its
// call as one text line, appends it to the list and, when asked to forward,
// passes the call on to the table that was installed before recording. Enum
// values are written by name through per-argument kinds, because GL reuses
// small numbers (GL_POINTS, GL_ZERO and GL_NONE are all 0).
#include "lib/glrecord.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

struct enum_name {
  unsigned value;
  const char *name;
};

#define E(x) {x, #x}
// Every enum the toolkit passes through the table. Small values that collide
// (0, 1) are named by the argument kinds below, not by this table.
const enum_name kEnums[] = {
    E(GL_NEVER), E(GL_LESS), E(GL_EQUAL), E(GL_LEQUAL), E(GL_GREATER), E(GL_NOTEQUAL),
    E(GL_GEQUAL), E(GL_ALWAYS),
    E(GL_SRC_COLOR), E(GL_ONE_MINUS_SRC_COLOR), E(GL_SRC_ALPHA), E(GL_ONE_MINUS_SRC_ALPHA),
    E(GL_DST_ALPHA), E(GL_ONE_MINUS_DST_ALPHA), E(GL_DST_COLOR), E(GL_ONE_MINUS_DST_COLOR),
    E(GL_SRC_ALPHA_SATURATE),
    E(GL_FRONT_LEFT), E(GL_FRONT_RIGHT), E(GL_BACK_LEFT), E(GL_BACK_RIGHT), E(GL_FRONT),
    E(GL_BACK), E(GL_LEFT), E(GL_RIGHT), E(GL_FRONT_AND_BACK),
    E(GL_POINT_SMOOTH), E(GL_LINE_SMOOTH), E(GL_LINE_STIPPLE), E(GL_POLYGON_SMOOTH),
    E(GL_POLYGON_STIPPLE), E(GL_CULL_FACE), E(GL_LIGHTING), E(GL_DEPTH_TEST),
    E(GL_STENCIL_TEST), E(GL_ALPHA_TEST), E(GL_DITHER), E(GL_BLEND), E(GL_COLOR_LOGIC_OP),
    E(GL_SCISSOR_TEST), E(GL_TEXTURE_1D), E(GL_TEXTURE_2D), E(GL_MULTISAMPLE),
    E(GL_POLYGON_OFFSET_FILL), E(GL_COLOR_MATERIAL), E(GL_NORMALIZE),
    E(GL_VIEWPORT), E(GL_SCISSOR_BOX), E(GL_MAX_TEXTURE_SIZE), E(GL_MAX_VIEWPORT_DIMS),
    E(GL_STENCIL_BITS), E(GL_RED_BITS), E(GL_GREEN_BITS), E(GL_BLUE_BITS), E(GL_ALPHA_BITS),
    E(GL_DEPTH_BITS), E(GL_DOUBLEBUFFER), E(GL_TEXTURE_BINDING_2D), E(GL_CURRENT_COLOR),
    E(GL_MATRIX_MODE),
    E(GL_PERSPECTIVE_CORRECTION_HINT), E(GL_POINT_SMOOTH_HINT), E(GL_LINE_SMOOTH_HINT),
    E(GL_POLYGON_SMOOTH_HINT), E(GL_DONT_CARE), E(GL_FASTEST), E(GL_NICEST),
    E(GL_UNPACK_SWAP_BYTES), E(GL_UNPACK_LSB_FIRST), E(GL_UNPACK_ROW_LENGTH),
    E(GL_UNPACK_SKIP_ROWS), E(GL_UNPACK_SKIP_PIXELS), E(GL_UNPACK_ALIGNMENT),
    E(GL_PACK_ROW_LENGTH), E(GL_PACK_SKIP_ROWS), E(GL_PACK_SKIP_PIXELS), E(GL_PACK_ALIGNMENT),
    E(GL_BYTE), E(GL_UNSIGNED_BYTE), E(GL_SHORT), E(GL_UNSIGNED_SHORT), E(GL_INT),
    E(GL_UNSIGNED_INT), E(GL_FLOAT), E(GL_UNSIGNED_INT_8_8_8_8), E(GL_UNSIGNED_INT_8_8_8_8_REV),
    E(GL_INVERT), E(GL_KEEP), E(GL_REPLACE), E(GL_INCR), E(GL_DECR),
    E(GL_MODELVIEW), E(GL_PROJECTION), E(GL_TEXTURE),
    E(GL_COLOR_INDEX), E(GL_STENCIL_INDEX), E(GL_DEPTH_COMPONENT), E(GL_RED), E(GL_GREEN),
    E(GL_BLUE), E(GL_ALPHA), E(GL_RGB), E(GL_RGBA), E(GL_LUMINANCE), E(GL_LUMINANCE_ALPHA),
    E(GL_BGR), E(GL_BGRA), E(GL_ALPHA8), E(GL_LUMINANCE8), E(GL_LUMINANCE8_ALPHA8),
    E(GL_INTENSITY), E(GL_INTENSITY8), E(GL_RGB8), E(GL_RGBA8),
    E(GL_FLAT), E(GL_SMOOTH),
    E(GL_VENDOR), E(GL_RENDERER), E(GL_VERSION), E(GL_EXTENSIONS),
    E(GL_MODULATE), E(GL_DECAL), E(GL_ADD), E(GL_TEXTURE_ENV_MODE), E(GL_TEXTURE_ENV_COLOR),
    E(GL_TEXTURE_ENV),
    E(GL_NEAREST), E(GL_LINEAR), E(GL_NEAREST_MIPMAP_NEAREST), E(GL_LINEAR_MIPMAP_NEAREST),
    E(GL_NEAREST_MIPMAP_LINEAR), E(GL_LINEAR_MIPMAP_LINEAR),
    E(GL_TEXTURE_MAG_FILTER), E(GL_TEXTURE_MIN_FILTER), E(GL_TEXTURE_WRAP_S),
    E(GL_TEXTURE_WRAP_T), E(GL_CLAMP), E(GL_REPEAT), E(GL_CLAMP_TO_EDGE),
    E(GL_TEXTURE_PRIORITY),
};

const char *const kPrims[] = {"GL_POINTS",     "GL_LINES",     "GL_LINE_LOOP",
                              "GL_LINE_STRIP", "GL_TRIANGLES", "GL_TRIANGLE_STRIP",
                              "GL_TRIANGLE_FAN", "GL_QUADS",   "GL_QUAD_STRIP",
                              "GL_POLYGON"};

const enum_name kClearBits[] = {
    E(GL_COLOR_BUFFER_BIT), E(GL_DEPTH_BUFFER_BIT), E(GL_STENCIL_BUFFER_BIT),
    E(GL_ACCUM_BUFFER_BIT),
};
#undef E

struct record_state {
  std::vector<std::string> calls;
  const gl_api *next = nullptr;  // the table installed before start
  bool forward = false;
  bool active = false;
  GLuint next_texture = 1;
  bool in_primitive = false;           // between Begin and End
  std::vector<std::string> misuse;     // calls GL refuses where they were made
};
record_state S;

const char *find_enum(unsigned v) {
  for (const enum_name &e : kEnums)
    if (e.value == v) return e.name;
  return nullptr;
}

std::string hex(unsigned v) {
  char b[16];
  snprintf(b, sizeof b, "0x%04X", v);
  return b;
}

// Argument kinds: each formats one value as text.
std::string en(GLenum v) {  // a general enum; 0 is GL_NONE
  if (v == 0) return "GL_NONE";
  const char *n = find_enum(v);
  return n ? n : hex(v);
}
std::string prim(GLenum v) { return v < 10 ? kPrims[v] : hex(v); }
std::string factor(GLenum v) {  // blend factors and stencil ops, where 0 and 1 are names
  if (v == 0) return "GL_ZERO";
  if (v == 1) return "GL_ONE";
  return en(v);
}
std::string param(GLint v) {  // an int that is an enum when it names one
  const char *n = v >= 0x100 ? find_enum(unsigned(v)) : nullptr;
  return n ? std::string(n) : std::to_string(v);
}
std::string bits(GLbitfield v) {
  std::string s;
  for (const enum_name &e : kClearBits)
    if (v & e.value) {
      if (!s.empty()) s += "|";
      s += e.name;
      v &= ~e.value;
    }
  if (v || s.empty()) {
    if (!s.empty()) s += "|";
    s += hex(v);
  }
  return s;
}
std::string b(GLboolean v) { return v ? "GL_TRUE" : "GL_FALSE"; }
std::string i(long long v) { return std::to_string(v); }
std::string f(double v) {
  char buf[32];
  snprintf(buf, sizeof buf, "%g", v);
  return buf;
}
std::string p(const void *v) { return v ? "ptr" : "null"; }

// Between Begin and End GL takes only vertices and their attributes; any
// other call there fails with GL_INVALID_OPERATION and is otherwise
// ignored, as are an End without a Begin and a Begin inside one. A vertex
// outside Begin and End belongs to no shape and draws nothing.
bool inside_allowed(const char *name) {
  return !strncmp(name, "Vertex", 6) || !strncmp(name, "TexCoord", 8) || !strncmp(name, "Color4", 6);
}
void check_primitive(const char *name, const std::string &line) {
  const bool begin = !strcmp(name, "Begin"), end = !strcmp(name, "End");
  std::string what;
  if (begin && S.in_primitive) what = "inside Begin/End: ";
  if (end && !S.in_primitive) what = "End without Begin: ";
  if (!begin && !end && S.in_primitive && !inside_allowed(name)) what = "inside Begin/End: ";
  // A vertex outside a primitive draws nothing: the shape it belongs to is lost.
  if (!S.in_primitive && !strncmp(name, "Vertex", 6)) what = "vertex outside Begin/End: ";
  if (!what.empty() && S.misuse.size() < 1000) S.misuse.push_back(what + line);
  if (begin) S.in_primitive = true;
  if (end) S.in_primitive = false;
}

// Appends "name(a,b,...)".
template <typename... A>
void rec(const char *name, const A &...args) {
  std::string line = name;
  line += '(';
  bool first = true;
  ((line += (first ? "" : ","), line += args, first = false), ...);
  line += ')';
  check_primitive(name, line);
  S.calls.push_back(std::move(line));
}

bool fwd() { return S.forward && S.next; }

// One recording entry per GL entry point, in the table's order.
void r_Begin(GLenum m) { rec("Begin", prim(m)); if (fwd()) S.next->Begin(m); }
void r_End() { rec("End"); if (fwd()) S.next->End(); }
void r_Vertex2i(GLint x, GLint y) { rec("Vertex2i", i(x), i(y)); if (fwd()) S.next->Vertex2i(x, y); }
void r_Vertex2f(GLfloat x, GLfloat y) { rec("Vertex2f", f(x), f(y)); if (fwd()) S.next->Vertex2f(x, y); }
void r_Vertex2d(GLdouble x, GLdouble y) { rec("Vertex2d", f(x), f(y)); if (fwd()) S.next->Vertex2d(x, y); }
void r_TexCoord2f(GLfloat s, GLfloat t) { rec("TexCoord2f", f(s), f(t)); if (fwd()) S.next->TexCoord2f(s, t); }
void r_TexCoord2i(GLint s, GLint t) { rec("TexCoord2i", i(s), i(t)); if (fwd()) S.next->TexCoord2i(s, t); }
void r_Color4ub(GLubyte r, GLubyte g, GLubyte bl, GLubyte a) {
  rec("Color4ub", i(r), i(g), i(bl), i(a));
  if (fwd()) S.next->Color4ub(r, g, bl, a);
}
void r_Color4f(GLfloat r, GLfloat g, GLfloat bl, GLfloat a) {
  rec("Color4f", f(r), f(g), f(bl), f(a));
  if (fwd()) S.next->Color4f(r, g, bl, a);
}
void r_Rectf(GLfloat x1, GLfloat y1, GLfloat x2, GLfloat y2) {
  rec("Rectf", f(x1), f(y1), f(x2), f(y2));
  if (fwd()) S.next->Rectf(x1, y1, x2, y2);
}
void r_LineWidth(GLfloat w) { rec("LineWidth", f(w)); if (fwd()) S.next->LineWidth(w); }
void r_PointSize(GLfloat s) { rec("PointSize", f(s)); if (fwd()) S.next->PointSize(s); }
void r_LineStipple(GLint fa, GLushort pat) {
  rec("LineStipple", i(fa), hex(pat));
  if (fwd()) S.next->LineStipple(fa, pat);
}
void r_ShadeModel(GLenum m) { rec("ShadeModel", en(m)); if (fwd()) S.next->ShadeModel(m); }
void r_Hint(GLenum t, GLenum m) { rec("Hint", en(t), en(m)); if (fwd()) S.next->Hint(t, m); }

void r_Enable(GLenum c) { rec("Enable", en(c)); if (fwd()) S.next->Enable(c); }
void r_Disable(GLenum c) { rec("Disable", en(c)); if (fwd()) S.next->Disable(c); }
void r_BlendFunc(GLenum s, GLenum d) { rec("BlendFunc", factor(s), factor(d)); if (fwd()) S.next->BlendFunc(s, d); }
void r_AlphaFunc(GLenum fn, GLclampf ref) { rec("AlphaFunc", en(fn), f(ref)); if (fwd()) S.next->AlphaFunc(fn, ref); }
void r_Scissor(GLint x, GLint y, GLsizei w, GLsizei h) {
  rec("Scissor", i(x), i(y), i(w), i(h));
  if (fwd()) S.next->Scissor(x, y, w, h);
}
void r_Viewport(GLint x, GLint y, GLsizei w, GLsizei h) {
  rec("Viewport", i(x), i(y), i(w), i(h));
  if (fwd()) S.next->Viewport(x, y, w, h);
}
void r_ColorMask(GLboolean r, GLboolean g, GLboolean bl, GLboolean a) {
  rec("ColorMask", b(r), b(g), b(bl), b(a));
  if (fwd()) S.next->ColorMask(r, g, bl, a);
}
void r_StencilFunc(GLenum fn, GLint ref, GLuint mask) {
  rec("StencilFunc", en(fn), i(ref), i(mask));
  if (fwd()) S.next->StencilFunc(fn, ref, mask);
}
void r_StencilOp(GLenum fa, GLenum zf, GLenum zp) {
  rec("StencilOp", factor(fa), factor(zf), factor(zp));
  if (fwd()) S.next->StencilOp(fa, zf, zp);
}
void r_StencilMask(GLuint m) { rec("StencilMask", i(m)); if (fwd()) S.next->StencilMask(m); }
void r_ClearStencil(GLint s) { rec("ClearStencil", i(s)); if (fwd()) S.next->ClearStencil(s); }
void r_ClearColor(GLclampf r, GLclampf g, GLclampf bl, GLclampf a) {
  rec("ClearColor", f(r), f(g), f(bl), f(a));
  if (fwd()) S.next->ClearColor(r, g, bl, a);
}
void r_Clear(GLbitfield m) { rec("Clear", bits(m)); if (fwd()) S.next->Clear(m); }
void r_GetIntegerv(GLenum pname, GLint *out) {
  rec("GetIntegerv", en(pname));
  if (fwd()) {
    S.next->GetIntegerv(pname, out);
    return;
  }
  // Answers of a context without one: zeros, and a plausible texture limit.
  int n = (pname == GL_VIEWPORT || pname == GL_SCISSOR_BOX) ? 4
          : pname == GL_MAX_VIEWPORT_DIMS                 ? 2
                                                          : 1;
  for (int k = 0; k < n; k++) out[k] = 0;
  if (pname == GL_MAX_TEXTURE_SIZE) out[0] = 4096;
}
const GLubyte *r_GetString(GLenum name) {
  rec("GetString", en(name));
  if (fwd()) return S.next->GetString(name);
  return reinterpret_cast<const GLubyte *>("recorder");
}
GLenum r_GetError() {
  rec("GetError");
  if (fwd()) return S.next->GetError();
  return GL_NO_ERROR;
}

void r_MatrixMode(GLenum m) { rec("MatrixMode", en(m)); if (fwd()) S.next->MatrixMode(m); }
void r_LoadIdentity() { rec("LoadIdentity"); if (fwd()) S.next->LoadIdentity(); }
void r_Ortho(GLdouble l, GLdouble r, GLdouble bo, GLdouble t, GLdouble n, GLdouble fa) {
  rec("Ortho", f(l), f(r), f(bo), f(t), f(n), f(fa));
  if (fwd()) S.next->Ortho(l, r, bo, t, n, fa);
}
void r_Translatef(GLfloat x, GLfloat y, GLfloat z) {
  rec("Translatef", f(x), f(y), f(z));
  if (fwd()) S.next->Translatef(x, y, z);
}
void r_Scalef(GLfloat x, GLfloat y, GLfloat z) {
  rec("Scalef", f(x), f(y), f(z));
  if (fwd()) S.next->Scalef(x, y, z);
}
void r_PushMatrix() { rec("PushMatrix"); if (fwd()) S.next->PushMatrix(); }
void r_PopMatrix() { rec("PopMatrix"); if (fwd()) S.next->PopMatrix(); }

void r_GenTextures(GLsizei n, GLuint *t) {
  rec("GenTextures", i(n));
  if (fwd()) {
    S.next->GenTextures(n, t);
    return;
  }
  for (GLsizei k = 0; k < n; k++) t[k] = S.next_texture++;
}
void r_DeleteTextures(GLsizei n, const GLuint *t) {
  std::string names;
  for (GLsizei k = 0; k < n; k++) names += (k ? " " : "") + i(t[k]);
  rec("DeleteTextures", i(n), names);
  if (fwd()) S.next->DeleteTextures(n, t);
}
void r_BindTexture(GLenum t, GLuint tex) { rec("BindTexture", en(t), i(tex)); if (fwd()) S.next->BindTexture(t, tex); }
void r_TexImage2D(GLenum t, GLint lvl, GLint ifmt, GLsizei w, GLsizei h, GLint border,
                  GLenum fmt, GLenum type, const GLvoid *px) {
  rec("TexImage2D", en(t), i(lvl), param(ifmt), i(w), i(h), i(border), en(fmt), en(type), p(px));
  if (fwd()) S.next->TexImage2D(t, lvl, ifmt, w, h, border, fmt, type, px);
}
void r_TexSubImage2D(GLenum t, GLint lvl, GLint x, GLint y, GLsizei w, GLsizei h, GLenum fmt,
                     GLenum type, const GLvoid *px) {
  rec("TexSubImage2D", en(t), i(lvl), i(x), i(y), i(w), i(h), en(fmt), en(type), p(px));
  if (fwd()) S.next->TexSubImage2D(t, lvl, x, y, w, h, fmt, type, px);
}
void r_TexParameteri(GLenum t, GLenum pn, GLint v) {
  rec("TexParameteri", en(t), en(pn), param(v));
  if (fwd()) S.next->TexParameteri(t, pn, v);
}
void r_TexParameterf(GLenum t, GLenum pn, GLfloat v) {
  rec("TexParameterf", en(t), en(pn), f(v));
  if (fwd()) S.next->TexParameterf(t, pn, v);
}
void r_TexEnvi(GLenum t, GLenum pn, GLint v) {
  rec("TexEnvi", en(t), en(pn), param(v));
  if (fwd()) S.next->TexEnvi(t, pn, v);
}
void r_PixelStorei(GLenum pn, GLint v) { rec("PixelStorei", en(pn), i(v)); if (fwd()) S.next->PixelStorei(pn, v); }
void r_ReadBuffer(GLenum m) { rec("ReadBuffer", en(m)); if (fwd()) S.next->ReadBuffer(m); }
void r_DrawBuffer(GLenum m) { rec("DrawBuffer", en(m)); if (fwd()) S.next->DrawBuffer(m); }
void r_ReadPixels(GLint x, GLint y, GLsizei w, GLsizei h, GLenum fmt, GLenum type, GLvoid *px) {
  rec("ReadPixels", i(x), i(y), i(w), i(h), en(fmt), en(type), p(px));
  if (fwd()) S.next->ReadPixels(x, y, w, h, fmt, type, px);
}
void r_CopyTexSubImage2D(GLenum t, GLint lvl, GLint xo, GLint yo, GLint x, GLint y, GLsizei w,
                         GLsizei h) {
  rec("CopyTexSubImage2D", en(t), i(lvl), i(xo), i(yo), i(x), i(y), i(w), i(h));
  if (fwd()) S.next->CopyTexSubImage2D(t, lvl, xo, yo, x, y, w, h);
}
void r_Flush() { rec("Flush"); if (fwd()) S.next->Flush(); }
void r_Finish() { rec("Finish"); if (fwd()) S.next->Finish(); }
void r_DepthMask(GLboolean v) { rec("DepthMask", b(v)); if (fwd()) S.next->DepthMask(v); }
void r_PixelTransferi(GLenum n, GLint v) {
  rec("PixelTransferi", en(n), param(v));
  if (fwd()) S.next->PixelTransferi(n, v);
}
void r_WindowPos2i(GLint x, GLint y) { rec("WindowPos2i", i(x), i(y)); if (fwd()) S.next->WindowPos2i(x, y); }
void r_DrawPixels(GLsizei w, GLsizei h, GLenum fmt, GLenum type, const GLvoid *px) {
  rec("DrawPixels", i(w), i(h), en(fmt), en(type), p(px));
  if (fwd()) S.next->DrawPixels(w, h, fmt, type, px);
}
void r_PixelTransferf(GLenum n, GLfloat v) {
  rec("PixelTransferf", en(n), f(v));
  if (fwd()) S.next->PixelTransferf(n, v);
}
void r_TexParameterfv(GLenum t, GLenum pn, const GLfloat *v) {
  rec("TexParameterfv", en(t), en(pn), f(v[0]), f(v[1]), f(v[2]), f(v[3]));
  if (fwd()) S.next->TexParameterfv(t, pn, v);
}
void r_PrioritizeTextures(GLsizei n, const GLuint *t, const GLclampf *p) {
  rec("PrioritizeTextures", i(n), i(n > 0 ? (GLint)t[0] : 0), f(n > 0 ? p[0] : 0));
  if (fwd()) S.next->PrioritizeTextures(n, t, p);
}

}  // namespace

// Designated initialisers keep this table in the struct's order: a slot added
// to gl_api and missed here stays null, which the recorder's test catches.
const gl_api glapi_record = {
    .Begin = r_Begin, .End = r_End, .Vertex2i = r_Vertex2i, .Vertex2f = r_Vertex2f,
    .Vertex2d = r_Vertex2d, .TexCoord2f = r_TexCoord2f, .TexCoord2i = r_TexCoord2i,
    .Color4ub = r_Color4ub, .Color4f = r_Color4f, .Rectf = r_Rectf, .LineWidth = r_LineWidth,
    .PointSize = r_PointSize, .LineStipple = r_LineStipple, .ShadeModel = r_ShadeModel,
    .Hint = r_Hint,
    .Enable = r_Enable, .Disable = r_Disable, .BlendFunc = r_BlendFunc,
    .AlphaFunc = r_AlphaFunc, .Scissor = r_Scissor, .Viewport = r_Viewport,
    .ColorMask = r_ColorMask, .StencilFunc = r_StencilFunc, .StencilOp = r_StencilOp,
    .StencilMask = r_StencilMask, .ClearStencil = r_ClearStencil, .ClearColor = r_ClearColor,
    .Clear = r_Clear, .GetIntegerv = r_GetIntegerv, .GetString = r_GetString,
    .GetError = r_GetError,
    .MatrixMode = r_MatrixMode, .LoadIdentity = r_LoadIdentity, .Ortho = r_Ortho,
    .Translatef = r_Translatef, .Scalef = r_Scalef, .PushMatrix = r_PushMatrix,
    .PopMatrix = r_PopMatrix,
    .GenTextures = r_GenTextures, .DeleteTextures = r_DeleteTextures,
    .BindTexture = r_BindTexture, .TexImage2D = r_TexImage2D, .TexSubImage2D = r_TexSubImage2D,
    .TexParameteri = r_TexParameteri, .TexParameterf = r_TexParameterf, .TexEnvi = r_TexEnvi,
    .PixelStorei = r_PixelStorei, .ReadBuffer = r_ReadBuffer, .DrawBuffer = r_DrawBuffer,
    .ReadPixels = r_ReadPixels, .CopyTexSubImage2D = r_CopyTexSubImage2D, .Flush = r_Flush,
    .Finish = r_Finish, .DepthMask = r_DepthMask, .PixelTransferi = r_PixelTransferi,
    .PixelTransferf = r_PixelTransferf, .WindowPos2i = r_WindowPos2i, .DrawPixels = r_DrawPixels,
    .TexParameterfv = r_TexParameterfv,
    .PrioritizeTextures = r_PrioritizeTextures,
};

void glrecord_start(bool forward) {
  S.calls.clear();
  if (S.active) return;
  S.in_primitive = false;
  S.misuse.clear();
  S.next = glapi_install(&glapi_record);
  S.forward = forward;
  S.active = true;
  S.next_texture = 1;
}

void glrecord_stop() {
  if (!S.active) return;
  glapi_install(S.next);
  S.next = nullptr;
  S.forward = false;
  S.active = false;
}

bool glrecord_active() { return S.active; }

const std::vector<std::string> &glrecord_calls() { return S.calls; }

std::string glrecord_text() {
  std::string t;
  for (const std::string &c : S.calls) t += c + "\n";
  return t;
}

void glrecord_clear() { S.calls.clear(); }

const std::vector<std::string> &glrecord_misuse() { return S.misuse; }
void glrecord_clear_misuse() { S.misuse.clear(); }

std::string glrecord_enum_name(unsigned value) { return en(value); }
