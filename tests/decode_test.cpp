// The codec's field encodings, both directions: one known-answer table that
// pins the bytes of every form (so a writer and reader that agree on a wrong
// layout still fail), every shorter prefix of each answer (0, nothing
// touched, nothing logged), the refusals and their log lines, and seeded
// round trips biased to the boundaries between forms.
#include "decode.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "encode.h"
#include "log.h"
#include "ssbroker.h"
#include "sstime.h"
#include "testlog.h"

namespace {

// A packed time laid out as sstime.h documents it (year - 1970, month, day,
// second of the day from the top bit down); checked against sstime_pack below.
constexpr ss_time T(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  return static_cast<ss_time>(y - 1970) << 26 | static_cast<ss_time>(mo) << 22 | static_cast<ss_time>(d) << 17 |
         static_cast<ss_time>(h * 3600 + mi * 60 + s);
}

constexpr ss_time kMorning = T(2014, 2, 10, 10, 0, 0);

enum Kind {
  kByte, kShort, kInt24, kInt32, kUint32, kUint32Alt, kIndexValue32, kVint, kVlong, kSigned, kString, kBlob,
  kCode, kBroker, kDate16, kDelta, kOffset, kPrice, kPriceNoRef, kVolume, kIndex, kIndexChange,
};

const char* const kKindNames[] = {
    "byte", "short", "int24", "int32", "uint32", "uint32_alt", "index_value32", "vint", "vlong", "signed", "string",
    "blob", "code", "broker", "date16", "delta", "offset", "price", "price(no ref)", "volume", "index",
    "index_change",
};

enum Dir { kBoth, kEncodeOnly, kDecodeOnly };

constexpr int kWhole = INT_MIN;  // the decoder uses every byte of the row

// One known answer. `v` is the value (signed values as two's complement),
// `text` the value of the text kinds; `st0`/`st1` the reference price
// (kPrice), the reference time (kDelta) or the running time (kOffset) before
// and after. An encode-only row with result -1 is a refusal; a decode-only
// row's result is what the reader returns for `hex`.
struct Row {
  Kind kind;
  Dir dir = kBoth;
  uint64_t v = 0;
  const char* text = "";
  const char* hex = "";
  int result = kWhole;
  uint64_t st0 = 0;
  uint64_t st1 = 0;
  int32_t cap = 64;
  const char* log = nullptr;  // a line that the -1 result must have logged
};

uint64_t S64(int64_t v) { return static_cast<uint64_t>(v); }

// Helper rows whose state is the identity (st1 = st0) are written with st1
// spelled out anyway: a reference that must not move is part of the answer.
const Row kTable[] = {
    // Fixed width.
    {.kind = kByte, .v = 0, .hex = "00"},
    {.kind = kByte, .v = 255, .hex = "FF"},
    {.kind = kByte, .dir = kEncodeOnly, .v = 256, .result = -1, .log = "can't encode 256 as a byte"},
    {.kind = kShort, .v = 0x1234, .hex = "12 34"},
    {.kind = kShort, .v = 65535, .hex = "FF FF"},
    {.kind = kShort, .dir = kEncodeOnly, .v = 65536, .result = -1, .log = "can't encode 65536 as a short"},
    {.kind = kInt24, .dir = kDecodeOnly, .v = 0x010203, .hex = "01 02 03"},
    {.kind = kInt32, .v = 0x01020304, .hex = "01 02 03 04"},
    {.kind = kUint32, .v = 0xFFFFFFFE, .hex = "FF FF FF FE"},
    {.kind = kUint32Alt, .v = 0x80000001, .hex = "80 00 00 01"},
    {.kind = kIndexValue32, .dir = kDecodeOnly, .v = 0x0A0B0C0D, .hex = "0A 0B 0C 0D"},

    // vint.
    {.kind = kVint, .v = 0, .hex = "00"},
    {.kind = kVint, .v = 127, .hex = "7F"},
    {.kind = kVint, .v = 128, .hex = "80 02"},
    {.kind = kVint, .v = (1u << 14) - 1, .hex = "BF FF"},
    {.kind = kVint, .v = 1u << 14, .hex = "C0 00 02"},
    {.kind = kVint, .v = (1u << 21) - 1, .hex = "DF FF FF"},
    {.kind = kVint, .v = 1u << 21, .hex = "E0 00 00 02"},
    {.kind = kVint, .v = (1u << 28) - 1, .hex = "EF FF FF FF"},
    {.kind = kVint, .v = 1u << 28, .hex = "F0 00 00 00 10"},
    {.kind = kVint, .v = 0xFFFFFFFF, .hex = "F0 FF FF FF FF"},
    {.kind = kVint, .v = 0x12345, .hex = "C5 1A 09"},  // 0x12345: low 5 bits 5, >> 5 = 0x91A
    {.kind = kVint, .dir = kDecodeOnly, .v = 0x04030201, .hex = "F7 01 02 03 04"},  // head's low bits ignored
    {.kind = kVint, .dir = kDecodeOnly, .hex = "C5", .result = 0},

    // vlong.
    {.kind = kVlong, .v = 0, .hex = "00"},
    {.kind = kVlong, .v = 31, .hex = "1F"},
    {.kind = kVlong, .v = 32, .hex = "20 01"},
    {.kind = kVlong, .v = 1000, .hex = "28 1F"},
    {.kind = kVlong, .v = 8192, .hex = "40 00 01"},
    {.kind = kVlong, .v = (1ull << 61) - 1, .hex = "FF FF FF FF FF FF FF FF"},
    {.kind = kVlong, .dir = kEncodeOnly, .v = 1ull << 61, .result = -1, .log = "can't encode 2305843009213693952 as longlong"},

    // Signed 64.
    {.kind = kSigned, .v = 0, .hex = "01 00"},
    {.kind = kSigned, .v = S64(-5), .hex = "01 05"},
    {.kind = kSigned, .v = 5, .hex = "00 05"},
    {.kind = kSigned, .v = S64(-1000), .hex = "01 28 1F"},
    {.kind = kSigned, .v = S64(-(1ll << 61) + 1), .hex = "01 FF FF FF FF FF FF FF FF"},
    {.kind = kSigned, .dir = kDecodeOnly, .v = S64(-5), .hex = "07 05"},  // any non-zero sign byte
    {.kind = kSigned, .dir = kEncodeOnly, .v = S64(INT64_MIN), .result = -1, .log = "as longlong"},
    {.kind = kSigned, .dir = kEncodeOnly, .v = 1ull << 61, .result = -1, .log = "as longlong"},

    // Strings and blobs; cap is the capacity handed to the reader.
    {.kind = kString, .text = "", .hex = "00"},
    {.kind = kString, .text = "AB", .hex = "02 41 42"},
    {.kind = kString, .dir = kDecodeOnly, .hex = "02", .result = -1, .cap = 2, .log = "string of 2 bytes"},
    {.kind = kBlob, .text = "", .hex = "00"},
    {.kind = kBlob, .text = "xyz", .hex = "03 78 79 7A"},
    {.kind = kBlob, .dir = kDecodeOnly, .hex = "03 78 79", .result = 0},
    {.kind = kBlob, .dir = kDecodeOnly, .hex = "04", .result = -1, .cap = 3, .log = "blob of 4 bytes"},
    // A hostile length is refused at once, not waited for.
    {.kind = kBlob, .dir = kDecodeOnly, .hex = "F0 FF FF FF FF", .result = -1, .log = "blob of 4294967295 bytes"},

    // Instrument codes, all five forms.
    {.kind = kCode, .text = "", .hex = "80 00"},
    {.kind = kCode, .text = "A", .hex = "84 00"},
    {.kind = kCode, .text = "ABC", .hex = "84 43"},
    {.kind = kCode, .text = "A B", .hex = "87 62"},
    {.kind = kCode, .text = "3", .hex = "FC 00"},  // index 31, the largest 5-bit one
    {.kind = kCode, .text = "ABCD", .hex = "21 10 C8"},
    {.kind = kCode, .text = "ABCDE", .hex = "42 21 90 A0"},
    {.kind = kCode, .text = "ABCDEF", .hex = "42 21 90 A6"},
    {.kind = kCode, .text = "ABCa", .hex = "10 42 0E 60 00"},
    {.kind = kCode, .text = "Z9z", .hex = "16 A5 FC 00 00"},
    {.kind = kCode, .text = "zzzzzz", .hex = "1F FF FF FF FF"},
    {.kind = kCode, .text = "AB_CD", .hex = "05 41 42 5F 43 44"},
    {.kind = kCode, .text = "ABCDEFG", .hex = "07 41 42 43 44 45 46 47"},
    {.kind = kCode, .text = "ABCDEFGHIJK", .hex = "0B 41 42 43 44 45 46 47 48 49 4A 4B"},
    {.kind = kCode, .dir = kEncodeOnly, .text = "ABCDEFGHIJKL", .result = -1,
     .log = "can't encode 12b code ABCDEFGHIJKL as code"},
    {.kind = kCode, .dir = kDecodeOnly, .text = "", .hex = "80 20"},  // index 0 first: ends the text
    {.kind = kCode, .dir = kDecodeOnly, .text = "", .hex = "00"},     // literal form of no characters
    // A literal longer than any code is bad data, known from the head alone.
    {.kind = kCode, .dir = kDecodeOnly, .hex = "0C", .result = -1, .log = "bad code length 12"},
    {.kind = kCode, .dir = kDecodeOnly, .hex = "0F", .result = -1, .log = "bad code length 15"},
    {.kind = kCode, .dir = kDecodeOnly, .hex = "42 21 90 A0", .result = -1, .cap = 5, .log = "does not fit 5"},
    {.kind = kCode, .dir = kDecodeOnly, .hex = "05", .result = -1, .cap = 5, .log = "does not fit 5"},

    // Brokers: table ids, the packed form (alphabet indices).
    {.kind = kBroker, .text = "AACA", .hex = "00"},
    {.kind = kBroker, .text = "WJMW", .hex = "11"},
    {.kind = kBroker, .text = "XYZ", .hex = "BC 67 40"},
    {.kind = kBroker, .text = "B0", .hex = "A1 70"},  // a digit comes back a digit
    {.kind = kBroker, .text = "Z3 Q", .hex = "CD 7F 71"},
    {.kind = kBroker, .text = "ABCDEFG", .hex = "F0 88 64 29 8E"},
    {.kind = kBroker, .text = "", .hex = "80"},
    {.kind = kBroker, .dir = kEncodeOnly, .text = "ABCDEFGHIJ", .hex = "F0 88 64 29 8E"},  // first 7
    {.kind = kBroker, .dir = kEncodeOnly, .text = "AB-C", .hex = "A0 88"},  // cut at what the form lacks
    {.kind = kBroker, .dir = kDecodeOnly, .hex = "12", .result = -1, .log = "unknown broker id 18"},
    {.kind = kBroker, .dir = kDecodeOnly, .hex = "7F", .result = -1, .log = "unknown broker id 127"},
    {.kind = kBroker, .dir = kDecodeOnly, .hex = "BC 67 40", .result = -1, .cap = 3, .log = "does not fit 3"},

    // Dates: the second-of-day bit 16 is dropped by both sides.
    {.kind = kDate16, .v = T(2014, 2, 10), .hex = "B0 94"},
    {.kind = kDate16, .dir = kEncodeOnly, .v = T(2014, 2, 10, 20, 0, 0), .hex = "B0 94"},
    {.kind = kDate16, .dir = kDecodeOnly, .v = T(2014, 2, 10), .hex = "B0 95"},
    {.kind = kDate16, .v = T(2033, 12, 31), .hex = "FF 3E"},

    // Time deltas against the running reference time (st0 -> st1).
    {.kind = kDelta, .v = kMorning, .hex = "00", .st0 = kMorning, .st1 = kMorning},
    {.kind = kDelta, .v = kMorning + 63, .hex = "3F", .st0 = kMorning, .st1 = kMorning + 63},
    {.kind = kDelta, .v = kMorning - 63, .hex = "BF", .st0 = kMorning, .st1 = kMorning - 63},
    {.kind = kDelta, .v = kMorning + 64, .hex = "40 02", .st0 = kMorning, .st1 = kMorning + 64},
    {.kind = kDelta, .v = kMorning - 8191, .hex = "DF FF", .st0 = kMorning, .st1 = kMorning - 8191},
    {.kind = kDelta, .v = kMorning + 8192, .hex = "60 00 02", .st0 = kMorning, .st1 = kMorning + 8192},
    // 2^20 s = 12 days 3:16:16 later.
    {.kind = kDelta, .v = T(2014, 2, 22, 13, 16, 16), .hex = "70 00 00 02", .st0 = kMorning,
     .st1 = T(2014, 2, 22, 13, 16, 16)},
    // 2^27 - 1 s = 1553 days 10:42:07; 2^27 s is one second more and goes absolute.
    {.kind = kDelta, .v = T(2018, 5, 13, 20, 42, 7), .hex = "77 FF FF FF", .st0 = kMorning,
     .st1 = T(2018, 5, 13, 20, 42, 7)},
    {.kind = kDelta, .v = kMorning, .hex = "F7 FF FF FF", .st0 = T(2018, 5, 13, 20, 42, 7), .st1 = kMorning},
    {.kind = kDelta, .v = T(2018, 5, 13, 20, 42, 8), .hex = "78 20 23 5B C1", .st0 = kMorning,
     .st1 = T(2018, 5, 13, 20, 42, 8)},
    {.kind = kDelta, .v = kMorning, .hex = "F8 A0 8C 94 B0", .st0 = T(2018, 5, 13, 20, 42, 8), .st1 = kMorning},
    // Undated times: a difference that would not lead back goes absolute.
    {.kind = kDelta, .v = 30, .hex = "F8 1E 00 00 00", .st0 = T(1970, 1, 2), .st1 = 30},
    {.kind = kDelta, .v = T(1970, 1, 1, 0, 0, 5), .hex = "78 05 00 42 00", .st0 = 0, .st1 = T(1970, 1, 1, 0, 0, 5)},
    {.kind = kDelta, .v = 30, .hex = "E6 12 15", .st0 = 86340, .st1 = 30},  // times of day wrap at midnight
    {.kind = kDelta, .dir = kDecodeOnly, .v = 0x01020304, .hex = "7F 04 03 02 01", .st0 = kMorning, .st1 = 0x01020304},

    // Time offsets against a caller's running time (st0 -> st1).
    {.kind = kOffset, .v = kMorning + 5, .hex = "05", .st0 = kMorning, .st1 = kMorning + 5},
    {.kind = kOffset, .v = kMorning - 1, .hex = "F0 FF FF FF FF", .st0 = kMorning, .st1 = kMorning - 1},
    {.kind = kOffset, .v = T(2014, 2, 11, 10, 0, 0), .hex = "C0 8C 0A", .st0 = kMorning,
     .st1 = T(2014, 2, 11, 10, 0, 0)},
    // One second beyond a day: the absolute time, whose top bit is set in 2014.
    {.kind = kOffset, .v = T(2014, 2, 11, 10, 0, 1), .hex = "F0 A1 8C 96 B0", .st0 = kMorning,
     .st1 = T(2014, 2, 11, 10, 0, 1)},
    {.kind = kOffset, .v = kMorning, .hex = "F0 A0 8C 94 B0", .st0 = 0, .st1 = kMorning},
    {.kind = kOffset, .v = T(2001, 6, 1, 9, 30, 0), .hex = "F0 98 85 82 7D", .st0 = 0, .st1 = T(2001, 6, 1, 9, 30, 0)},
    {.kind = kOffset, .dir = kDecodeOnly, .v = T(2014, 2, 9, 10, 0, 0), .hex = "F0 80 AE FE FF", .st0 = kMorning,
     .st1 = T(2014, 2, 9, 10, 0, 0)},  // -86400
    {.kind = kOffset, .dir = kEncodeOnly, .v = 30, .result = -1, .st0 = kMorning, .st1 = kMorning,
     .log = "can't encode time 30"},
    // 86401: a time of day past midnight; 30 February; -86401 (month 15).
    {.kind = kOffset, .dir = kDecodeOnly, .hex = "C1 8C 0A", .result = -1, .st0 = kMorning, .st1 = kMorning,
     .log = "bad time offset 86401"},
    {.kind = kOffset, .dir = kDecodeOnly, .hex = "F0 00 00 BC B0", .result = -1, .st0 = kMorning, .st1 = kMorning,
     .log = "bad time offset"},
    {.kind = kOffset, .dir = kDecodeOnly, .hex = "F0 7F AE FE FF", .result = -1, .st0 = kMorning, .st1 = kMorning,
     .log = "bad time offset"},
    // An offset that takes a dated time out of 1970-2033.
    {.kind = kOffset, .dir = kDecodeOnly, .hex = "F0 EC FF FF FF", .result = -1, .st0 = T(1970, 1, 1, 0, 0, 10),
     .st1 = T(1970, 1, 1, 0, 0, 10), .log = "bad time offset -20"},
    {.kind = kOffset, .dir = kDecodeOnly, .v = 86380, .hex = "F0 EC FF FF FF", .st0 = 0, .st1 = 86380},

    // Prices: up/down, stepped, tenths, plain, wide; st = reference price.
    {.kind = kPrice, .v = 1000, .hex = "81", .st0 = 990, .st1 = 1000},
    {.kind = kPrice, .v = 980, .hex = "C1", .st0 = 990, .st1 = 980},
    {.kind = kPrice, .v = 990, .hex = "80", .st0 = 990, .st1 = 990},
    {.kind = kPrice, .v = 990, .hex = "80", .st0 = 995, .st1 = 990},  // r = R / 10
    {.kind = kPriceNoRef, .v = 1000, .hex = "54 00"},
    {.kind = kPrice, .v = 1000, .hex = "64 01", .st0 = 0, .st1 = 1000},
    {.kind = kPrice, .v = 1005, .hex = "1D 3E 00 00", .st0 = 990, .st1 = 1005},
    {.kind = kPrice, .v = 1u << 28, .hex = "00 00 00 00 10", .st0 = 990, .st1 = 990},
    {.kind = kPrice, .v = 0xFFFFFFFF, .hex = "00 FF FF FF FF", .st0 = 990, .st1 = 990},
    {.kind = kPrice, .v = 0, .hex = "20 00 00", .st0 = 990, .st1 = 990},
    // r = 99 / 100 (s = 1 / 5).
    {.kind = kPrice, .v = 1300, .hex = "9F", .st0 = 990, .st1 = 1300},
    {.kind = kPrice, .v = 1310, .hex = "43 02", .st0 = 990, .st1 = 1310},
    {.kind = kPrice, .v = 1050, .hex = "81", .st0 = 1000, .st1 = 1050},
    {.kind = kPrice, .v = 1010, .hex = "65 01", .st0 = 1000, .st1 = 1010},
    // r = 999 / 1000 (s = 5 / 10).
    {.kind = kPrice, .v = 11540, .hex = "9F", .st0 = 9990, .st1 = 11540},
    {.kind = kPrice, .v = 8440, .hex = "DF", .st0 = 9990, .st1 = 8440},
    {.kind = kPrice, .v = 11590, .hex = "27 24 00", .st0 = 9990, .st1 = 11590},  // 32 steps, q % 5 != 0
    {.kind = kPrice, .v = 11600, .hex = "68 03", .st0 = 9990, .st1 = 11600},  // stepped, t = 5
    {.kind = kPrice, .v = 10100, .hex = "81", .st0 = 10000, .st1 = 10100},
    {.kind = kPrice, .v = 10050, .hex = "49 03", .st0 = 10000, .st1 = 10050},
    // r = 499 / 500 (t = 1 / 5).
    {.kind = kPrice, .v = 20010, .hex = "51 1F", .st0 = 4990, .st1 = 20010},
    {.kind = kPrice, .v = 20010, .hex = "31 3E 00", .st0 = 5000, .st1 = 20010},
    {.kind = kPrice, .v = 20050, .hex = "51 06", .st0 = 5000, .st1 = 20050},
    // r = 4999 / 5000 (t = 5 / 10).
    {.kind = kPrice, .v = 100050, .hex = "51 1F", .st0 = 49990, .st1 = 100050},
    {.kind = kPrice, .v = 100050, .hex = "35 38 01", .st0 = 50000, .st1 = 100050},
    // r = 99999 / 100000 (t = 10 / 100).
    {.kind = kPrice, .v = 200000, .hex = "50 1F", .st0 = 999990, .st1 = 200000},
    {.kind = kPrice, .v = 200000, .hex = "48 03", .st0 = 1000000, .st1 = 200000},
    // Form limits without a reference (t = 5).
    {.kind = kPriceNoRef, .v = 819150, .hex = "7F FF"},
    {.kind = kPriceNoRef, .v = 819200, .hex = "20 00 0A"},
    {.kind = kPriceNoRef, .v = 20971510, .hex = "3F FF FF"},
    {.kind = kPriceNoRef, .v = 20971520, .hex = "10 00 00 14"},
    {.kind = kPriceNoRef, .v = (1u << 28) - 1, .hex = "1F FF FF FF"},
    {.kind = kPriceNoRef, .v = 7, .hex = "17 00 00 00"},
    // Reader only.
    {.kind = kPriceNoRef, .dir = kDecodeOnly, .hex = "81", .result = -1, .log = "no reference for price"},
    {.kind = kPrice, .dir = kDecodeOnly, .v = 0, .hex = "85", .st0 = 0, .st1 = 0},
    {.kind = kPrice, .dir = kDecodeOnly, .v = 0, .hex = "85", .st0 = 9, .st1 = 9},  // r = 0
    {.kind = kPrice, .dir = kDecodeOnly, .v = 4150, .hex = "BF", .st0 = 1000, .st1 = 4150},  // k up to 63
    {.kind = kPrice, .dir = kDecodeOnly, .v = 0, .hex = "C3", .st0 = 30, .st1 = 30},  // down to exactly 0
    {.kind = kPrice, .dir = kDecodeOnly, .hex = "C5", .result = -1, .st0 = 30, .st1 = 30, .log = "out of range"},
    {.kind = kPrice, .dir = kDecodeOnly, .hex = "BF", .result = -1, .st0 = 4294967290u, .st1 = 4294967290u,
     .log = "out of range"},
    {.kind = kPrice, .dir = kDecodeOnly, .v = 4294967290u, .hex = "80", .st0 = 4294967295u, .st1 = 4294967290u},
    {.kind = kPrice, .dir = kDecodeOnly, .v = 0x04030201, .hex = "0F 01 02 03 04", .st0 = 990, .st1 = 990},

    // Volumes: the one-byte rows and their edges, the multi-byte forms.
    {.kind = kVolume, .v = 0, .hex = "00"},
    {.kind = kVolume, .v = 50, .hex = "01"},
    {.kind = kVolume, .v = 1950, .hex = "27"},
    {.kind = kVolume, .v = 2000, .hex = "28"},
    {.kind = kVolume, .v = 2050, .hex = "82 40"},
    {.kind = kVolume, .v = 2100, .hex = "29"},
    {.kind = kVolume, .v = 3900, .hex = "3B"},
    {.kind = kVolume, .v = 4000, .hex = "3C"},
    {.kind = kVolume, .v = 4100, .hex = "84 80"},
    {.kind = kVolume, .v = 19000, .hex = "4B"},
    {.kind = kVolume, .v = 20000, .hex = "4C"},
    {.kind = kVolume, .v = 95000, .hex = "5B"},
    {.kind = kVolume, .v = 100000, .hex = "5C"},
    {.kind = kVolume, .v = 950000, .hex = "6D"},
    {.kind = kVolume, .v = 1000000, .hex = "A0 12 7A"},
    {.kind = kVolume, .v = 1, .hex = "81 00"},
    {.kind = kVolume, .v = 8191, .hex = "9F FF"},
    {.kind = kVolume, .v = 8192, .hex = "A0 00 01"},
    {.kind = kVolume, .v = (1u << 21) - 1, .hex = "BF FF FF"},
    {.kind = kVolume, .v = 1u << 21, .hex = "C0 00 00 01"},
    {.kind = kVolume, .v = (1u << 29) - 1, .hex = "DF FF FF FF"},
    {.kind = kVolume, .v = 1u << 29, .hex = "E0 00 00 00 01"},
    {.kind = kVolume, .v = (1ull << 37) - 1, .hex = "FF FF FF FF FF"},
    {.kind = kVolume, .dir = kEncodeOnly, .v = 1ull << 37, .result = -1, .log = "can't encode volume 137438953472"},
    {.kind = kVolume, .dir = kEncodeOnly, .v = ~0ull, .hex = "00"},  // no volume
    {.kind = kVolume, .dir = kDecodeOnly, .hex = "6E", .result = -1, .log = "error decoding volume"},
    {.kind = kVolume, .dir = kDecodeOnly, .hex = "7F", .result = -1, .log = "error decoding volume"},

    // Index values and changes.
    {.kind = kIndex, .v = 0, .hex = "00 00"},
    {.kind = kIndex, .v = 32767, .hex = "7F FF"},
    {.kind = kIndex, .v = 32768, .hex = "80 00 02"},
    {.kind = kIndex, .v = (1u << 22) - 1, .hex = "BF FF FF"},
    {.kind = kIndex, .v = 1u << 22, .hex = "C0 00 00 01"},
    {.kind = kIndex, .v = (1u << 30) - 1, .hex = "FF FF FF FF"},
    {.kind = kIndex, .dir = kEncodeOnly, .v = 1u << 30, .result = -1, .log = "can't encode index 1073741824"},
    {.kind = kIndexChange, .v = 0, .hex = "3F"},
    {.kind = kIndexChange, .v = 64, .hex = "7F"},
    {.kind = kIndexChange, .v = S64(-62), .hex = "01"},
    {.kind = kIndexChange, .v = 65, .hex = "80 81"},
    {.kind = kIndexChange, .v = S64(-63), .hex = "80 7F"},
    {.kind = kIndexChange, .v = S64(-8190), .hex = "81 00"},
    {.kind = kIndexChange, .v = 8192, .hex = "BF FF"},
    {.kind = kIndexChange, .v = 8193, .hex = "C0 80 80"},
    {.kind = kIndexChange, .v = S64(-2097150), .hex = "C1 00 00"},
    {.kind = kIndexChange, .v = 2097152, .hex = "FF FF FF"},
    {.kind = kIndexChange, .dir = kEncodeOnly, .v = 2097153, .result = -1, .log = "can't encode index change 2097153"},
    {.kind = kIndexChange, .dir = kEncodeOnly, .v = S64(-2097151), .result = -1,
     .log = "can't encode index change -2097151"},
    {.kind = kIndexChange, .dir = kDecodeOnly, .v = S64(-63), .hex = "00"},
    {.kind = kIndexChange, .dir = kDecodeOnly, .v = S64(-8191), .hex = "80 00"},
    {.kind = kIndexChange, .dir = kDecodeOnly, .v = S64(-2097151), .hex = "C0 00 00"},
};

std::vector<uint8_t> unhex(const char* hex) {
  std::vector<uint8_t> out;
  for (const char* p = hex; *p != '\0';) {
    if (*p == ' ') {
      p++;
      continue;
    }
    out.push_back(static_cast<uint8_t>(std::stoi(std::string(p, 2), nullptr, 16)));
    p += 2;
  }
  return out;
}

std::string tohex(const uint8_t* p, int n) {
  std::string s;
  char b[4];
  for (int i = 0; i < n; i++) {
    snprintf(b, sizeof b, i ? " %02X" : "%02X", p[i]);
    s += b;
  }
  return s;
}

// What a reader produced. Outputs start as sentinels, so a reader that
// returns 0 can be checked for having written nothing.
struct Out {
  uint64_t v = 0xA5A5A5A5A5A5A5A5ull;
  std::string text = "<untouched>";
  int32_t size = 0;  // the in/out size of the string and blob readers
  bool operator==(const Out&) const = default;
};

Out untouched(Kind k, int32_t cap) {
  Out o;
  switch (k) {
    case kByte: o.v = 0xA5; break;
    case kShort: o.v = 0xA5A5; break;
    case kInt24: case kInt32: case kUint32: case kUint32Alt: case kIndexValue32: case kVint: case kIndex:
    case kDate16: case kDelta: case kOffset: case kPrice: case kPriceNoRef:
      o.v = 0xA5A5A5A5; break;
    case kIndexChange: o.v = S64(static_cast<int32_t>(0xA5A5A5A5)); break;
    default: break;
  }
  if (k == kString || k == kBlob) o.size = cap;
  return o;
}

// Runs the reader of kind k. *st is the state the kind uses (reference
// price, reference time or running time), loaded before and read after.
int run_decode(Kind k, const uint8_t* p, int32_t n, int32_t cap, Out* o, uint64_t* st) {
  *o = untouched(k, cap);
  uint8_t u8 = 0xA5;
  uint16_t u16 = 0xA5A5;
  uint32_t u32 = 0xA5A5A5A5;
  int32_t i32 = static_cast<int32_t>(0xA5A5A5A5);
  uint64_t u64 = o->v;
  int64_t i64 = static_cast<int64_t>(o->v);
  char text[300];
  snprintf(text, sizeof text, "%s", o->text.c_str());
  int32_t size = cap;
  uint32_t ref = static_cast<uint32_t>(*st);
  ss_time running = static_cast<ss_time>(*st);
  int r = -2;
  switch (k) {
    case kByte: r = decode_byte(p, n, &u8); o->v = u8; break;
    case kShort: r = decode_short(p, n, &u16); o->v = u16; break;
    case kInt24: r = decode_int24(p, n, &u32); o->v = u32; break;
    case kInt32: r = decode_int32(p, n, &u32); o->v = u32; break;
    case kUint32: r = decode_uint32(p, n, &u32); o->v = u32; break;
    case kUint32Alt: r = decode_uint32_alt(p, n, &u32); o->v = u32; break;
    case kIndexValue32: r = decode_index_value32(p, n, &u32); o->v = u32; break;
    case kVint: r = decode_vint(p, n, &u32); o->v = u32; break;
    case kVlong: r = decode_vlong(p, n, &u64); o->v = u64; break;
    case kSigned: r = decode_vlong_signed(p, n, &i64); o->v = static_cast<uint64_t>(i64); break;
    case kString:
      r = decode_string(p, n, text, &size);
      o->text = text;
      o->size = size;
      break;
    case kBlob:
      r = decode_vbytes(p, n, text, &size);
      o->text = r > 0 ? std::string(text, static_cast<size_t>(size)) : std::string(text);
      o->size = size;
      break;
    case kCode: r = decode_code(p, n, text, cap); o->text = text; break;
    case kBroker: r = decode_broker(p, n, text, cap); o->text = text; break;
    case kDate16: r = decode_date16(p, n, &u32); o->v = u32; break;
    case kDelta:
      decode_set_ref_date(static_cast<ss_time>(*st));
      r = decode_time_delta(p, n, &u32);
      o->v = u32;
      *st = decode_ref_date();
      break;
    case kOffset:
      r = decode_time_offset(p, n, &running, &u32);
      o->v = u32;
      *st = running;
      break;
    case kPrice: r = decode_price(p, n, &u32, &ref); o->v = u32; *st = ref; break;
    case kPriceNoRef: r = decode_price(p, n, &u32, nullptr); o->v = u32; break;
    case kVolume: r = decode_volume(p, n, &u64); o->v = u64; break;
    case kIndex: r = decode_index(p, n, &u32); o->v = u32; break;
    case kIndexChange: r = decode_index_change(p, n, &i32); o->v = static_cast<uint64_t>(static_cast<int64_t>(i32)); break;
  }
  return r;
}

int run_encode(Kind k, uint64_t v, const char* text, uint8_t* out, uint64_t* st) {
  uint32_t ref = static_cast<uint32_t>(*st);
  ss_time running = static_cast<ss_time>(*st);
  const uint32_t v32 = static_cast<uint32_t>(v);
  int r = -2;
  switch (k) {
    case kByte: r = encode_byte(out, v32); break;
    case kShort: r = encode_short(out, v32); break;
    case kInt32: r = encode_int32(out, v32); break;
    case kUint32: r = encode_uint32(out, v32); break;
    case kUint32Alt: r = encode_uint32_alt(out, v32); break;
    case kVint: r = encode_vint(out, v32); break;
    case kVlong: r = encode_vlong(out, v); break;
    case kSigned: r = encode_vlong_signed(out, static_cast<int64_t>(v)); break;
    case kString: r = encode_string(out, text); break;
    case kBlob: r = encode_vbytes(out, text, static_cast<uint32_t>(strlen(text))); break;
    case kCode: r = encode_code(out, text); break;
    case kBroker: r = encode_broker(out, text); break;
    case kDate16: r = encode_date16(out, v32); break;
    case kDelta:
      encode_set_ref_date(static_cast<ss_time>(*st));
      r = encode_time_delta(out, v32);
      *st = encode_ref_date();
      break;
    case kOffset: r = encode_time_offset(out, v32, &running); *st = running; break;
    case kPrice: r = encode_price(out, v32, &ref); *st = ref; break;
    case kPriceNoRef: r = encode_price(out, v32, nullptr); break;
    case kVolume: r = encode_volume(out, v); break;
    case kIndex: r = encode_index(out, v32); break;
    case kIndexChange: r = encode_index_change(out, static_cast<int32_t>(static_cast<int64_t>(v))); break;
    case kInt24: case kIndexValue32: ADD_FAILURE() << "no writer"; break;
  }
  return r;
}

bool text_kind(Kind k) { return k == kString || k == kBlob || k == kCode || k == kBroker; }

class Codec : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    start_runtime(TestStderr::kOff);
    ASSERT_EQ(ssbroker_init(), 0);
  }
  static void TearDownTestSuite() { ssbroker_fini(); }
};

