// Real HTTP peers for tests: configuration, start, readiness and stop.
#include "testpeers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdio>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

constexpr int kReadyMs = 15000;
// A peer gets this long to stop on SIGTERM before its group is killed (squid
// takes seconds to shut down; its state is thrown away anyway).
constexpr int kStopMs = 300;

int64_t now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// A port of 127.0.0.1 free a moment ago (the peers cannot take port 0).
int free_port() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sa;
  int port = -1;
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0)
    port = ntohs(sa.sin_port);
  if (fd >= 0) close(fd);
  return port;
}

bool accepts(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sa.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
  close(fd);
  return ok;
}

bool installed(const char* path) {
  if (access(path, X_OK) == 0) return true;
  ADD_FAILURE() << path << " is not installed: ./test (scripts/deps.sh) installs the test peers";
  return false;
}

std::string tail(const std::string& path, size_t max) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  std::string s = ss.str();
  return s.size() > max ? s.substr(s.size() - max) : s;
}

// Spawns argv in a process group of its own, output to dir/out.txt, and
// waits until the port accepts.
bool spawn_and_wait(test_peer* p, const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  // Helpers a peer leaves behind when it is killed come to this process,
  // which reaps them in stop_peer.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  const std::string out = p->dir + "/out.txt";
  posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  posix_spawnattr_t at;
  posix_spawnattr_init(&at);
  posix_spawnattr_setflags(&at, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&at, 0);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, args[0], &fa, &at, args.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  posix_spawnattr_destroy(&at);
  if (rc != 0) {
    ADD_FAILURE() << "can't start " << argv[0] << ": " << strerror(rc);
    return false;
  }
  p->pid = pid;
  const int64_t until = now_ms() + kReadyMs;
  while (now_ms() < until) {
    if (accepts(p->port)) return true;
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      p->pid = -1;
      ADD_FAILURE() << p->name << " ended before it listened:\n" << peer_logs(*p);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ADD_FAILURE() << p->name << " did not listen on " << p->port << " in time:\n" << peer_logs(*p);
  stop_peer(p);
  return false;
}

bool prepare(test_peer* p, const char* name) {
  p->name = name;
  p->dir = peer_temp_dir(name);
  p->port = free_port();
  return !p->dir.empty() && p->port > 0;
}

}  // namespace

std::string peer_temp_dir(const char* tag) {
  std::string tmpl = (std::filesystem::temp_directory_path() / (std::string("ambit-") + tag + "-XXXXXX")).string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back(0);
  if (!mkdtemp(buf.data())) return {};
  chmod(buf.data(), 0777);
  return buf.data();
}

void peer_write_file(const std::string& dir, const std::string& rel, const std::string& text) {
  std::filesystem::path path = std::filesystem::path(dir) / rel;
  std::filesystem::create_directories(path.parent_path());
  for (auto d = path.parent_path(); d.string().size() > dir.size(); d = d.parent_path()) chmod(d.c_str(), 0755);
  std::ofstream(path, std::ios::binary) << text;
  chmod(path.c_str(), 0644);
}

std::string peer_logs(const test_peer& p) {
  std::string s;
  for (const char* f : {"out.txt", "cache.log", "error.log", "tinyproxy.log"})
    if (std::filesystem::exists(p.dir + "/" + f)) s += std::string("--- ") + f + "\n" + tail(p.dir + "/" + f, 2000);
  return s;
}

bool start_squid(test_peer* p, squid_scheme scheme, const char* user, const char* password) {
  static const char* const kHelpers[] = {"/usr/lib/squid/basic_ncsa_auth", "/usr/lib/squid/digest_file_auth",
                                         "/usr/lib/squid/ntlm_fake_auth"};
  static const char* const kNames[] = {"squid-basic", "squid-digest", "squid-ntlm"};
  if (!installed("/usr/sbin/squid") || !installed(kHelpers[scheme])) return false;
  if (!prepare(p, kNames[scheme])) return false;
  std::string auth;
  switch (scheme) {
    case kSquidBasic: {
      // The password file in htpasswd's own (MD5) form, made by htpasswd.
      if (!installed("/usr/bin/htpasswd")) return false;
      const std::string file = p->dir + "/passwd";
      const std::string cmd = "/usr/bin/htpasswd -bcm '" + file + "' '" + user + "' '" + password + "' 2>/dev/null";
      if (std::system(cmd.c_str()) != 0) {
        ADD_FAILURE() << "htpasswd failed";
        return false;
      }
      chmod(file.c_str(), 0644);
      auth = std::string("auth_param basic program ") + kHelpers[scheme] + " " + p->dir + "/passwd\n" +
             "auth_param basic realm ambit-test\n";
      break;
    }
    case kSquidDigest:
      peer_write_file(p->dir, "passwd", std::string(user) + ":" + password + "\n");
      auth = std::string("auth_param digest program ") + kHelpers[scheme] + " " + p->dir + "/passwd\n" +
             "auth_param digest realm ambit-test\n";
      break;
    case kSquidNtlm:
      auth = std::string("auth_param ntlm program ") + kHelpers[scheme] + "\n";
      break;
  }
  const char* kind = scheme == kSquidBasic ? "basic" : scheme == kSquidDigest ? "digest" : "ntlm";
  std::string conf = "http_port 127.0.0.1:" + std::to_string(p->port) + "\n" + "pid_filename " + p->dir +
                     "/squid.pid\n" + "cache_log " + p->dir + "/cache.log\n" + "access_log " + p->dir +
                     "/access.log\n" + "cache_store_log none\n" + "coredump_dir " + p->dir + "\n" +
                     "cache_mem 8 MB\npinger_enable off\nshutdown_lifetime 0 seconds\n" +
                     "visible_hostname ambit-test\n" + auth + "auth_param " + kind + " children 1\n" +
                     "acl authed proxy_auth REQUIRED\nhttp_access allow authed\nhttp_access deny all\n";
  peer_write_file(p->dir, "squid.conf", conf);
  return spawn_and_wait(p, {"/usr/sbin/squid", "-N", "-f", p->dir + "/squid.conf"});
}

