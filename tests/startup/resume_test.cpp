// A restart the server asks for, end to end against the simulator: the
// program Ambit signs on as user 3 and brings its screens up; the server
// asks for a restart (an update without files); the program signs off,
// writes "RECOVERY2", installs itself into the other run slot and starts
// again from there with --restart; the new process applies the file (which
// is then gone), signs on with the saved stream positions and signatures,
// so the server serves no snapshot again, and reports its version.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "guitest.h"
#include "sim.h"
#include "sim_snapshot.h"
#include "testclock.h"
#include "testsim.h"

namespace {

namespace fs = std::filesystem;

class ResumeEnv : public ::testing::Environment {
 public:
  // A private X server for the program's windows.
  void SetUp() override { ASSERT_TRUE(guitest_start_gui("resume_test")); }
};
::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ResumeEnv);

constexpr uint8_t kState = 50;

// The index of the first transcript entry of `kind` at or after `from`, -1.
int find_entry(sim_server *sim, int32_t kind, size_t from, sim_entry *out = nullptr) {
  const std::vector<sim_entry> t = sim_transcript(sim);
  for (size_t i = from; i < t.size(); i++)
    if (t[i].kind == kind) {
      if (out) *out = t[i];
      return int(i);
    }
  return -1;
}

bool has_file(const fs::path &root, const std::string &name) {
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::recursive_directory_iterator(); it.increment(ec))
    if (it->path().filename() == name) return true;
  return false;
}

