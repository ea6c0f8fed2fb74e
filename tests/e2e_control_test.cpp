// End to end against the market simulator on loopback, with the real io
// thread: the volume-comparison set the client asks for when it comes
// online; an auction, runs of trades and depth clears written by the
// simulator into a live exchange stream; a program update sent as a large
// transfer, verified and stored in a temporary data root; and a password
// change that the simulator deciphers and answers, delivered through the
// out-of-band queue.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "growbuf.h"
#include "localdata.h"
#include "oob.h"
#include "plat.h"
#include "sim.h"
#include "sim_control.h"
#include "sim_msg.h"
#include "ssclient.h"
#include "ssio.h"
#include "ssmodel.h"
#include "ssnotify.h"
#include "ssproto.h"
#include "sstime.h"
#include "ssvcmp.h"
#include "testclient.h"
#include "testclock.h"
#include "testmodel.h"

namespace {

int short_sleep(int32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(std::min<int32_t>(ms, 5)));
  return 0;
}

const auto* g_env = ::testing::AddGlobalTestEnvironment(new ClientRuntime);

const ss_time kDay = sstime_pack_date(12, 3, 2014);
ss_time at(int h, int mi, int s) { return sstime_pack(s, mi, h, 12, 3, 2014); }

// The core lock, as the user-interface thread takes it.
class ui_lock {
 public:
  ui_lock() { ssclient_block(); }
  ~ui_lock() { ssclient_unblock(); }
};

std::atomic<uint32_t> g_global{0};
int g_owner;
void on_change(const ss_change* c, void*, uint64_t, uint32_t) {
  if (!c->instrument) g_global |= c->mask;
}

class Control : public ::testing::Test {
 protected:
  void SetUp() override {
    sim = sim_create(sim_options{});
    sim_user u;
    u.name = "alice";
    u.password = "secret";
    ASSERT_EQ(0, sim_add_user(sim, u));
    sim_exchange e;
    e.index = 0;
    e.name = ssmodel_exchange_name(0);
    e.date = kDay;
    e.time = at(9, 0, 0);
    e.state = 50;
    ASSERT_EQ(0, sim_add_exchange(sim, e));
    for (const char* c : {"BHP", "RIO", "ANZ"}) ASSERT_EQ(0, sim_add_instrument(sim, 0, c));

    ASSERT_EQ(0, ssclient_init(0, kTerminalModelOptions, kTerminalExchangeFlags));
    char tmpl[] = "/tmp/ambit-e2e-control-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    root = tmpl;
    ASSERT_EQ(0, localdata_set_root(root.c_str()));
    ssclient_enable_locking();
    ssclient_set_login_site("desk");
    ssclient_set_login("alice", "secret");
    ssclient_set_sleep_hook(short_sleep);
    g_global = 0;
    {
      ui_lock lock;
      ASSERT_EQ(0, ssnotify_add_wild(0xffffffffu, on_change, &g_owner, 0, 0));
    }
    const int port = sim_start(sim, 0);
    ASSERT_GT(port, 0);
    ssio_set_servers(0);
    ssio_set_server("127.0.0.1", port);
    thread = plat_thread_create(
        [](void* arg) {
          auto* self = static_cast<Control*>(arg);
          ssclient_run();
          self->done = true;
        },
        this);
    ASSERT_GE(thread, 0);
    ASSERT_TRUE(wait_for(
        [this] {
          pump();
          return ssclient_is_online() != 0;
        },
        10000));
    hdr = sim_hdr_create(false);
    sim_hdr_restart(hdr);
  }

  void TearDown() override {
    if (thread >= 0) {
      ssclient_stop();
      EXPECT_TRUE(wait_for([this] { return done.load(); }, 10000));
      plat_thread_join(thread);
    }
    sim_hdr_destroy(hdr);
    sim_destroy(sim);
    {
      ui_lock lock;
      ssnotify_remove_wild(&g_owner);
    }
    ssclient_fini();
    EXPECT_EQ(0, system(("rm -rf '" + root + "'").c_str()));
  }

