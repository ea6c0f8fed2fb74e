// The crash handler: fatal signals (and FATAL log lines, through abort_trap)
// are logged with the signal's title, guessed stack traces of every thread,
// the system backtrace with symbols, and then handed to main_fatal, which
// shows the alert and opens the crash report form.
#pragma once
#include <cstdint>

// Creates the exceptions lock (WARN "can't lock exceptions" and none on
// failure); with trap non-zero installs the handler for SIGILL, SIGFPE,
// SIGSEGV and SIGABRT on an alternate signal stack.
void abort_init(int trap);
void abort_fini(void);
// Marks an application error and executes a trap instruction (SIGILL).
[[noreturn]] void abort_trap(void);
// The handler itself (any thread); ends in main_fatal.
void abort_signal_handler(int sig);
// Title of a signal: "Illegal Instruction", "Abort", "Floating Point
// Exception", "Segfault", else "Exception".
const char *abort_signal_title(int sig);
// The main program's load slide (its load address for a position-independent
// program), found in the loaded image list by the executable's path; 0 when
// none matches.
intptr_t abort_program_slide(void);
// Guessed trace: scans the stack downwards from `top` for words that lie in
// the program's image and logs them; the number of frames, -1 without a top.
int abort_forward_trace(const char *label, uintptr_t top, intptr_t slide);
// Writes the recorded frames (`frames`, `count`) as backtrace lines: a header,
// then "%p " offsets into the program file, 69-character lines joined by "\".
void abort_write_backtrace(const void *const *frames, int count, intptr_t slide);
// The program image's extent [base, base + size) used to tell its addresses.
void abort_program_range(intptr_t slide, uintptr_t *base, uintptr_t *size);
