// The check that a test process ends with no thread but its main one still
// running, and the leak checker's options for test programs (testexit.cpp).
// Both come with every test program that links them; the shared start-up
// code calls test_exit_check_link so that they are linked.
#pragma once

void test_exit_check_link(void);
