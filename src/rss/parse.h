// The feed parser: RSS and Atom documents into a feed's header fields and
// items, by substring search over the document cut in place.
#pragma once

#include "rss/rss.h"

int rss_parse_init(void);  // 0 / -1: the item pool
void rss_parse_shutdown(void);
// Parses the NUL-terminated, writable document into the feed: title, link,
// description, and items appended to the feed's list. The document is left
// byte for byte as it was. -1 only when an item record can't be had.
int rss_parse(rss_feed* feed, char* document);
void rss_items_free(rss_feed* feed);
// dst's items freed, then a copy of each of src's appended. 0 / -1.
int rss_items_copy(rss_feed* dst, const rss_feed* src);
// An owned text (rounded up to 64-byte blocks); null after an ERROR line.
char* rss_strdup(const char* text);
void rss_str_free(char* text);
// Decodes one element's text (CDATA, the five entities) into *field; an empty
// text leaves the field as it is.
void rss_decode_text(char** field, const char* text);

// Shared with HTML to text: the length of the entity name after the '&' at
// amp when it is 1 to 31 of [A-Za-z0-9#] closed by ';', else 0; the value of
// a "#60" or "#x3c" name of that length, saturated at INT32_MAX (-1 when
// the digits are bad).
int rss_entity_name_length(const char* amp);
int64_t rss_entity_number(const char* name, int len);
// A feed's text for a log line: at most 80 bytes, control bytes as '.', in
// a buffer of the calling thread valid until its next call.
const char* rss_log_text(const char* text);