std::string row_name(size_t i, const Row& row) {
  return "row " + std::to_string(i) + " " + kKindNames[row.kind] + " v=" + std::to_string(row.v) + " text=\"" +
         row.text + "\" hex=" + row.hex;
}

TEST_F(Codec, TimeLayoutMatchesThePacker) {
  EXPECT_EQ(T(2014, 2, 10, 10, 30, 0), sstime_pack(0, 30, 10, 10, 2, 2014));
  EXPECT_EQ(T(2033, 12, 31, 23, 59, 59), sstime_pack(59, 59, 23, 31, 12, 2033));
  EXPECT_EQ(T(1970, 1, 1), sstime_pack_date(1, 1, 1970));
}

TEST_F(Codec, WritersProduceTheKnownBytes) {
  for (size_t i = 0; i < std::size(kTable); i++) {
    const Row& row = kTable[i];
    if (row.dir == kDecodeOnly) continue;
    SCOPED_TRACE(row_name(i, row));
    uint8_t out[300];
    memset(out, 0xEE, sizeof out);
    uint64_t st = row.st0;
    const uint64_t mark = log_count();
    const int r = run_encode(row.kind, row.v, row.text, out, &st);
    if (row.result == -1) {
      EXPECT_EQ(r, -1);
      if (row.log) {
        EXPECT_TRUE(logged_since(mark, row.log)) << row.log;
      }
      continue;
    }
    const std::vector<uint8_t> want = unhex(row.hex);
    ASSERT_EQ(r, static_cast<int>(want.size())) << tohex(out, r > 0 ? r : 0);
    EXPECT_EQ(tohex(out, r), tohex(want.data(), static_cast<int>(want.size())));
    EXPECT_EQ(out[r], 0xEE) << "wrote past the field";
    if (row.kind == kPrice || row.kind == kDelta || row.kind == kOffset) {
      EXPECT_EQ(st, row.st1);
    }
  }
}

