// Runs a built program of the project in a directory of its own and captures
// what it prints, for the system tests.
#ifndef QUORSIM_TEST_PROCESS_H
#define QUORSIM_TEST_PROCESS_H

#include "support/temp_dir.h"

#include <filesystem>
#include <string>
#include <vector>

namespace quortest {

struct ProgramRun {
  int exitCode = -1;   // exit status, or -1 when killed by a signal
  int signal = 0;      // the signal that ended it, 0 when it exited
  std::string out;     // standard output
  std::string err;     // standard error
  std::vector<std::string> OutLines() const;
};

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::filesystem::path& workDir);
// The same, but sends `signal` once the program has installed its own handler
// for it (and `afterMs` later), as a user's Ctrl-C would.
ProgramRun RunProgramAndSignal(const std::string& program, const std::vector<std::string>& args,
                               const std::filesystem::path& workDir, int signal,
                               unsigned afterMs = 100);

// Paths of the built programs and the source tree.
std::string QuorsimProgram();
std::string QuorbenchProgram();
std::string InertHostProgram(); // tests/support/inert_host.cpp
std::string SourceDir();

} // namespace quortest

#endif
