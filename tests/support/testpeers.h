// Test support for tests against real HTTP peers (squid, tinyproxy, nginx):
// each is started on a free 127.0.0.1 port with a configuration written into
// a temporary folder of its own, waited for by polling its port with a
// deadline, and stopped (with its helpers) by the test. A peer whose program
// is missing fails the test: ./test installs them.
#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

struct test_peer {
  std::string name;
  std::string dir;  // the temporary folder: configuration, logs, files
  pid_t pid = -1;   // leader of the peer's own process group
  int port = 0;
};

enum squid_scheme { kSquidBasic, kSquidDigest, kSquidNtlm };

// Each returns true once the peer accepts connections; false after a test
// failure that says why (program missing, early exit, no port in time).
bool start_squid(test_peer* p, squid_scheme scheme, const char* user, const char* password);
bool start_tinyproxy(test_peer* p, const char* user, const char* password);
// nginx serving dir/www (files written with peer_write_file) with the given
// extra directives inside its server block.
bool start_nginx(test_peer* p, const std::string& server_directives);
// Stops the peer and its helpers, and removes its folder.
void stop_peer(test_peer* p);
// Stops a child this process started (an X server, a window manager):
// SIGTERM, then waits for it. Signalled only while still an unreaped child:
// once reaped, its pid may be another process's by now.
void stop_child(pid_t pid);
// What a shell command (a reference tool, a client of a peer) writes on its
// standard output; empty when it can't be run.
std::string peer_command_output(const std::string& cmd);

// A folder under the system's temporary folder, open to the peers' own
// users (they drop root).
std::string peer_temp_dir(const char* tag);
// Writes a file under `dir` (parents made), readable by everyone.
void peer_write_file(const std::string& dir, const std::string& rel, const std::string& text);
// The last bytes of the peer's logs, for failure messages.
std::string peer_logs(const test_peer& p);