TEST_F(Codec, ReadersGiveTheKnownValues) {
  for (size_t i = 0; i < std::size(kTable); i++) {
    const Row& row = kTable[i];
    if (row.dir == kEncodeOnly) continue;
    SCOPED_TRACE(row_name(i, row));
    const std::vector<uint8_t> in = unhex(row.hex);
    const int n = static_cast<int>(in.size());
    uint64_t st = row.st0;
    Out o;
    const uint64_t mark = log_count();
    const int want = row.result == kWhole ? n : row.result;
    // Bytes after a field (or after a refusal) must not change the answer.
    std::vector<uint8_t> padded = in;
    if (want != 0) padded.insert(padded.end(), {0xFF, 0x00, 0x5A});
    const int r = run_decode(row.kind, padded.data(), static_cast<int32_t>(padded.size()), row.cap, &o, &st);
    ASSERT_EQ(r, want);
    if (r > 0) {
      if (text_kind(row.kind))
        EXPECT_EQ(o.text, row.text);
      else
        EXPECT_EQ(o.v, row.v);
      if (row.kind == kString || row.kind == kBlob) {
        EXPECT_EQ(o.size, static_cast<int32_t>(strlen(row.text)));
      }
      EXPECT_EQ(log_count(), mark) << "a good field logged";
    }
    if (r == -1 && row.log) {
      EXPECT_TRUE(logged_since(mark, row.log)) << row.log;
    }
    if (row.kind == kPrice || row.kind == kDelta || row.kind == kOffset) {
      EXPECT_EQ(st, row.st1);
    }
  }
}

