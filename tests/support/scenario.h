// Runs one simulation scenario in a death-test child process. The model writes
// its lines on standard output; in the child, standard output is joined to
// standard error so EXPECT_EXIT can match them. Checks inside the scenario
// print "CHECK FAILED ..." and make the child exit with status 3.
//
//   EXPECT_EXIT(RunScenario([] { ...; sc_core::sc_start(); }),
//               ::testing::ExitedWithCode(0), "expected line");
#ifndef QUORSIM_TEST_SCENARIO_H
#define QUORSIM_TEST_SCENARIO_H

#include <functional>
#include <iostream>
#include <sstream>
#include <string>

namespace quortest {

[[noreturn]] void RunScenario(const std::function<void()>& scenario);

void ReportFailure(const std::string& what, const char* file, int line);

template <typename A, typename B>
void CheckEq(const A& a, const B& b, const char* ea, const char* eb, const char* file, int line) {
  if (!(a == b)) {
    std::ostringstream os;
    os << ea << " == " << eb << " (" << a << " vs " << b << ")";
    ReportFailure(os.str(), file, line);
  }
}

} // namespace quortest

#define SCN_CHECK(cond)                                                                            \
  do {                                                                                             \
    if (!(cond)) ::quortest::ReportFailure(#cond, __FILE__, __LINE__);                             \
  } while (0)
#define SCN_CHECK_EQ(a, b) ::quortest::CheckEq((a), (b), #a, #b, __FILE__, __LINE__)

#endif
