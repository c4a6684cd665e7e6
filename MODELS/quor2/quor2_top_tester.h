// The library's own entry: loads and validates the configuration named on the
// command line, builds the testbench, runs it and prints the report.
#ifndef QUOR2_TOP_TESTER_H
#define QUOR2_TOP_TESTER_H

#include <systemc>

void usage();

#endif
