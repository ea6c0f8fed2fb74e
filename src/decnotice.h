// Notice records: one exchange notice (vint a, vint b, byte c, packed code,
// text) or a list of them (repeated vint a, packed code, text), handed to the
// exchange notices (ssnotice.h).
#pragma once
#include <cstdint>

#include "ssmodel.h"

constexpr int32_t kNoticeListQuiet = 100000;  // longer lists are read with change recording off

// The client's count of decoding work (installed at start-up; may be null):
// each notice of a list is one unit, so a long list gives the core lock to
// the user-interface thread between records now and then.
void decnotice_set_work_hook(void (*work)(uint32_t units));

// One notice: bytes used (a notice the model refuses still uses its bytes,
// after a WARN), 0 while incomplete, -1 after an ERROR on a bad field.
int decnotice_decode(const uint8_t* data, int32_t n);
// Every notice of the list, for exchange `ex`, then the exchange's notice
// position becomes `position`. 0, or -1 after an ERROR on a bad field.
int decnotice_decode_list(ss_exchange* ex, uint32_t position, const uint8_t* data, int32_t n);
