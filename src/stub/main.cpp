// The launcher program's entry.
#include "stub/stub.h"

int main(int argc, char **argv) { return stub_main(argc, argv); }
