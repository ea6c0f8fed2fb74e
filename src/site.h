// The site table: the deployments (brands) the terminal can sign on to, each
// a row of texts and numbers the user interface shows. One row is current.
// Main thread.
#pragma once

#include <cstdint>

constexpr int kSiteRows = 3;

// One row: 22 fields of pointer size. Texts are owned by the table and are
// null where a row has none.
struct site_row {
  char *code;        // 0: matched without regard to case
  char *short_name;  // 1: named in the fatal alert
  char *name;        // 2: the configuration status page
  char *title;       // 3: the default window title
  int32_t pictures[4];  // 4-5: the third on a tool-panel button, the fourth on the about panel (-1 none)
  char *about[5];       // 6-10: lines beside the site's picture on the about panel
  char *account[6];     // 11-16: heading, two lines, -, the page's address, -
  char *account_url;    // 17: replaces the built-in account page address
  intptr_t account_flag;  // 18
  char *contact;          // 19: second line of "Your login has been disabled"
  int32_t flags[2];       // 20
  intptr_t flag;          // 21
};
static_assert(sizeof(site_row) == 22 * sizeof(void *), "a site row is 22 pointer-size fields");

// Fills the table; always 0 (a text that can't be allocated stays null).
int site_init();
// Frees every text and clears the table.
void site_fini();
// Makes the row with `code` current (null or "" gives row 0) and returns
// it; an unknown code logs "unknown site: %s", returns null and keeps the
// current row.
site_row *site_select(const char *code);
// The row with that code, or null; changes nothing.
site_row *site_find(const char *code);
site_row *site_current();
int site_index();
