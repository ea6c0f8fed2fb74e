// Program-update records: the server pushes a new program version as a run
// of records (the version, files to store from reassembly buffers, the final
// write) and sends test blocks and deltas. These readers only read and check
// them; the program-update module applies what they return.
//
// Names become file names in the data tree: a name with '/', '\', a leading
// '.' or a control character is refused as bad data, like a name that does
// not fit its buffer. Each reader returns the bytes used, 0 while the record
// is incomplete, or -1 after an ERROR line.
#pragma once
#include <cstdint>

#include "growbuf.h"

constexpr int32_t kUpdateVersionSize = 32;  // buffer sizes, terminator included
constexpr int32_t kUpdateFileSize = 14;
constexpr int32_t kUpdateTextSize = 32;
constexpr int32_t kUpdateTestSize = 16;

int decupdate_decode_version(const uint8_t* data, int32_t n, char version[kUpdateVersionSize]);
int decupdate_decode_store(const uint8_t* data, int32_t n, char file[kUpdateFileSize], uint32_t* buffer);
int decupdate_decode_write(const uint8_t* data, int32_t n, char text[kUpdateTextSize]);
// A test block: its name and the framed block, whose payload is appended to gb.
int decupdate_decode_test(const uint8_t* data, int32_t n, char name[kUpdateTestSize], growbuf* gb);
// A test delta: its name and the delta's bytes (a view into data).
int decupdate_decode_test_delta(const uint8_t* data, int32_t n, char name[kUpdateTestSize], const uint8_t** delta,
                                int32_t* length);
