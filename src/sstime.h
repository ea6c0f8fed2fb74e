// Packed local times (ss_time) and the calendar arithmetic, formatting and
// parsing built on them.
//
// An ss_time holds, from the top bit down: year - 1970 (6 bits, 1970-2033),
// month 1-12 (4 bits), day of the month (5 bits) and second of the day
// (17 bits). Values compare and sort as unsigned integers in time order; two
// values share a date exactly when their bits above bit 16 are equal. 0 is
// "no time"; a value below 0x20000 is a time of day without a date; the
// fifteen largest 32-bit values are invalid and are treated like 0.
#pragma once
#include <cstdint>
#include <ctime>

typedef uint32_t ss_time;

constexpr int kSstimeFirstYear = 1970;
constexpr int kSstimeLastYear = 2033;
constexpr ss_time kSstimeSecondsMask = 0x1FFFF;  // the second-of-day bits
constexpr ss_time kSstimeFirstInvalid = 0xFFFFFFF1u;  // fifteen largest values

// The split form of a packed time.
struct sstime_parts {
  int32_t sec;    // 0-59
  int32_t min;    // 0-59
  int32_t hour;   // 0-23
  int32_t mday;   // 1-31; 0 for a time of day without a date
  int32_t mon;    // 1-12; 0 for a time of day without a date
  int32_t year;   // full year, e.g. 2014
  int32_t yday;   // 1 for 1 January
  int32_t wday;   // 0 Sunday .. 6 Saturday
  int32_t mdays;  // days in the month
  int32_t ydays;  // 365 or 366
  int32_t weeks;  // (372 + leap - weekday of 1 January) / 7 + 1
  int32_t leap;   // 1 in a leap year
};

// Life cycle and clock ------------------------------------------------------

// Creates the time lock and sets the base (quietly). 0, or -1 after a log line.
int sstime_init(void);
void sstime_fini(void);
// Reads the wall clock into the base and recomputes the local offset from
// the zone rules in force at that instant (daylight saving included). Logs
// WARN "change local offset: %d" when the offset changes, unless quiet.
int sstime_set_base(int quiet);
// Under the time lock: resets the base when forced, or when at least an hour
// has passed since the last refresh. Meant to be called forced by the io
// loop when the wall clock steps back, and unforced from periodic
// housekeeping so that a daylight-saving change reaches a long session.
int sstime_refresh(int force);
// The current local time: base plus wall-clock seconds since the base. Any
// thread; the base is read whole, never half old and half new.
ss_time sstime_now(void);
// The local offset from UTC in seconds (east positive) at the last base.
int32_t sstime_local_offset(void);
// Test seam: while set, the module reads the wall clock from fn instead of
// time(). Null restores the real clock.
void sstime_set_test_wallclock(time_t (*fn)(void));
// The wall clock this module reads (seconds since the epoch): time(), or the
// test seam above, so that other modules' ages follow the same clock.
time_t sstime_wall(void);

// Building and splitting ----------------------------------------------------

// Checks each field (logging the first bad one at ERROR) and packs; 0 on a
// bad field. A day beyond the month's length is lowered to its last day.
ss_time sstime_pack(int32_t sec, int32_t min, int32_t hour, int32_t day, int32_t month, int32_t year);
int32_t sstime_seconds_of_day(int32_t sec, int32_t min, int32_t hour);
// The date at 00:00:00, the day lowered to the month's length. Silent; 0 when
// the year is outside 1970-2033, the month outside 1-12 or the day below 1.
ss_time sstime_pack_date(int32_t day, int32_t month, int32_t year);
// Fills parts. -1 for 0 and the invalid values (all fields zeroed) and for a
// stored day or month out of range (repaired to 1, so the value still prints).
int sstime_unpack(sstime_parts* parts, ss_time t);
// Splits t (as time 0 when that fails), replaces every field whose argument
// is not -1, and packs without range checks or clamping. 0 when a field does
// not fit its bits.
ss_time sstime_set_fields(ss_time t, int32_t sec, int32_t min, int32_t hour, int32_t day, int32_t month,
                          int32_t year);