TEST(Resume, ARestartRequestResumesTheStreamsFromTheSavedPositions) {
  const ss_time day = sstime_pack_date(12, 3, 2014);
  sim_server *sim = sim_create(sim_options{});
  sim_user u;
  u.name = "rita";
  u.password = "secret";
  u.kind = 3;  // the signed-on user number whose restart requests are honoured with the screens up
  ASSERT_EQ(0, sim_add_user(sim, u));
  for (uint32_t i : {0u, 1u, 3u}) {
    ASSERT_EQ(0, sim_add_exchange(sim, test_exchange(i, sstime_pack(0, 0, 11, 12, 3, 2014), kState)));
    const sim_snapshot snap = sim_snapshot_generate(i, day, kState, 40 + i, 30, 3);
    std::vector<uint8_t> bytes;
    ASSERT_EQ(0, sim_snapshot_write(snap, &bytes));
    ASSERT_EQ(0, sim_set_snapshot(sim, i, bytes));
    // A stream after the snapshot, so that the positions are past its start.
    sim_market_options mo;
    mo.index = i;
    mo.date = day;
    sim_market *m = sim_market_create(mo);
    ss_time t = sstime_pack(0, 0, 11, 12, 3, 2014);
    std::vector<std::string> codes;
    for (int k = 0; k < 5; k++) codes.push_back(snap.stocks[size_t(k)].code);
    ASSERT_EQ(40, sim_market_script(m, 7 + i, codes, 40, &t));
    ASSERT_EQ(0, sim_market_flush(m, sim));
    sim_market_destroy(m);
    ASSERT_GT(sim_stream_length(sim, i), 0u);
  }
  const int port = sim_start(sim, 0);
  ASSERT_GT(port, 0);

  // The program's data folder holds its stored program, as the launcher
  // leaves it, so that a restart can install it into a run slot.
  char tmpl[] = "/tmp/ambit-resume-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(tmpl));
  const fs::path home = tmpl;
  fs::create_directories(home / "Ambit" / "Program");
  fs::copy_file(AMBIT_PROGRAM, home / "Ambit" / "Program" / "EXE_L64");
  const std::string port_text = std::to_string(port);

  pid_t pid = fork();
  if (pid == 0) {
    setenv("XDG_DATA_HOME", home.c_str(), 1);
    // The log on stderr, into a file the test reads when it fails (the
    // restarted process inherits it).
    const int fd = open((home / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0) dup2(fd, 2);
    execl(AMBIT_PROGRAM, "Ambit", "--stderr", "-h", "127.0.0.1", "-P", port_text.c_str(), "-u", "rita", "-p",
          "secret", static_cast<char *>(nullptr));
    _exit(127);
  }
  ASSERT_GT(pid, 0);

  sim_entry first_signon, second_signon;
  int first = -1, version1 = -1, signoff = -1, second = -1, version2 = -1;
  int32_t snapshots_first = 0;
  bool file_written = false, file_gone = false;
  do {
    if (!wait_for([&] { return (first = find_entry(sim, kSimSignOn, 0, &first_signon)) >= 0; }, 60000)) break;
    if (!wait_for([&] { return (version1 = find_entry(sim, 130, size_t(first))) >= 0; }, 60000)) break;
    snapshots_first = sim_get_stats(sim).snapshots;
    // The screens are up once the version went.
    if (sim_request_restart(sim, "rita") != 1) break;
    if (!wait_for([&] { return (signoff = find_entry(sim, 2, size_t(version1))) >= 0; }, 30000)) break;
    if (!wait_for([&] { return (second = find_entry(sim, kSimSignOn, size_t(signoff), &second_signon)) >= 0; },
                    90000))
      break;
    file_written = true;  // the second sign-on could only resume from it
    if (!wait_for([&] { return (version2 = find_entry(sim, 130, size_t(second))) >= 0; }, 60000)) break;
    file_gone = !has_file(home, "RECOVERY2");
  } while (false);
  const sim_stats st = sim_get_stats(sim);
  const std::vector<sim_entry> transcript = sim_transcript(sim);
  uint32_t lengths[kSimExchanges] = {}, sigs[kSimExchanges] = {};
  for (uint32_t i : {0u, 1u, 3u}) lengths[i] = sim_stream_length(sim, i), sigs[i] = sim_signature(sim, i);
  if (version2 < 0) {
    // Failed: the crash path flushes the program's log before it goes.
    kill(pid, SIGABRT);
    std::this_thread::sleep_for(std::chrono::seconds(3));
  }
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  sim_destroy(sim);
  // The program's own log, for a failure's message: its last lines, less
  // the model's reset chatter.
  std::string log_text;
  {
    std::ifstream in(home / "Ambit" / "log.txt");
    log_text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    std::string kept;
    size_t at = 0;
    while (at < log_text.size()) {
      size_t end = log_text.find('\n', at);
      if (end == std::string::npos) end = log_text.size();
      const std::string line = log_text.substr(at, end - at);
      if (line.find(" reset ") == std::string::npos && line.find("track") == std::string::npos) kept += line + "\n";
      at = end + 1;
    }
    // Up to the crash path's own lines.
    const size_t crash = kept.find("tracer not enabled");
    if (crash != std::string::npos) kept.resize(crash);
    log_text = kept.size() > 8000 ? kept.substr(kept.size() - 8000) : kept;
  }
  std::error_code ec;
  fs::remove_all(home, ec);

  ASSERT_GE(first, 0) << "no sign-on";
  ASSERT_GE(version1, 0) << "no version report";
  ASSERT_GE(signoff, 0) << "the restart request was not answered\n" << log_text;
  EXPECT_EQ(1u, transcript[size_t(signoff)].a);  // signed off to restart
  ASSERT_GE(second, 0) << "no second sign-on\n" << log_text;
  EXPECT_TRUE(file_written);
  // The first sign-on read every stream from its start; the second resumes
  // each where the first stopped: no snapshot is served again.
  for (uint32_t i : {0u, 1u, 3u}) {
    SCOPED_TRACE(i);
    EXPECT_NE(lengths[i], first_signon.positions[i]);
    EXPECT_EQ(lengths[i], second_signon.positions[i]);
    EXPECT_EQ(sigs[i], second_signon.signatures[i]);
  }
  EXPECT_EQ(3, snapshots_first);
  EXPECT_EQ(snapshots_first, st.snapshots);
  EXPECT_EQ(2, st.logins);
  ASSERT_GE(version2, 0) << "no version report after the restart";
  EXPECT_EQ(0, transcript[size_t(version2)].data.empty() ? 1 : 0);
  EXPECT_TRUE(file_gone);
}

}  // namespace
