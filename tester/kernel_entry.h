// The programs' main(). SystemC prints its banner before it calls sc_main, so
// whether to print it is settled here: not for --help or --version, whose
// output is read by people and by help2man; every run keeps it on standard error.
#pragma once

#include "quor2_utils.h"

#include <systemc>

#include <cstdlib>

inline int RunKernel(int argc, char** argv) {
  using Orvane::Internal::QUOR2::CommandLine;
  const CommandLine::Action action = Orvane::Internal::QUOR2::ParseCommandLine(argc, argv).action;
  if (action == CommandLine::Help || action == CommandLine::Version)
    setenv("SYSTEMC_DISABLE_COPYRIGHT_MESSAGE", "1", 1);
  return sc_core::sc_elab_and_sim(argc, argv);
}
