// What the simulator answers for the volume comparison: a deterministic set
// for the instruments of an exchange, with the figures a test can check
// the client against.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// The figures of one instrument's comparison, the same for every quarter and
// reference: the volume before the quarter, the quarter's volume and the one
// minute of the quarter (5-14) that carries it all.
struct sim_vcmp_figures {
  uint64_t base;
  uint64_t total;
  uint32_t minute;
};
sim_vcmp_figures sim_vcmp_of(const std::string& code);

// The payload of a set (format version 1) for the codes, all three
// references; with `init` the bases are included. 0, or -1 for a code the
// codec cannot write.
int sim_vcmp_payload(const std::vector<std::string>& codes, bool init, std::vector<uint8_t>* out);
