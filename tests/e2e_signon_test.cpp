// End to end against the market simulator on loopback: the io thread runs
// ssclient_run on a thread of its own while this thread plays the user
// interface. Sign-on to "Online" with the follow-up requests and the ACK; a
// wrong password; a dropped link and the resume at the stream positions;
// error 13 and its full reset; message 251; a silent server found by the
// heartbeat; garbage and a close in the middle of a message. Every wait is
// bounded, and time jumps go through the clock seam.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "growbuf.h"
#include "log.h"
#include "plat.h"
#include "sim.h"
#include "sim_msg.h"
#include "ssclient.h"
#include "sserr.h"
#include "ssio-direct.h"
#include "ssio.h"
#include "ssmodel.h"
#include "ssmsg.h"
#include "ssproto.h"
#include "sstime.h"
#include "testclient.h"
#include "testclock.h"
#include "testmodel.h"
#include "testsim.h"

namespace {

const auto* g_env = ::testing::AddGlobalTestEnvironment(new ClientRuntime(offset_clock));

class SignOnConcurrency : public ::testing::Test {
 protected:
  void SetUp() override {
    g_clock_offset = 0;
    ASSERT_NO_FATAL_FAILURE(make_test_sim(&sim, 50, offset_clock));
    append_stream(0, 3);
    append_stream(1, 2);
    append_stream(3, 1);
    port = sim_start(sim, 0);
    ASSERT_GT(port, 0);

    ASSERT_NO_FATAL_FAILURE(start_test_client(port));
  }

  void TearDown() override {
    stop();
    sim_destroy(sim);
    ssclient_fini();
  }

  // `n` units of stream data (exchange state messages, which count).
  void append_stream(uint32_t index, int n) {
    growbuf gb;
    growbuf_init(&gb, 64, 64);
    for (int i = 0; i < n; i++) {
      growbuf_reset(&gb);
      sim_msg_exchange_state(&gb, 50);
      ASSERT_EQ(0, sim_append(sim, index, gb.data, gb.len));
    }
    growbuf_free(&gb);
  }

  void run() {
    done = false;
    thread = plat_thread_create(
        [](void* arg) {
          auto* self = static_cast<SignOnConcurrency*>(arg);
          self->rc = ssclient_run();
          self->done = true;
        },
        this);
    ASSERT_GE(thread, 0);
  }

  // Waits for the thread to end by itself.
  bool join_within(int ms) {
    if (thread < 0) return true;
    if (!wait_for([this] { return done.load(); }, ms)) return false;
    plat_thread_join(thread);
    plat_thread_cancel(thread);  // the thread has ended: this frees its slot
    thread = -1;
    return true;
  }

  void stop() {
    if (thread < 0) return;
    ssclient_stop();
    EXPECT_TRUE(join_within(5000));
  }

  // The sign-on entry number `nth` (from 1), waiting for it.
  sim_entry sign_on(int nth) {
    sim_entry e;
    size_t from = 0;
    for (int i = 0; i < nth; i++) {
      int at = sim_wait_entry(sim, kSimSignOn, from, 5000, &e);
      EXPECT_GE(at, 0) << "sign-on " << nth;
      if (at < 0) return e;
      from = static_cast<size_t>(at) + 1;
    }
    return e;
  }

