// The side channel and the control messages that feed it or the start-up
// flow: 241 blocks queued on one thread and delivered on another, the
// payload limit, a registered subsystem's key and payload
// deciphered (OpenSSL as the reference cipher), the 240 password reply
// through the out-of-band queue and its global bit, and 252.
#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <string>
#include <thread>
#include <vector>

#include "log.h"
#include "oob.h"
#include "ssclient.h"
#include "ssnotify.h"
#include "ssproto.h"
#include "subsys.h"
#include "testclient.h"
#include "testlog.h"
#include "testmodel.h"
#include "testwire.h"

namespace {

using namespace testwire;

const auto* g_env = ::testing::AddGlobalTestEnvironment(new ClientRuntime());

int no_sleep(int32_t) { return 0; }

Bytes side_msg(uint32_t number, uint32_t flag, const Bytes& payload) {
  return cat({{0x00, 241}, vint(number), vint(flag), vint(uint32_t(payload.size())), payload});
}

// AES-256-ECB by OpenSSL, no padding.
Bytes openssl_ecb_encrypt(const uint8_t* key, const Bytes& plain) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(ctx, EVP_aes_256_ecb(), nullptr, key, nullptr);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  Bytes out(plain.size() + 16);
  int n = 0, m = 0;
  EVP_EncryptUpdate(ctx, out.data(), &n, plain.data(), int(plain.size()));
  EVP_EncryptFinal_ex(ctx, out.data() + n, &m);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(size_t(n + m));
  return out;
}

uint32_t g_global;
int g_owner;
void on_change(const ss_change* c, void*, uint64_t, uint32_t) {
  if (!c->instrument) g_global |= c->mask;
}

class Channel : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, ssclient_init(0, kTerminalModelOptions, kTerminalExchangeFlags));
    ssclient_enable_yield(0);
    ssclient_set_sleep_hook(no_sleep);
    g_global = 0;
    ASSERT_EQ(0, ssnotify_add_wild(0xffffffffu, on_change, &g_owner, 0, 0));
  }
  void TearDown() override {
    ssnotify_remove_wild(&g_owner);
    ssclient_fini();
  }
  int decode(const Bytes& b) { return ssproto_decode(b.data(), int32_t(b.size())); }
  uint32_t globals() {
    ssnotify_deliver();
    uint32_t g = g_global;
    g_global = 0;
    return g;
  }
};

TEST_F(Channel, BlocksQueuedOnTheIoThreadAreDeliveredAtTheNextTick) {
  const Bytes a = side_msg(7, 2, Bytes(16, 0xab)), b = side_msg(300, 3, Bytes(kSubsysPayloadMax, 1));
  // The io thread's side: both messages between two ticks.
  std::thread io([&] {
    EXPECT_EQ(int(a.size()), ssproto_decode(a.data(), int32_t(a.size())));
    EXPECT_EQ(int(b.size()), ssproto_decode(b.data(), int32_t(b.size())));
  });
  io.join();
  LogCapture log;
  EXPECT_EQ(0, subsys_deliver());
  EXPECT_EQ(1, log.count("can't find subsys #7"));
  EXPECT_EQ(1, log.count("can't find subsys #300"));
  LogCapture again;
  EXPECT_EQ(0, subsys_deliver());  // nothing pending: nothing read
  EXPECT_TRUE(again.empty());
}

TEST_F(Channel, PayloadLimitIsOneFigure) {
  EXPECT_EQ(-1, decode(side_msg(7, 2, Bytes(kSubsysPayloadMax + 1, 1))));
  EXPECT_EQ(-1, subsys_queue_block(7, 2, Bytes(kSubsysPayloadMax + 1, 1).data(), kSubsysPayloadMax + 1));
  EXPECT_EQ(0, subsys_queue_block(7, 2, Bytes(kSubsysPayloadMax, 1).data(), kSubsysPayloadMax));
  // A queue the user-interface thread does not empty stops growing.
  const Bytes big(kSubsysPayloadMax, 2);
  int queued = 0;
  while (subsys_queue_block(8, 2, big.data(), kSubsysPayloadMax) == 0) queued++;
  EXPECT_LT(queued, kSubsysQueuedMax / kSubsysPayloadMax);
  LogCapture log;
  EXPECT_EQ(int(side_msg(8, 2, big).size()), decode(side_msg(8, 2, big)));  // consumed, refused
  EXPECT_EQ(1, log.count("subsys failed"));
  EXPECT_EQ(0, subsys_deliver());
  EXPECT_EQ(0, subsys_queue_block(8, 2, big.data(), kSubsysPayloadMax));  // room again
  // A short 241 waits.
  const Bytes m = side_msg(7, 2, Bytes(40, 1));
  EXPECT_EQ(0, ssproto_decode(m.data(), int32_t(m.size() - 1)));
}

