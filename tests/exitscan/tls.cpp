// A library with one thread-local variable, for exit_scan_test: loaded at
// run time, its block is a dynamic one that the first access allocates.
alignas(16) static thread_local void *held[2];

// Keeps `p` only in this thread's block and returns the block's address.
extern "C" void *exit_scan_hold(void *p) {
  held[0] = p;
  return held;
}