  void pump() {
    ui_lock lock;
    ssclient_deliver();
  }
  // Appends the messages to exchange 0's stream and waits until the client
  // stands at its end.
  void stream(growbuf* gb) {
    ASSERT_EQ(0, sim_append(sim, 0, gb->data, gb->len));
    growbuf_truncate(gb, 0);
    ASSERT_TRUE(wait_for(
        [this] {
          pump();
          return ssproto_exchange_position(0) == sim_stream_length(sim, 0);
        },
        10000));
  }

  sim_server* sim = nullptr;
  sim_hdr* hdr = nullptr;
  std::string root;
  int32_t thread = -1;
  std::atomic<bool> done{false};
};

// Online, the client asks for the current set of the exchange's quarter
// (09:00 on the simulator's clock). Once the stream has named the stocks the
// set is asked for again; the simulator's figures put each quarter's volume
// in a minute from the fifth on, so just after 09:00 every stock shows
// exactly its base.
TEST_F(Control, ComparisonSetArrivesWhenOnline) {
  ASSERT_TRUE(wait_for(
      [] {
        ui_lock lock;
        return ssvcmp_current_quarter(0) != 0;
      },
      10000));
  {
    ui_lock lock;
    EXPECT_EQ(900u, ssvcmp_current_quarter(0));
  }
  growbuf gb;
  ASSERT_EQ(0, growbuf_init(&gb, 4096, 4096));
  for (const char* code : {"BHP", "RIO", "ANZ"}) ASSERT_EQ(0, sim_msg_open_balance(&gb, hdr, at(9, 0, 1), code, 1));
  stream(&gb);
  growbuf_free(&gb);
  {
    ui_lock lock;
    ssvcmp_request_current();
  }
  auto based = [] {
    ui_lock lock;
    const ss_stock* s = ssmodel_find_stock(ssmodel_exchange(0), "ANZ");
    return s && s->vcmp_volume[2] == sim_vcmp_of("ANZ").base;
  };
  ASSERT_TRUE(wait_for(based, 10000));
  ui_lock lock;
  for (const char* code : {"BHP", "RIO", "ANZ"}) {
    SCOPED_TRACE(code);
    const ss_stock* s = ssmodel_find_stock(ssmodel_exchange(0), code);
    ASSERT_NE(nullptr, s);
    for (int r = 0; r < 3; r++) EXPECT_EQ(sim_vcmp_of(code).base, s->vcmp_volume[r]) << r;
  }
}