TEST_F(Channel, KeyThenPayloadReachTheRegisteredSubsystem) {
  static std::vector<std::pair<uint32_t, Bytes>> got;
  got.clear();
  subsys_record rec = {};
  rec.number = 12;
  rec.callback = [](subsys_record*, uint32_t flag, const uint8_t* p, int32_t n) {
    got.push_back({flag, Bytes(p, p + n)});
  };
  subsys_register(&rec);

  Bytes key(kSubsysKeyBytes);
  for (int i = 0; i < kSubsysKeyBytes; i++) key[i] = uint8_t(i * 13 + 5);
  const Bytes secret = {'s', 'e', 'c', 'r', 'e', 't', ' ', 'p', 'a', 'y', 'l', 'o', 'a', 'd', '!', '!'};
  ASSERT_EQ(int(side_msg(12, 0, Bytes(32)).size()),
            decode(side_msg(12, 0, openssl_ecb_encrypt(subsys_builtin_key(), key))));
  ASSERT_GT(decode(side_msg(12, 2, openssl_ecb_encrypt(key.data(), secret))), 0);
  ASSERT_GT(decode(side_msg(12, 1, openssl_ecb_encrypt(key.data(), secret))), 0);
  ASSERT_GT(decode(side_msg(12, 2, openssl_ecb_encrypt(key.data(), secret))), 0);
  LogCapture log;
  EXPECT_EQ(0, subsys_deliver());
  EXPECT_EQ(Bytes(key), Bytes(rec.key, rec.key + kSubsysKeyBytes));
  ASSERT_EQ(2u, got.size());  // flag 1 ended the registration
  EXPECT_EQ(2u, got[0].first);
  EXPECT_EQ(secret, got[0].second);
  EXPECT_EQ(1u, got[1].first);
  EXPECT_EQ(1, log.count("can't find subsys #12"));
}

TEST_F(Channel, PasswordReplyGoesThroughTheOutOfBandQueue) {
  LogCapture log;
  const Bytes m = {0x00, 240, 3};
  ASSERT_EQ(3, decode(m));
  EXPECT_EQ(kGlobalPassword, globals() & kGlobalPassword);
  int32_t type, n;
  const uint8_t* data;
  ASSERT_EQ(1, oob_pop(&type, &data, &n));
  EXPECT_EQ(240, type);
  ASSERT_EQ(4, n);
  int32_t value;
  memcpy(&value, data, 4);
  EXPECT_EQ(3, value);
  EXPECT_EQ(0, oob_pop(&type, &data, &n));
  // Every position stays as it was.
  for (int i = 0; i < 4; i++) EXPECT_EQ(kProtoPositionNone, ssproto_exchange_position(i));
}

// A reply that cannot be queued raises no bit: the flow would find nothing.
TEST_F(Channel, FailedPasswordPushRaisesNoBit) {
  oob_fini();
  LogCapture log;
  const Bytes m = {0x00, 240, 0};
  ASSERT_EQ(3, decode(m));
  EXPECT_EQ(1, log.count("can't put 4b passwd oob"));
  EXPECT_EQ(0u, globals() & kGlobalPassword);
  ASSERT_EQ(0, oob_init());
}

TEST_F(Channel, DebugNumberIsLogged) {
  LogCapture log;
  const Bytes m = cat({{0x00, 252}, vint(4242)});
  ASSERT_EQ(int(m.size()), decode(m));
  EXPECT_EQ(1, log.count("DEBUG 4242"));
}

}  // namespace
