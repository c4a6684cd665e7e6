// How a run's end is judged: which output lines count as errors, what the
// conservation check reports, and the exit status they give together.
#include "quor2_error_watch.h"
#include "quor2_rest_check.h"
#include "quor2_run_end.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace Orvane::Internal::QUOR2;

TEST(ErrorLines, RecognisedWithEveryMessagePrefixAndNowhereElse) {
  const std::pair<const char*, bool> lines[] = {
      {"ERROR - Please use between 1 and 4 traffic generators", true},
      {"== ERROR - Non-contiguous packet in LM0", true},
      {"=[73600 ps]= ERROR - Received WRITE prt:0 bnk:1 - TOO EARLY", true},
      {"=[2 ms]= ERROR - Link Switch 2 input buffer exceeded max capacity (25)", true},
      {"Error - Malformed line : x", false},
      {"[string]: 'STATS_FILENAME'=ERROR.txt", false},
      {"\tERROR indented", false},
      {"=[1 ns]= Generator 0 finished issuing [50% R/W]", false},
      {"=[1 ns ERROR", false},
      {"==ERROR - Ring-Buffer overflow in link.  Received too many flits", true},
      {"==  ERROR - two blanks", true},
      {"=[5 ns]=ERROR - no blank", true},
      {"==", false},
      {"=== Creating generator 0 ===", false},
      {"", false},
  };
  for (const auto& [line, isError] : lines) EXPECT_EQ(IsErrorLine(line), isError) << line;
}

TEST(ErrorLines, WatchCountsWholeLinesAndPassesOutputThrough) {
  std::ostringstream out;
  {
    ErrorLineWatch watch(out);
    out << "== ERR" << "OR - split across writes" << std::endl;
    out << "fine\n=[5 ns]= ERROR - one\nERROR";
    out.put(' ');
    out << "- two\n";
    out << "no error here" << std::endl;
    EXPECT_EQ(watch.ErrorLines(), 3u);
  }
  EXPECT_EQ(out.str(), "== ERROR - split across writes\nfine\n=[5 ns]= ERROR - one\nERROR - two\n"
                       "no error here\n");
  out << "ERROR - after the watch\n";
  EXPECT_EQ(out.str().size(), 107u);
}

TEST(RestCheckReport, NamesCounterValueAndExpectation) {
  RestCheck check;
  check.Expect("cube.quad0.link0.tokenCount", 219, 219);
  check.ExpectEmpty("hostController.requestBuffers[1]", 0);
  EXPECT_TRUE(check.Clean());
  check.ExpectAll("cube.quad1.lsw1.writeDataCredits", std::vector<unsigned>{10, 8},
                  std::vector<unsigned>{10, 10});
  check.ExpectAllEmpty("cube.quad2.vsw2.smoothingBuffers", std::vector<std::vector<int>>{{}, {1, 2}});
  EXPECT_FALSE(check.Clean());
  EXPECT_EQ(check.Failures(),
            (std::vector<std::string>{
                "ERROR - cube.quad1.lsw1.writeDataCredits[1] is 8 at the end of the run, expected 10",
                "ERROR - cube.quad2.vsw2.smoothingBuffers[1] is 2 at the end of the run, expected 0"}));
}

TEST(RunExit, NonZeroAfterAnyErrorLineLostCounterOrUnwrittenReport) {
  EXPECT_EQ(RunExitStatus(0, true, true), 0);
  EXPECT_EQ(RunExitStatus(1, true, true), 1);
  EXPECT_EQ(RunExitStatus(0, false, true), 1);
  EXPECT_EQ(RunExitStatus(0, true, false), 1);
  EXPECT_EQ(RunExitStatus(4, false, false), 1);
}
