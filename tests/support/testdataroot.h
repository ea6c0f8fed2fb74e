// Test support: a per-user data root in a fresh folder under /tmp, removed
// with everything in it when the object goes. Header-only.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "localdata.h"

class TempDataRoot {
 public:
  explicit TempDataRoot(const char* prefix = "ambit-data") {
    std::string tmpl = std::string("/tmp/") + prefix + "-XXXXXX";
    if (mkdtemp(tmpl.data())) root_ = tmpl;
    EXPECT_FALSE(root_.empty());
  }
  ~TempDataRoot() {
    std::error_code ec;
    if (!root_.empty()) std::filesystem::remove_all(root_, ec);
  }
  TempDataRoot(const TempDataRoot&) = delete;
  TempDataRoot& operator=(const TempDataRoot&) = delete;
  // Makes it the data directory's root (again: the client's stop forgets it).
  int use() const { return localdata_set_root(root_.c_str()); }
  const std::string& path() const { return root_; }
  std::string data_file(const std::string& name) const { return root_ + "/Cache/Data/" + name; }

 private:
  std::string root_;
};
