// Start-up services around the server: recovery data kept across a restart
// the server asked for, the version and hardware-address reports sent after
// the first login, instrument name changes, and the one-time upgrade of the
// local cache.
#pragma once
#include <cstdint>

int recovery_write(void);
int recovery_apply(void);
int send_version(void);
int send_mac(void);
int name_change_apply(const void *notice);
int upgrade_run(void);
// The version report's text ("VER ...") into out; its length.
int recovery_version_text(char *out, int32_t n);
// The hardware-address report's text ("ID ...") into out; its length, or -1
// when the interfaces can't be listed.
int recovery_mac_text(char *out, int32_t n);
