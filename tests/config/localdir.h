// A temporary per-user data root for the local settings tests, with the
// configuration module started on it, and helpers to put and take the files
// of its "Config" directory.
#pragma once
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "config/config.h"
#include "config/secret.h"
#include "dalloc.h"
#include "localdata.h"
#include "ssclient.h"
#include "startup/start.h"

class LocalDir : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/ambit-config-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    base_ = tmpl;
    ASSERT_EQ(0, localdata_init());
    ASSERT_EQ(0, localdata_set_root((base_ + "/data").c_str()));
    ASSERT_EQ(0, config_init());
    ssclient_set_restart(0);
    start_set_restart(0);
    ssclient_set_login("", "");
    ssclient_set_login_site("");
  }
  void TearDown() override {
    config_shutdown();
    localdata_fini();
    ssclient_set_restart(0);
    start_set_restart(0);
    std::error_code ec;
    std::filesystem::remove_all(base_, ec);
  }
  std::string path(const std::string& name) const { return base_ + "/data/Config/" + name; }
  void put(const std::string& name, const std::string& bytes) const {
    std::ofstream out(path(name), std::ios::binary | std::ios::trunc);
    out << bytes;
  }
  std::string take(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  bool exists(const std::string& name) const { return std::filesystem::exists(path(name)); }
  unsigned mode(const std::string& name) const {
    struct stat st;
    return stat(path(name).c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
  }
  // The plain text of a scrambled file, or "<fail>".
  static std::string unscrambled(const std::string& data) {
    char* out = nullptr;
    int32_t n = 0;
    if (secret_unscramble(data.data(), (int32_t)data.size(), &out, &n) < 0) return "<fail>";
    std::string s(out, (size_t)n);
    dalloc_free(out);
    return s;
  }
  std::string base_;
};
