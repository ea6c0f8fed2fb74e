// Broker codes: the 18 built-in brokers with small fixed ids that the codec
// writes in one byte, and the codes learnt from the market data (id -1).
// Changed on the io thread and read elsewhere, always under the core lock.
#pragma once
#include <cstdint>

constexpr int kBrokerCodeMax = 11;  // significant characters of a code
constexpr int kBrokerBuiltins = 18;

struct ss_broker {
  char code[kBrokerCodeMax + 1];  // the key, NUL-terminated
  int32_t id;                     // 0-17 built in, -1 learnt
};

// Starts the mark table, makes the pool and the set and adds the built-in
// codes; 0 / -1.
int ssbroker_init(void);
void ssbroker_fini(void);
// The record of `code`, made with id -1 when it is new; null (after an ERROR
// line) when it cannot be made or the code is longer than 11 characters.
// Records live until ssbroker_fini.
ss_broker* ssbroker_add(const char* code);
ss_broker* ssbroker_find(const char* code);  // null when absent
int32_t ssbroker_id(const char* code);       // -1 when absent
const char* ssbroker_code(int32_t id);       // built-in code of 0-17, else null
