#include "quor2_testbench.h"
#include "quor2_top_tester.h"

int sc_main(int argc, char** argv) { return Orvane::Internal::QUOR2::RunTestbench(argc, argv); }
