// Quote-basis and trade-condition codes: the abbreviations and names that go
// with each bit of a stock's quote basis and of a trade's condition mask, per
// exchange (0 ASX, 1 NZX, 2 GLB, 3 AXO).
#pragma once
#include <cstdint>

// One row of a code table: the ASX and NZX abbreviations (null where the
// exchange has none), the row's name and its one-bit mask.
struct sscodes_row {
  const char* asx;
  const char* nzx;
  const char* name;
  uint64_t mask;
};

constexpr int kQuoteBasisRows = 55;
constexpr int kConditionRows = 69;
constexpr int kQuoteBasisNamesSize = 193;  // the static buffer of quote_basis_names
constexpr int kConditionTextSize = 192;    // the static buffer of condition_text

// The constant tables, kQuoteBasisRows and kConditionRows rows in their order.
const sscodes_row* sscodes_quote_basis_table(void);
const sscodes_row* sscodes_condition_table(void);

// Writes the abbreviation of every set quote-basis bit, in row order,
// separated by single spaces, into buf (*size bytes). Returns buf (an empty
// text when no abbreviation was found) or null when the text does not fit;
// *size becomes the count of characters the abbreviations needed (three
// each). A bit the exchange has no abbreviation for is skipped with a WARN
// line, once per row for the life of the process.
char* sscodes_quote_basis_text(char* buf, uint32_t* size, int32_t exchange, uint64_t mask);
// The same into a static buffer shared by every caller (user-interface
// thread only; copy the text before the next call).
const char* sscodes_quote_basis_names(int32_t exchange, uint64_t mask);
// The name of the quote-basis row whose mask is `bit`; null after a WARN when
// no row has it.
const char* sscodes_quote_basis_name(int32_t exchange, uint64_t bit);

// The code of every set condition bit the exchange has a code for, in row
// order, separated by single spaces, in a static buffer shared by every
// caller (user-interface thread only). Null when the codes do not fit.
const char* sscodes_condition_text(int32_t exchange, uint64_t mask);
// The name of condition `bit` as the exchange calls it; null after a WARN when
// the exchange has no code for it.
const char* sscodes_condition_name(int32_t exchange, uint64_t bit);
// The exchange's code for condition `bit`; null when it has none.
const char* sscodes_condition_code(int32_t exchange, uint64_t bit);

// The explanation of condition `bit` and the description of quote-basis
// `bit` as the popups show them: the rows' names, as above.
inline const char* sscodes_condition_explanation(int32_t flag_set, uint64_t bit) {
  return sscodes_condition_name(flag_set, bit);
}
inline const char* sscodes_quote_basis_description(int32_t flag_set, uint64_t bit) {
  return sscodes_quote_basis_name(flag_set, bit);
}