TEST_F(Control, AuctionsRunsOfTradesAndClears) {
  growbuf gb;
  ASSERT_EQ(0, growbuf_init(&gb, 4096, 4096));
  uint32_t bhp_ref = 0, rio_ref = 0;
  // Crossed books on BHP, one-sided on RIO.
  sim_depth d;
  d.price = 10100;
  d.volume = 800;
  ASSERT_EQ(0, sim_msg_depth(&gb, hdr, 1, at(10, 0, 0), "BHP", d, &bhp_ref, false));
  d.price = 10000;
  d.volume = 700;
  ASSERT_EQ(0, sim_msg_depth(&gb, hdr, 14, at(10, 0, 0), "BHP", d, &bhp_ref, false));
  d.price = 500;
  d.volume = 10;
  ASSERT_EQ(0, sim_msg_depth(&gb, hdr, 1, at(10, 0, 1), "RIO", d, &rio_ref, false));
  ASSERT_EQ(0, sim_msg_auction(&gb, hdr, at(10, 0, 2), "BHP", 10050, 700, &bhp_ref));
  ASSERT_EQ(0, sim_msg_open_balance(&gb, hdr, at(10, 0, 2), "BHP", 100));
  stream(&gb);
  {
    ui_lock lock;
    ss_stock* bhp = ssmodel_find_stock(ssmodel_exchange(0), "BHP");
    ASSERT_NE(nullptr, bhp);
    EXPECT_NE(0u, bhp->auction.price);
    EXPECT_EQ(100u, bhp->open_balance);
  }

  ASSERT_EQ(0, sim_msg_auction_clear(&gb, hdr, at(10, 0, 3), "BHP"));
  ASSERT_EQ(0, sim_msg_multi_trade(&gb, hdr, kSimMsgMultiTrade, at(10, 0, 4), "BHP", 10040, {10, 20, 30}, &bhp_ref));
  ASSERT_EQ(0, sim_msg_multi_trade(&gb, hdr, kSimMsgMultiAtLast, at(10, 0, 5), "BHP", 0, {5}, &bhp_ref));
  ASSERT_EQ(0, sim_msg_clear_depth(&gb, hdr, kSimMsgClearBid, at(10, 0, 6), "BHP"));
  stream(&gb);
  {
    ui_lock lock;
    ss_stock* bhp = ssmodel_find_stock(ssmodel_exchange(0), "BHP");
    ss_stock* rio = ssmodel_find_stock(ssmodel_exchange(0), "RIO");
    EXPECT_EQ(0u, bhp->auction.price);
    EXPECT_EQ(10040u, bhp->last);
    EXPECT_EQ(65u, bhp->volume);
    EXPECT_EQ(nullptr, bhp->levels[0]);
    EXPECT_NE(nullptr, bhp->levels[1]);
    EXPECT_NE(nullptr, rio->levels[0]);
  }

  ASSERT_EQ(0, sim_msg_clear_exchange(&gb));
  stream(&gb);
  {
    ui_lock lock;
    ss_stock* bhp = ssmodel_find_stock(ssmodel_exchange(0), "BHP");
    ss_stock* rio = ssmodel_find_stock(ssmodel_exchange(0), "RIO");
    EXPECT_EQ(nullptr, bhp->levels[1]);
    EXPECT_EQ(nullptr, rio->levels[0]);
  }
  growbuf_free(&gb);
}

TEST_F(Control, ProgramUpdateIsStoredWhole) {
  std::vector<sim_program_file> files(2);
  files[0].name = "ambit_L64";
  files[0].data.resize(300000);
  for (size_t i = 0; i < files[0].data.size(); i++) files[0].data[i] = uint8_t(i * 2654435761u >> 13);
  files[1].name = "notes.txt";
  files[1].data = {'n', 'e', 'w'};
  growbuf gb;
  ASSERT_EQ(0, growbuf_init(&gb, 1 << 20, 1 << 20));
  ASSERT_EQ(0, sim_msg_program_update(&gb, "7.2", files, 32000));
  ASSERT_EQ(1, sim_send(sim, "alice", gb.data, gb.len, false));
  growbuf_free(&gb);
  ASSERT_TRUE(wait_for(
      [this] {
        pump();
        return (g_global.load() & kGlobalProgramUpdate) != 0;
      },
      10000));
  for (const sim_program_file& f : files) {
    std::ifstream in(root + "/Program/" + f.name, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string got = ss.str();
    EXPECT_EQ(std::string(f.data.begin(), f.data.end()), got) << f.name;
  }
  EXPECT_FALSE(std::ifstream(root + "/Program/ambit_L64.upd~").good());  // no temporary left
}

TEST_F(Control, PasswordChangeRoundTrips) {
  ASSERT_EQ(0, ssclient_change_password("n3wpass"));
  ASSERT_TRUE(wait_for(
      [this] {
        pump();
        return (g_global.load() & kGlobalPassword) != 0;
      },
      10000));
  int32_t type, n;
  const uint8_t* data;
  ASSERT_EQ(1, oob_pop(&type, &data, &n));
  EXPECT_EQ(240, type);
  ASSERT_EQ(4, n);
  int32_t result;
  memcpy(&result, data, 4);
  EXPECT_EQ(0, result);
  // The simulator deciphered the new password.
  bool seen = false;
  for (const sim_entry& e : sim_transcript(sim))
    if (e.kind == 3 && e.text == "n3wpass") seen = true;
  EXPECT_TRUE(seen);
}

}  // namespace