// Every shorter prefix of a complete field is "not yet": 0, nothing written,
// no reference moved, nothing logged.
TEST_F(Codec, EveryShorterPrefixIsIncompleteAndTouchesNothing) {
  for (size_t i = 0; i < std::size(kTable); i++) {
    const Row& row = kTable[i];
    if (row.dir == kEncodeOnly || row.result != kWhole) continue;
    const std::vector<uint8_t> in = unhex(row.hex);
    for (int k = 0; k < static_cast<int>(in.size()); k++) {
      SCOPED_TRACE(row_name(i, row) + " prefix " + std::to_string(k));
      // The bytes beyond the prefix are present in memory but not available.
      uint64_t st = row.st0;
      Out o;
      const uint64_t mark = log_count();
      const ss_time dref = decode_ref_date();
      EXPECT_EQ(run_decode(row.kind, in.data(), k, row.cap, &o, &st), 0);
      Out expect = untouched(row.kind, row.cap);
      if (row.kind == kBlob) expect.size = -1;  // the blob reader says "incomplete" in size too
      EXPECT_EQ(o, expect);
      EXPECT_EQ(st, row.st0);
      if (row.kind != kDelta) {
        EXPECT_EQ(decode_ref_date(), dref);
      }
      EXPECT_EQ(log_count(), mark);
    }
  }
}

