// The user configuration kept on the server, from its stored bytes to the
// records that need no window: the copy is inflated (or taken as plain text
// when it begins "version "), parsed into the configuration tree and its
// settings read; the quick keys, watchlists, scans and news feeds are
// rebuilt from it. load_remote applies the settings and reads the rest of
// the tree (alerts, chart styles, screens and windows) afterwards. Nothing
// here touches the window system. User-interface thread.
#pragma once
#include <cstdint>

// What the copy says about the session as a whole, as the copy gives it: a
// number the copy does not give is -1.
struct remote_settings {
  int32_t version;           // 1 or more once read
  int32_t upgrade;           // the upgrade level reached
  int32_t text_len;          // bytes of configuration text read
  int32_t style_size;        // the text size; below 0: keep the current one
  int32_t default_exchange;  // a permitted exchange's index, -1: keep the current one
  int32_t hilight_watched;   // 0 / 1, -1: keep the current one
};

constexpr int kRemoteRecordsRead = 0;
constexpr int kRemoteRecordsDamaged = 1;  // not inflatable, or no version
constexpr int kRemoteRecordsFailed = -1;  // no memory for the inflated text

// Reads the stored copy (length bytes; data need not end in NUL) into the
// configuration tree and *out, and loads the quick keys, watchlists, scans
// and feeds from it. kRemoteRecordsRead leaves the tree loaded for the rest
// of the reading; kRemoteRecordsDamaged has logged its reason ("can't
// decompress config", "no version present, aborting parse") and loaded no
// record; kRemoteRecordsFailed has logged "can't alloc %db for decompression".
int remote_records_load(const char* data, int32_t length, remote_settings* out);
