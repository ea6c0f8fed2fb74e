// Minimal version: the start-up flow is not built yet. Its restart flag is
// raised when the server asks for a restart, which the market-data client
// records, so until the flow exists the flag is read from the client.
#include "startup/start.h"

#include "ssclient.h"

int restart_pending(void) { return ssclient_restart_pending(); }