  // The connections the client made, counted once the simulator has taken
  // every one offered to it: one thread accepts them in order, so once a
  // probe of this test's own has its reply, every earlier one is counted.
  int32_t client_connections() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_GE(fd, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    char greeting[32];
    const int32_t n = ssio_direct_greeting(greeting, sizeof greeting);
    const timeval wait = {5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    char first = 0;
    const bool answered = connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
                          send(fd, greeting, static_cast<size_t>(n), MSG_NOSIGNAL) == n && recv(fd, &first, 1, 0) == 1;
    close(fd);
    EXPECT_TRUE(answered) << "the probe got no reply";
    return sim_get_stats(sim).connections - 1;
  }

  bool online_with_logins(int logins) {
    return sim_wait_logins(sim, logins, 5000) && wait_for([] { return ssclient_is_online() != 0; });
  }

  void expect_positions_of_the_sim(const sim_entry& e) {
    for (uint32_t i : {0u, 1u, 3u}) {
      EXPECT_EQ(sim_signature(sim, i), e.signatures[i]) << i;
      EXPECT_EQ(sim_stream_length(sim, i), e.positions[i]) << i;
    }
  }

  void expect_full_restart(const sim_entry& e) {
    for (uint32_t i : {0u, 1u, 3u}) {
      EXPECT_EQ(0u, e.signatures[i]) << i;
      EXPECT_EQ(0xffffffffu, e.positions[i]) << i;
    }
  }

  sim_server* sim = nullptr;
  int port = 0;
  plat_slot thread = -1;
  std::atomic<bool> done{false};
  std::atomic<int> rc{99};
};

TEST_F(SignOnConcurrency, SignOnGoesOnlineAndSendsTheFollowUps) {
  run();
  sim_entry s = sign_on(1);
  EXPECT_EQ("alice", s.text);
  EXPECT_EQ("desk", s.site);
  EXPECT_EQ(6u, s.c);  // platform code
  EXPECT_EQ(0u, s.a);  // options
  expect_full_restart(s);
  ASSERT_TRUE(online_with_logins(1));
  // Requests 80 and 34 for every exchange the user sees, then 92, answered by
  // an ACK.
  ASSERT_TRUE(wait_for([] { return ssclient_ack_count() == 1; }));
  std::vector<std::pair<int32_t, int32_t>> got;
  for (const sim_entry& e : sim_transcript(sim))
    if (e.kind == 80 || e.kind == 34 || e.kind == 92) got.emplace_back(e.kind, e.exchange);
  std::vector<std::pair<int32_t, int32_t>> want = {{80, 0}, {80, 1}, {80, 2}, {80, 3}, {34, 0},
                                                   {34, 1}, {34, 2}, {34, 3}, {92, -1}};
  EXPECT_EQ(want, got);
  EXPECT_EQ(1, ssclient_login_done());
  EXPECT_EQ(1, ssclient_may_reconnect());
  EXPECT_EQ(1, ssclient_logged_in());
  char status[kSsmsgTextMax + 1];
  ssmsg_get(status);
  EXPECT_STREQ("Online", status);
  // The catch-up brought every stream to its end.
  for (int32_t i : {0, 1, 3})
    EXPECT_TRUE(wait_for([&] { return ssproto_exchange_position(i) == sim_stream_length(sim, i); })) << i;
  stop();
  EXPECT_EQ(0, rc.load());
  EXPECT_EQ(0, ssclient_connecting());
}

TEST_F(SignOnConcurrency, ExchangeClocksAreCurrentAtALateSignOn) {
  // The server set its clocks to the local time 26 s before this sign-on.
  const ss_time then = sstime_add_seconds(sstime_now(), -26);
  for (uint32_t i = 0; i < 4; i++) {
    sim_exchange e;
    e.index = i;
    e.name = ssmodel_exchange_name(static_cast<int32_t>(i));
    e.date = then & ~kSstimeSecondsMask;
    e.time = then;
    e.state = 50;
    ASSERT_EQ(0, sim_add_exchange(sim, e));
  }
  g_clock_offset += 26000;
  run();
  ASSERT_TRUE(online_with_logins(1));
  for (int32_t i = 0; i < 4; i++) {
    const int32_t behind = sstime_diff_seconds(sstime_now(), ssmodel_exchange_now(ssmodel_exchange(i)));
    EXPECT_LE(std::abs(behind), 2) << ssmodel_exchange_name(i);
  }
}

TEST_F(SignOnConcurrency, WrongPasswordGivesUpWithoutASecondConnection) {
  ssclient_set_login(nullptr, "wrong");
  run();
  ASSERT_TRUE(join_within(5000));
  EXPECT_EQ(-1, rc.load());
  EXPECT_EQ(kSserrBadPassword, sserr_last_code());
  EXPECT_EQ(kResetAfterGiveUp, ssclient_reset_flags());
  EXPECT_EQ(0, ssclient_may_reconnect());
  EXPECT_EQ(1, client_connections());
  EXPECT_EQ(1, sim_get_stats(sim).refusals);
}

TEST_F(SignOnConcurrency, DroppedLinkReconnectsAtTheStreamPositions) {
  run();
  ASSERT_TRUE(online_with_logins(1));
  append_stream(0, 2);  // live data while online
  ASSERT_TRUE(wait_for([&] { return ssproto_exchange_position(0) == sim_stream_length(sim, 0); }));
  ASSERT_EQ(1, sim_disconnect(sim, nullptr));
  sim_entry s = sign_on(2);
  expect_positions_of_the_sim(s);
  EXPECT_EQ(kClientOptReconnected | kClientOptResumed, s.a);  // the link had been online
  ASSERT_TRUE(online_with_logins(2));
  EXPECT_EQ(0u, ssproto_expected_bytes());  // nothing to catch up
}

TEST_F(SignOnConcurrency, Error13ReconnectsToTheSameServerWithAFullReset) {
  LogCapture log;
  run();
  ASSERT_TRUE(online_with_logins(1));
  ASSERT_EQ(1, sim_kick(sim, "alice", kSimErrResubscribe, 0));
  sim_entry s = sign_on(2);
  expect_full_restart(s);
  ASSERT_TRUE(online_with_logins(2));
  stop();
  const char* host = nullptr;
  int32_t p = 0;
  ASSERT_EQ(0, ssio_current_server(&host, &p));
  EXPECT_STREQ("127.0.0.1", host);
  EXPECT_EQ(port, p);
  EXPECT_EQ(1, log.count("can't resubscribe"));
  EXPECT_EQ(0, log.count("switching to server"));
}

TEST_F(SignOnConcurrency, DroppedMessageEndsTheThreadWithoutReconnecting) {
  run();
  ASSERT_TRUE(online_with_logins(1));
  growbuf gb;
  growbuf_init(&gb, 16, 16);
  sim_msg_dropped(&gb);
  ASSERT_EQ(1, sim_send(sim, "alice", gb.data, gb.len, true));
  growbuf_free(&gb);
  ASSERT_TRUE(join_within(5000));
  EXPECT_EQ(0, rc.load());
  EXPECT_EQ(1, ssclient_dropped());
  EXPECT_EQ(1, ssclient_signed_off_flag());
  EXPECT_EQ(0, ssclient_is_online());
  EXPECT_EQ(1, client_connections());
}

TEST_F(SignOnConcurrency, SilentServerGetsAHeartbeatThenTheLinkIsDropped) {
  sim_misbehaviour how;
  how.mode = SIM_NO_READ;  // after the accept sequence the server neither reads nor answers
  sim_set_misbehaviour(sim, how);
  run();
  ASSERT_TRUE(online_with_logins(1));
  sim_set_misbehaviour(sim, sim_misbehaviour());  // the next link is normal
  // Every exchange is in state 50: 60 s of silence ask for a heartbeat. A
  // pass that was taking the last bytes of the catch-up as the clock jumped
  // counts them as new: jump again then.
  bool beat = false;
  for (int i = 0; i < 3 && !beat; i++) {
    g_clock_offset += 61000;
    beat = wait_for([] { return ssclient_heartbeat_outstanding() != 0; }, 1000);
  }
  ASSERT_TRUE(beat);
  EXPECT_EQ(1, sim_get_stats(sim).connections);
  // No answer within 20 s: the link is dropped and made again.
  g_clock_offset += 21000;
  sim_entry s = sign_on(2);
  expect_positions_of_the_sim(s);
  ASSERT_TRUE(online_with_logins(2));
  EXPECT_EQ(0, ssclient_heartbeat_outstanding());
}

TEST_F(SignOnConcurrency, GarbageIsAProtocolErrorThenEveryStreamIsSentAgain) {
  LogCapture log;
  sim_misbehaviour how;
  how.mode = SIM_GARBAGE;  // an unknown message after the accept sequence
  sim_set_misbehaviour(sim, how);
  run();
  ASSERT_TRUE(wait_for([&] { return sim_get_stats(sim).connections >= 1; }));
  sim_set_misbehaviour(sim, sim_misbehaviour());
  sim_entry s = sign_on(2);
  expect_full_restart(s);  // the protocol error reset every stream
  ASSERT_TRUE(online_with_logins(2));
  uint32_t full = ssproto_expected_bytes();
  uint32_t streams = sim_stream_length(sim, 0) + sim_stream_length(sim, 1) + sim_stream_length(sim, 3);
  EXPECT_GE(full, streams);  // every stream again, with the exchange selections
  for (int32_t i : {0, 1, 3})
    EXPECT_TRUE(wait_for([&] { return ssproto_exchange_position(i) == sim_stream_length(sim, i); })) << i;
  stop();
  EXPECT_EQ(1, log.count("proto error"));
}

TEST_F(SignOnConcurrency, CloseInTheMiddleOfAMessageReconnectsAndResumes) {
  run();
  ASSERT_TRUE(online_with_logins(1));
  for (int32_t i : {0, 1, 3})
    ASSERT_TRUE(wait_for([&] { return ssproto_exchange_position(i) == sim_stream_length(sim, i); })) << i;
  // The next link ends 20 bytes into the accept sequence, inside a message.
  sim_misbehaviour how;
  how.mode = SIM_CLOSE_AFTER;
  how.bytes = kSimReplyBytes + 20;
  sim_set_misbehaviour(sim, how);
  ASSERT_EQ(1, sim_disconnect(sim, nullptr));
  // Only the second link misbehaves: the next is accepted after a back-off.
  ASSERT_TRUE(wait_for([&] { return sim_get_stats(sim).connections >= 2; }));
  sim_set_misbehaviour(sim, sim_misbehaviour());
  sign_on(2);
  sim_entry s = sign_on(3);
  expect_positions_of_the_sim(s);  // the broken link changed no position
  ASSERT_TRUE(online_with_logins(3));
}

}  // namespace