bool start_tinyproxy(test_peer* p, const char* user, const char* password) {
  if (!installed("/usr/bin/tinyproxy")) return false;
  if (!prepare(p, "tinyproxy")) return false;
  std::string conf = "Port " + std::to_string(p->port) + "\nListen 127.0.0.1\nTimeout 30\nMaxClients 16\n" +
                     "PidFile \"" + p->dir + "/tinyproxy.pid\"\nLogFile \"" + p->dir + "/tinyproxy.log\"\n" +
                     "LogLevel Info\nBasicAuth " + user + " " + password + "\n";
  peer_write_file(p->dir, "tinyproxy.conf", conf);
  return spawn_and_wait(p, {"/usr/bin/tinyproxy", "-d", "-c", p->dir + "/tinyproxy.conf"});
}

bool start_nginx(test_peer* p, const std::string& server_directives) {
  if (!installed("/usr/sbin/nginx")) return false;
  if (!prepare(p, "nginx")) return false;
  const std::string& d = p->dir;
  std::string conf = "daemon off;\nmaster_process off;\npid " + d + "/nginx.pid;\nerror_log " + d +
                     "/error.log info;\nevents { worker_connections 64; }\nhttp {\n  access_log " + d +
                     "/access.log;\n  client_body_temp_path " + d + "/tmp-body;\n  proxy_temp_path " + d +
                     "/tmp-proxy;\n  fastcgi_temp_path " + d + "/tmp-fcgi;\n  uwsgi_temp_path " + d +
                     "/tmp-uwsgi;\n  scgi_temp_path " + d + "/tmp-scgi;\n  server {\n    listen 127.0.0.1:" +
                     std::to_string(p->port) + ";\n    root " + d + "/www;\n" + server_directives + "\n  }\n}\n";
  peer_write_file(d, "nginx.conf", conf);
  std::filesystem::create_directories(d + "/www");
  return spawn_and_wait(p, {"/usr/sbin/nginx", "-p", d, "-c", d + "/nginx.conf", "-e", d + "/error.log"});
}

void stop_child(pid_t pid) {
  if (pid <= 0 || waitpid(pid, nullptr, WNOHANG) != 0) return;
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

void stop_peer(test_peer* p) {
  if (p->pid > 0) {
    int status = 0;
    // Only a child not reaped yet is still this peer: a pid reaped already
    // (it ended, or another stop's reaping took it) may name another
    // process group by now, such as another test's, and is not signalled.
    const bool alive = waitpid(p->pid, &status, WNOHANG) == 0;
    if (alive) kill(-p->pid, SIGTERM);
    const int64_t until = now_ms() + kStopMs;
    while (alive && waitpid(p->pid, &status, WNOHANG) == 0) {
      if (now_ms() >= until) {
        kill(-p->pid, SIGKILL);
        waitpid(p->pid, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Reap the helpers handed over to this process (they end once their
    // peer's pipes close). A test process runs one peer at a time.
    const int64_t reap_until = now_ms() + 1000;
    while (now_ms() < reap_until) {
      pid_t r = waitpid(-1, &status, WNOHANG);
      if (r < 0) break;  // no children left
      if (r == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    p->pid = -1;
  }
  if (!p->dir.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(p->dir, ec);
    p->dir.clear();
  }
}

std::string peer_command_output(const std::string& cmd) {
  std::string out;
  FILE* f = popen(cmd.c_str(), "r");
  if (!f) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  pclose(f);
  return out;
}
