// Start-up services around the server: recovery data kept across a restart
// the server asked for ("RECOVERY2" in the Temp folder), the version and
// hardware-address reports sent after the first login, instrument name
// changes, and the one-time upgrade of the local cache.
#pragma once
#include <cstdint>

#include "growbuf.h"
#include "ssmodel.h"

// ---- recovery data (recovery.cpp: engine only) ----
// Writes "RECOVERY2": 0, or -1 after an ERROR line. Called at clean-up when
// the server asked for a restart with the screens up.
int recovery_write(void);
// Reads "RECOVERY2" once (the file is deleted before it is applied) and
// applies it; always 0. A file that does not decode whole resets the stream
// positions, signatures and the model, so the next sign-on loads everything.
int recovery_apply(void);
// The file's bytes from the model as it stands (appended to gb): 0 or -1.
int recovery_encode(growbuf *gb);
// Applies the file's bytes: 0, or -1 after the reset described above.
int recovery_decode(const uint8_t *data, int32_t n);

// ---- reports, name changes and the upgrade (recovery_reports.cpp) ----
int send_version(void);
int send_mac(void);
// The version report's text ("VER ...") into out; its length.
int recovery_version_text(char *out, int32_t n);
// The hardware-address report's text ("ID ...") into out; its length, or -1
// when the interfaces can't be listed.
int recovery_mac_text(char *out, int32_t n);
// The report's text from a list of link-level addresses (6 bytes each, all
// zero ones left out); its length.
int recovery_mac_format(char *out, int32_t n, const uint8_t (*addresses)[6], int32_t count);

// A notice that an instrument's or issuer's code changed: the old record
// and the change kind (1 instrument code, 3 issuer).
constexpr uint32_t kNameChangeCode = 1;
constexpr uint32_t kNameChangeIssuer = 3;
struct name_change {
  instr *old;
  uint32_t kind;
};
int name_change_apply(const name_change *notice);
// The one-time clean-up of the local cache: 0, or -1 without a local
// configuration.
int upgrade_run(void);
