// Notice records. Texts are read into a buffer of the longest text a record
// can carry (a string field holds at most 255 bytes), so nothing the server
// sends can overrun it; what the text means is the notices module's affair.
#include "decnotice.h"

#include "decode.h"
#include "log.h"
#include "ssnotice.h"
#include "ssnotify.h"

static const char kSrc[] = "src/decnotice";

namespace {

struct {
  void (*work)(uint32_t units) = nullptr;  // the client's yield point
} D;

struct text_field {
  char text[kNoticeTextMax + 1];
};

int read_text(const uint8_t* p, int32_t n, text_field* t) {
  int32_t size = sizeof t->text;
  return decode_string(p, n, t->text, &size);
}

// Turns change recording off for a long list and on again with the global
// bits that tell the windows to look at everything.
class quiet_list {
 public:
  explicit quiet_list(bool on) : on_(on) {
    if (on_) ssnotify_set_enabled(0);
  }
  ~quiet_list() {
    if (!on_) return;
    ssnotify_set_enabled(1);
    ssnotify_record_global(kGlobalMarked | kGlobalNotices);
  }
  quiet_list(const quiet_list&) = delete;
  quiet_list& operator=(const quiet_list&) = delete;

 private:
  bool on_;
};

}  // namespace

void decnotice_set_work_hook(void (*work)(uint32_t units)) { D.work = work; }

int decnotice_decode(const uint8_t* data, int32_t n) {
  uint32_t a, b;
  uint8_t c;
  char code[kCodeSize];
  text_field t;
  int32_t used = 0;
  int r = 1;
  auto step = [&](int got) {
    if (got > 0) used += got;
    r = got;
    return got > 0;
  };
  step(decode_vint(data, n, &a)) && step(decode_vint(data + used, n - used, &b)) &&
      step(decode_byte(data + used, n - used, &c)) && step(decode_code(data + used, n - used, code, kCodeSize)) &&
      step(read_text(data + used, n - used, &t));
  if (r <= 0) {
    if (r < 0) log(LOG_ERROR, kSrc, "failed");
    return r;
  }
  if (ssnotice_apply(c, a, b, code, t.text) < 0)
    log(LOG_WARN, kSrc, "ignoring notice %d,%d,%s,%s", static_cast<int32_t>(a), static_cast<int32_t>(b), code, t.text);
  return used;
}

int decnotice_decode_list(ss_exchange* ex, uint32_t position, const uint8_t* data, int32_t n) {
  int32_t count = 0;
  {
    quiet_list quiet(n > kNoticeListQuiet);
    int32_t used = 0;
    while (used < n) {
      uint32_t a;
      char code[kCodeSize];
      text_field t;
      int r1 = decode_vint(data + used, n - used, &a);
      int r2 = r1 > 0 ? decode_code(data + used + r1, n - used - r1, code, kCodeSize) : r1;
      int r3 = r2 > 0 ? read_text(data + used + r1 + r2, n - used - r1 - r2, &t) : r2;
      if (r3 <= 0) {
        // The list is complete: a short item is as bad as a broken one.
        log(LOG_ERROR, kSrc, "failed");
        return -1;
      }
      used += r1 + r2 + r3;
      count++;
      if (ssnotice_apply(-1, a, ex->index, code, t.text) < 0)
        log(LOG_WARN, kSrc, "ignoring notice %d,%d,%s,%s", static_cast<int32_t>(a), static_cast<int32_t>(ex->index),
            code, t.text);
      if (D.work) D.work(1);  // between whole notices: the model is consistent here
    }
  }
  ex->notice_seq = static_cast<int32_t>(position);
  log(LOG_INFO, kSrc, "decoded %d %s notices to %d", count, ex->name, static_cast<int32_t>(position));
  return 0;
}