TEST_F(Codec, BadDataLeavesTheReferencesAlone) {
  // After a -1 the running state is as it was, so a caller can report the
  // record and carry on from a known state.
  uint32_t ref = 30;
  uint32_t price = 1234;
  const uint8_t down5[] = {0xC5};
  EXPECT_EQ(decode_price(down5, 1, &price, &ref), -1);
  EXPECT_EQ(ref, 30u);
  ss_time running = kMorning;
  ss_time out = 0;
  const uint8_t bad[] = {0xC1, 0x8C, 0x0A};  // 86401
  EXPECT_EQ(decode_time_offset(bad, 3, &running, &out), -1);
  EXPECT_EQ(running, kMorning);
  EXPECT_EQ(out, 86401u);  // the caller may report the value it got
}

TEST_F(Codec, BlobAndStringSizes) {
  uint8_t dst[8];
  // A hostile length: the size reports it (saturated), with nothing copied.
  const uint8_t huge[] = {0xF0, 0xFF, 0xFF, 0xFF, 0xFF};
  int32_t size = sizeof dst;
  EXPECT_EQ(decode_vbytes(huge, 5, dst, &size), -1);
  EXPECT_EQ(size, INT32_MAX);
  const uint8_t big[] = {0x88, 0x03};  // 200
  size = sizeof dst;
  EXPECT_EQ(decode_vbytes(big, 2, dst, &size), -1);
  EXPECT_EQ(size, 200);
  // A blob exactly filling its capacity, bytes of any value.
  const uint8_t exact[] = {0x08, 0, 1, 2, 0xFF, 0, 5, 6, 7};
  size = 8;
  EXPECT_EQ(decode_vbytes(exact, 9, dst, &size), 9);
  EXPECT_EQ(size, 8);
  EXPECT_EQ(memcmp(dst, exact + 1, 8), 0);

  // The longest string: 255 bytes and the NUL need 256.
  std::string s(255, 'q');
  uint8_t buf[kEncodeRoomString + 1];
  ASSERT_EQ(encode_string(buf, s.c_str()), 256);
  char text[256];
  size = 256;
  EXPECT_EQ(decode_string(buf, 256, text, &size), 256);
  EXPECT_EQ(size, 255);
  EXPECT_EQ(std::string(text), s);
  size = 255;
  EXPECT_EQ(decode_string(buf, 256, text, &size), -1);
  EXPECT_EQ(size, 255);
  const uint64_t mark = log_count();
  std::string t(256, 'q');
  EXPECT_EQ(encode_string(buf, t.c_str()), -1);
  EXPECT_TRUE(logged_since(mark, "can't encode 256b as bytes"));
}

