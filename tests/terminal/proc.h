// Test support: runs a program in a child process with extra environment,
// collecting its standard output and error until it exits or a deadline
// passes (then it is killed). Header-only.
#pragma once
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct proc_result {
  int code = -1;  // exit code, or -signal
  bool timed_out = false;
  std::string out, err;
};

inline proc_result proc_run(const std::vector<std::string> &args,
                            const std::vector<std::pair<std::string, std::string>> &env, int deadline_ms = 30000) {
  proc_result r;
  int po[2], pe[2];
  if (pipe(po) != 0 || pipe(pe) != 0) return r;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(po[1], 1);
    dup2(pe[1], 2);
    close(po[0]);
    close(pe[0]);
    for (const auto &[k, v] : env) setenv(k.c_str(), v.c_str(), 1);
    std::vector<char *> av;
    for (const std::string &a : args) av.push_back(const_cast<char *>(a.c_str()));
    av.push_back(nullptr);
    execv(av[0], av.data());
    _exit(127);
  }
  close(po[1]);
  close(pe[1]);
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadline_ms);
  pollfd fds[2] = {{po[0], POLLIN, 0}, {pe[0], POLLIN, 0}};
  int open_fds = 2;
  while (open_fds > 0) {
    int left = (int)std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
    if (left <= 0) {
      r.timed_out = true;
      kill(pid, SIGKILL);
      break;
    }
    if (poll(fds, 2, left) <= 0) continue;
    for (int i = 0; i < 2; i++) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buf[4096];
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        open_fds--;
      } else {
        (i ? r.err : r.out).append(buf, (size_t)n);
      }
    }
  }
  for (pollfd &f : fds)
    if (f.fd >= 0) close(f.fd);
  int st = 0;
  waitpid(pid, &st, 0);
  r.code = WIFEXITED(st) ? WEXITSTATUS(st) : -WTERMSIG(st);
  return r;
}

// Starts `program` with `args` (argv[0] included) in a child whose data tree
// is `home` (XDG_DATA_HOME), its output to /dev/null and without the leak
// check (the GL driver keeps its own allocations); the child's pid.
inline pid_t proc_start_terminal(const char *program, const std::vector<std::string> &args, const std::string &home) {
  pid_t pid = fork();
  if (pid == 0) {
    setenv("XDG_DATA_HOME", home.c_str(), 1);
    setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
    int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 1);
    dup2(devnull, 2);
    std::vector<char *> argv;
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(program, argv.data());
    _exit(127);
  }
  return pid;
}

inline std::string proc_read_file(const std::string &path) {
  std::ifstream f(path);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

inline void proc_write_file(const std::string &path, const std::string &data) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

// A shell command's standard output.
inline std::string proc_shell(const std::string &cmd) {
  std::string out;
  if (FILE *p = popen(cmd.c_str(), "r")) {
    char buf[256];
    while (fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
  }
  return out;
}

// The id of the first visible window `xdotool search` finds with `query`
// (e.g. "--name '^Ambit$'"), looked for until `end`; "" when none showed.
inline std::string proc_find_window(const std::string &query, std::chrono::steady_clock::time_point end) {
  std::string xid;
  while (xid.empty() && std::chrono::steady_clock::now() < end) {
    xid = proc_shell("xdotool search --onlyvisible " + query + " 2>/dev/null | head -1");
    pollfd none{};
    if (xid.empty()) poll(&none, 0, 50);  // between looks; the deadline bounds the wait
  }
  if (!xid.empty()) xid.pop_back();
  return xid;
}

// Waits for the child to end until `end`: true with its *status, false when
// it is still running at the deadline.
inline bool proc_wait_until(pid_t pid, std::chrono::steady_clock::time_point end, int *status) {
  pid_t done = 0;
  while ((done = waitpid(pid, status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < end) {
    pollfd none{};
    poll(&none, 0, 20);  // the child's exit has no descriptor to wait on
  }
  return done == pid;
}

// A fresh folder under /tmp, removed with its contents when the object goes.
struct proc_tempdir {
  std::string path;
  proc_tempdir() {
    char t[] = "/tmp/ambit-term-XXXXXX";
    if (mkdtemp(t)) path = t;
  }
  ~proc_tempdir() {
    if (!path.empty()) std::system(("rm -rf '" + path + "'").c_str());
  }
};
