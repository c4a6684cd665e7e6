#include "support/scenario.h"

#include <cstdio>
#include <cstdlib>
#include <thread>
#include <unistd.h>

namespace quortest {
namespace {
bool failed = false;
}

void ReportFailure(const std::string& what, const char* file, int line) {
  failed = true;
  std::cout << "CHECK FAILED " << file << ":" << line << ": " << what << std::endl;
}

void RunScenario(const std::function<void()>& scenario) {
  std::cout.flush();
  std::fflush(stdout);
  dup2(STDERR_FILENO, STDOUT_FILENO);
  // A simulation run on the main thread makes LeakSanitizer see objects held by
  // main-stack locals as leaked; a thread of its own avoids that.
  std::thread runner(scenario);
  runner.join();
  std::cout.flush();
  std::fflush(stdout);
  std::fflush(stderr);
  std::exit(failed ? 3 : 0);
}

} // namespace quortest
