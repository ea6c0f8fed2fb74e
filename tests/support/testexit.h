// The check that a test process ends with no thread but its main one still
// running (testexit.cpp). It is armed before main in every test program that
// links it; the shared start-up code calls test_exit_check_link so that it is
// linked.
#pragma once

void test_exit_check_link(void);