TEST_F(Codec, RawFields) {
  const uint8_t in[] = {1, 2, 3, 4};
  uint8_t out[4] = {};
  EXPECT_EQ(decode_raw(in, 3, out, 4), 0);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(decode_raw(in, 4, out, 4), 4);
  EXPECT_EQ(memcmp(in, out, 4), 0);
  EXPECT_EQ(decode_raw(in, 4, out, -1), -1);
  uint8_t w[4] = {9, 9, 9, 9};
  EXPECT_EQ(encode_raw(w, in, 3), 3);
  EXPECT_EQ(w[2], 3);
  EXPECT_EQ(w[3], 9);
  EXPECT_EQ(encode_raw(w, in, 0), 0);
  EXPECT_EQ(encode_raw(w, in, -2), -2);
}

TEST_F(Codec, BrokerPackWarnsOnWhatItCannotCarry) {
  uint8_t out[kEncodeRoomCode];
  char back[kCodecCodeBytes];
  struct Case {
    const char* code;
    const char* read_back;
    bool warns;
  } cases[] = {
      {"BELL 03", "BELL 03", false}, {"XY4", "XY", true}, {"ab", "", true}, {"Q.Z", "Q", true},
      {"ZZZZZZZZZ", "ZZZZZZZ", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    const uint64_t mark = log_count();
    const int n = encode_broker(out, c.code);
    ASSERT_GT(n, 0);
    EXPECT_EQ(logged_since(mark, "can't pack"), c.warns);
    EXPECT_EQ(decode_broker(out, n, back, sizeof back), n);
    EXPECT_STREQ(back, c.read_back);
  }
}

// Seeded round trips ----------------------------------------------------------

// Values around every power of two up to `bits`, plus random ones of random width.
std::vector<uint64_t> boundary_values(int bits, std::mt19937_64& rng, int randoms = 2000) {
  std::vector<uint64_t> v{0};
  for (int b = 1; b <= bits; b++) {
    const uint64_t p = b == 64 ? 0 : 1ull << b;
    for (uint64_t x : {p - 1, p, p + 1})
      if (b == 64 || x < (bits == 64 ? ~0ull : 1ull << bits) || x == p - 1) v.push_back(x);
  }
  for (int i = 0; i < randoms; i++) {
    const int w = 1 + static_cast<int>(rng() % bits);
    v.push_back(rng() & (w == 64 ? ~0ull : (1ull << w) - 1));
  }
  return v;
}

TEST_F(Codec, IntegersRoundTripInTheirShortestForm) {
  std::mt19937_64 rng(20140210);
  uint8_t buf[16];
  for (uint64_t v : boundary_values(32, rng)) {
    const uint32_t x = static_cast<uint32_t>(v);
    const int len = x < (1u << 7) ? 1 : x < (1u << 14) ? 2 : x < (1u << 21) ? 3 : x < (1u << 28) ? 4 : 5;
    ASSERT_EQ(encode_vint(buf, x), len) << x;
    uint32_t back;
    ASSERT_EQ(decode_vint(buf, len, &back), len);
    ASSERT_EQ(back, x);
  }
  for (uint64_t v : boundary_values(61, rng)) {
    if (v >= 1ull << 61) continue;
    int len = 1;
    for (uint64_t h = v >> 5; h != 0; h >>= 8) len++;
    ASSERT_EQ(encode_vlong(buf, v), len) << v;
    uint64_t back;
    ASSERT_EQ(decode_vlong(buf, len, &back), len);
    ASSERT_EQ(back, v);
    for (int64_t s : {static_cast<int64_t>(v), -static_cast<int64_t>(v)}) {
      ASSERT_EQ(encode_vlong_signed(buf, s), len + 1) << s;
      EXPECT_EQ(buf[0], s > 0 ? 0 : 1);
      int64_t sback;
      ASSERT_EQ(decode_vlong_signed(buf, len + 1, &sback), len + 1);
      ASSERT_EQ(sback, s);
    }
  }
  for (uint64_t v : boundary_values(30, rng)) {
    if (v >= 1u << 30) continue;
    const uint32_t x = static_cast<uint32_t>(v);
    const int len = x < (1u << 15) ? 2 : x < (1u << 22) ? 3 : 4;
    ASSERT_EQ(encode_index(buf, x), len) << x;
    uint32_t back;
    ASSERT_EQ(decode_index(buf, len, &back), len);
    ASSERT_EQ(back, x);
  }
  for (uint64_t v : boundary_values(22, rng)) {
    for (int64_t s : {static_cast<int64_t>(v), -static_cast<int64_t>(v), static_cast<int64_t>(v) + 64,
                      static_cast<int64_t>(v) - 62}) {
      if (s < -2097150 || s > 2097152) continue;
      const int32_t c = static_cast<int32_t>(s);
      const int len = c >= -62 && c <= 64 ? 1 : c >= -8190 && c <= 8192 ? 2 : 3;
      ASSERT_EQ(encode_index_change(buf, c), len) << c;
      int32_t back;
      ASSERT_EQ(decode_index_change(buf, len, &back), len);
      ASSERT_EQ(back, c);
    }
  }
}

TEST_F(Codec, VolumesRoundTrip) {
  std::mt19937_64 rng(950000);
  std::vector<uint64_t> values = boundary_values(37, rng);
  // Every one-byte value, its neighbours and the other multiples of its step.
  const uint64_t rows[][3] = {{0, 2000, 50}, {2000, 4000, 100}, {4000, 20000, 1000}, {20000, 100000, 5000},
                              {100000, 1000000, 50000}};
  for (const auto& row : rows) {
    for (uint64_t v = row[0]; v < row[1]; v += row[2]) {
      for (uint64_t x : {v, v + 1, v - 1, v + row[2] / 2}) values.push_back(x);
    }
    for (uint64_t x = 0; x < row[1]; x += row[2] / 2) values.push_back(x);
  }
  values.push_back(1000000);
  values.push_back(999999);
  uint8_t buf[8];
  for (uint64_t v : values) {
    if (v >= 1ull << 37) continue;
    const int n = encode_volume(buf, v);
    ASSERT_GT(n, 0) << v;
    // One byte exactly for the round counts of each row.
    bool one = false;
    for (const auto& row : rows) {
      if (v >= row[0] && v < row[1]) one = v % row[2] == 0;
    }
    const int multi = v < 8192 ? 2 : v < (1u << 21) ? 3 : v < (1u << 29) ? 4 : 5;
    ASSERT_EQ(n, one ? 1 : multi) << v;
    uint64_t back;
    ASSERT_EQ(decode_volume(buf, n, &back), n);
    ASSERT_EQ(back, v);
  }
}

// A price walk encoded as one stream with the writer's reference and read
// back with the reader's: the two references must stay equal at every step.
TEST_F(Codec, PriceWalksStayInStep) {
  std::mt19937_64 rng(4990);
  const uint32_t starts[] = {990, 1000, 4990, 5000, 9990, 10000, 49990, 50000, 999990, 1000000, 0, 5, 20971500};
  for (bool with_ref : {true, false}) {
    for (uint32_t start : starts) {
      SCOPED_TRACE("start " + std::to_string(start));
      std::vector<uint8_t> stream(5 * 4000);
      std::vector<uint32_t> prices;
      uint32_t wref = start;
      uint32_t p = start;
      int len = 0;
      for (int i = 0; i < 4000; i++) {
        const uint64_t pick = rng() % 100;
        if (pick < 60) {  // a few relative steps, in units of the current step
          const int64_t r = p / 10;
          const int64_t s = r < 100 ? 1 : r <= 999 ? 5 : 10;
          const int64_t q = r + (static_cast<int64_t>(rng() % 70) - 35) * s;
          p = q < 0 ? 0 : static_cast<uint32_t>(q * 10);
        } else if (pick < 75) {  // near a threshold of the steps
          const uint32_t th[] = {990, 1000, 4990, 5000, 9990, 10000, 49990, 50000, 999990, 1000000};
          p = th[rng() % std::size(th)] + static_cast<uint32_t>(rng() % 3) * 10;
        } else if (pick < 85) {  // odd hundredths
          p = static_cast<uint32_t>(rng() % 3000000);
        } else if (pick < 90) {
          p = 0;
        } else if (pick < 95) {  // large: stepped limits, tenths, plain, wide
          const uint32_t big[] = {819150, 819200, 20971510, 20971520, (1u << 28) - 10, 1u << 28, 0xFFFFFFFF};
          p = big[rng() % std::size(big)];
        } else {
          p = static_cast<uint32_t>(rng());
        }
        prices.push_back(p);
        const int n = encode_price(stream.data() + len, p, with_ref ? &wref : nullptr);
        ASSERT_GT(n, 0) << p;
        len += n;
      }
      uint32_t rref = start;
      int pos = 0;
      for (uint32_t want : prices) {
        uint32_t got;
        const uint32_t before = rref;
        const int n = decode_price(stream.data() + pos, len - pos, &got, with_ref ? &rref : nullptr);
        ASSERT_GT(n, 0) << "at " << pos << " ref " << before;
        ASSERT_EQ(got, want) << "ref " << before;
        pos += n;
      }
      EXPECT_EQ(pos, len);
      EXPECT_EQ(rref, wref);
    }
  }
}

// Times: dated walks with steps around each form's limits, interleaved with
// undated times, invalid values and 0, through both running references.
TEST_F(Codec, TimeDeltasAndOffsetsRoundTrip) {
  std::mt19937_64 rng(86400);
  const int64_t edges[] = {0, 1, 63, 64, 8191, 8192, (1 << 20) - 1, 1 << 20, (1 << 27) - 1, 1 << 27, 86399, 86400, 86401};
  std::vector<ss_time> times;
  ss_time t = kMorning;
  for (int i = 0; i < 6000; i++) {
    const uint64_t pick = rng() % 100;
    if (pick < 70) {
      int64_t d = edges[rng() % std::size(edges)] + static_cast<int64_t>(rng() % 3) - 1;
      if (rng() % 2) d = -d;
      const ss_time next = sstime_add_seconds(t, static_cast<int32_t>(d));
      if (next != 0) t = next;
      times.push_back(t);
    } else if (pick < 80) {
      times.push_back(static_cast<ss_time>(rng() % 86400));  // a time of day
    } else if (pick < 85) {
      times.push_back(rng() % 2 ? 0 : 0xFFFFFFFF - static_cast<ss_time>(rng() % 15));
    } else {
      times.push_back(T(1970 + static_cast<int>(rng() % 64), 1 + static_cast<int>(rng() % 12),
                        1 + static_cast<int>(rng() % 28), 0, 0, static_cast<int>(rng() % 86400)));
    }
  }
  std::vector<uint8_t> stream(times.size() * kEncodeRoomVint);
  encode_set_ref_date(kMorning);
  int len = 0;
  for (ss_time x : times) {
    const int n = encode_time_delta(stream.data() + len, x);
    ASSERT_GT(n, 0);
    len += n;
  }
  decode_set_ref_date(kMorning);
  int pos = 0;
  for (ss_time want : times) {
    ss_time got;
    const int n = decode_time_delta(stream.data() + pos, len - pos, &got);
    ASSERT_GT(n, 0);
    ASSERT_EQ(got, want) << "at " << pos;
    ASSERT_EQ(decode_ref_date(), want);
    pos += n;
  }
  EXPECT_EQ(pos, len);

  // Offsets: the writer refuses only what no offset or absolute time can say;
  // everything it writes reads back.
  ss_time wrun = kMorning, rrun = kMorning;
  for (ss_time x : times) {
    uint8_t buf[kEncodeRoomVint];
    const ss_time before = wrun;
    const int n = encode_time_offset(buf, x, &wrun);
    if (n < 0) {
      EXPECT_FALSE(decode_time_is_valid(x)) << x;
      EXPECT_EQ(wrun, before);
      continue;
    }
    ss_time got;
    ASSERT_EQ(decode_time_offset(buf, n, &rrun, &got), n) << x << " from " << before;
    ASSERT_EQ(got, x);
    ASSERT_EQ(rrun, wrun);
  }
}

TEST_F(Codec, CodesRoundTrip) {
  std::mt19937_64 rng(11);
  const std::string sets[] = {"ABCDEFGHIJKLMNOPQRSTUVWXYZ", "ABCXYZ 0123", "ABCxyz0123456789",
                              "AB_.-#$\x80\xff"};
  uint8_t buf[kEncodeRoomCode];
  char back[kCodecCodeBytes];
  for (int i = 0; i < 20000; i++) {
    const std::string& set = sets[rng() % std::size(sets)];
    const size_t len = rng() % 12;
    std::string code;
    for (size_t j = 0; j < len; j++) code += set[rng() % set.size()];
    const int n = encode_code(buf, code.c_str());
    ASSERT_GT(n, 0) << code;
    ASSERT_LE(n, kEncodeRoomCode);
    ASSERT_EQ(decode_code(buf, n, back, sizeof back), n) << code;
    ASSERT_EQ(std::string(back), code);
  }
  // Brokers the packed form can carry come back whole.
  const std::string packable = "ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123";
  for (int i = 0; i < 5000; i++) {
    std::string code;
    const size_t len = rng() % 8;
    for (size_t j = 0; j < len; j++) code += packable[rng() % packable.size()];
    const int n = encode_broker(buf, code.c_str());
    ASSERT_GT(n, 0) << code;
    ASSERT_EQ(decode_broker(buf, n, back, sizeof back), n) << code;
    ASSERT_EQ(std::string(back), code);
  }
}

}  // namespace
