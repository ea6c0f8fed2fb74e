// The status line: one short text that says what the client is doing
// ("Connecting to ...", "Handshaking", "Logging in", "Online"), set from the io
// thread and the user-interface thread and read by the latter.
//
// The text is copied in and out under the msg lock, and the log line for a
// change is written after the lock is released, so the lock is never held
// across the log's own lock.
#include "ssmsg.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "log.h"
#include "plat.h"

static const char kSrc[] = "src/ssmsg";

static struct {
  plat_slot lock = -1;
  char text[kSsmsgTextMax + 1];
} S;

int ssmsg_init(void) {
  if (S.lock < 0) S.lock = plat_mutex_create();
  if (S.lock < 0) {
    log(LOG_ERROR, kSrc, "can't create msg lock");
    return -1;
  }
  plat_lock_guard lock(S.lock);
  S.text[0] = 0;
  return 0;
}

void ssmsg_fini(void) {
  if (S.lock >= 0) plat_mutex_destroy(S.lock);
  S.lock = -1;
}

void ssmsg_set(const char* text) {
  if (!text) text = "";
  char copy[kSsmsgTextMax + 1];
  {
    plat_lock_guard lock(S.lock);
    if (strncmp(S.text, text, kSsmsgTextMax) == 0) return;
    snprintf(S.text, sizeof S.text, "%.*s", kSsmsgTextMax, text);
    memcpy(copy, S.text, sizeof copy);
  }
  log(LOG_INFO, kSrc, "%s", copy);
}

void ssmsg_setf(const char* fmt, ...) {
  char text[kSsmsgTextMax + 1];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(text, sizeof text, fmt, ap);
  va_end(ap);
  ssmsg_set(text);
}

void ssmsg_get(char* out) {
  plat_lock_guard lock(S.lock);
  memcpy(out, S.text, kSsmsgTextMax + 1);
}