ss_time sstime_with_time_of_day(ss_time a, ss_time b);  // date of a, time of b
ss_time sstime_with_date(ss_time a, ss_time b);         // time of a, date of b
ss_time sstime_at_hour(ss_time t, int32_t hour);        // date of t at hour:00:00
ss_time sstime_set_hour(ss_time t, int32_t hour);
ss_time sstime_set_minute(ss_time t, int32_t minute);
ss_time sstime_set_second(ss_time t, int32_t second);
ss_time sstime_set_day(ss_time t, int32_t day);      // no check, no clamp
ss_time sstime_set_month(ss_time t, int32_t month);  // no check, no clamp

// Calendar queries ----------------------------------------------------------

int32_t sstime_weekday(ss_time t);
int32_t sstime_year_day(ss_time t);
int sstime_is_weekend(ss_time t);  // 1 on Saturday and Sunday
// Days since 1 January 1970 plus one; 0 for a value without a proper date.
int32_t sstime_day_number(ss_time t);
// (day number + 4) / 7: weeks run Saturday to Friday.
int32_t sstime_week_number(ss_time t);
// Year index plus month: differs between neighbouring months only.
int32_t sstime_month_key(ss_time t);
// Negative, 0 or positive as the date of a is before, equal to or after b's.
int32_t sstime_date_compare(ss_time a, ss_time b);
int32_t sstime_diff_days(ss_time a, ss_time b);
// Seconds from b to a. add_seconds(b, diff_seconds(a, b)) == a for any two
// dated values, and for any two times of day.
int32_t sstime_diff_seconds(ss_time a, ss_time b);

// Arithmetic (the second of the day is kept unless said) -------------------

// Adding to 0 gives the seconds alone, as a time of day; a time of day
// without a date wraps at midnight. 0 when a dated result leaves 1970-2033.
ss_time sstime_add_seconds(ss_time t, int32_t n);
// 0 stays 0 and a time of day stays as it is; 0 when the result leaves
// 1970-2033.
ss_time sstime_add_days(ss_time t, int32_t n);
ss_time sstime_sub_days(ss_time t, int32_t n);
// The day is lowered to the length of the resulting month.
ss_time sstime_add_months(ss_time t, int32_t n);
// 0 when the year leaves 1970-2033; the day is not lowered.
ss_time sstime_add_years(ss_time t, int32_t n);

// Formatting: "-" for 0 and the invalid values ------------------------------

constexpr int kSstimeDatetimeLen = 20;  // bytes the _into form needs
constexpr int kSstimeDateLen = 11;

// "YYYY-MM-DD hh:mm:ss" in a buffer owned by the calling thread, valid until
// that thread's next call.
const char* sstime_format_datetime(ss_time t);
char* sstime_format_datetime_into(char* buf, ss_time t);
// "YYYY-MM-DD", split without validation messages.
const char* sstime_format_date(ss_time t);
char* sstime_format_date_into(char* buf, ss_time t);

// Parsers: 0 when nothing usable was found ----------------------------------

ss_time sstime_parse_yyyymmdd(const char* text);  // 20140210
ss_time sstime_parse_ymd(const char* text);       // 2014-2-10
// "Mon, 10 Feb 2014 10:30:00 +1100", converted to local time.
ss_time sstime_parse_mail_date(const char* text);
// "2014-02-10T10:30:00+11:00" (no zone: UTC), converted to local time.
ss_time sstime_parse_date_time(const char* text);
// A time typed by the user ("10:30", "FRIDAY", "MAR 5", "5TH", "NOW"...).
// Stores in *given (when not null) the bits of the fields the text named:
// 0x01 hour, 0x02 minute, 0x04 second, 0x08 day, 0x10 month, 0x20 year.
ss_time sstime_parse_expression(const char* text, uint32_t* given);
// The first occurrence of word in text when it stands as a word (preceded by
// the start, white space or a digit, followed by the end or white space);
// null when that first occurrence does not stand as a word.
const char* sstime_find_word(const char* text, const char* word);
