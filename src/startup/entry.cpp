// The program's entry point; everything it does is main_process's.
#include "main.h"

int main(int argc, char **argv) { return main_process(argc, argv); }
