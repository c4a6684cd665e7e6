#include "doubles/source_doubles.h"
#include "kvl_monitor.h"
#include "support/scenario.h"

#include <gtest/gtest.h>

using namespace Orvane::Internal::QUOR2;
using namespace sc_core;
using quortest::DoneDriver;
using quortest::RunScenario;

namespace {
// A monitor watching `count` scripted done signals, run to the end.
void RunMonitor(unsigned count, std::vector<DoneDriver::Step> script, sc_time expectedStop) {
  Config cfg;
  cfg.NUM_GENERATORS = count;
  auto* driver = new DoneDriver("driver", count);
  driver->script = std::move(script);
  auto* monitor = new kvl_monitor("monitor", cfg);
  for (unsigned i = 0; i < count; ++i) monitor->done[i](driver->signals[i]);
  sc_start(sc_time(1, SC_US));
  SCN_CHECK_EQ(sc_time_stamp(), expectedStop);
  for (unsigned i = 0; i < count; ++i)
    SCN_CHECK_EQ(static_cast<bool>(monitor->finishedGenerators[i]), true);
}
} // namespace

TEST(Monitor, StopsWhenTheLastOfTwoSourcesFinishes) {
  EXPECT_EXIT(RunScenario([] {
                RunMonitor(2, {{sc_time(10, SC_NS), 1, true}, {sc_time(25, SC_NS), 0, true}},
                           sc_time(25, SC_NS));
              }),
              ::testing::ExitedWithCode(0),
              "\n=\\[10 ns\\]= GENERATOR 1 DONE!!!\n=\\[25 ns\\]= GENERATOR 0 DONE!!!\n");
}

TEST(Monitor, FallingSignalPrintsAgainAndStopWaitsForAllTrueTogether) {
  EXPECT_EXIT(RunScenario([] {
                RunMonitor(2,
                           {{sc_time(10, SC_NS), 0, true},
                            {sc_time(15, SC_NS), 0, false},
                            {sc_time(20, SC_NS), 1, true},
                            {sc_time(30, SC_NS), 0, true}},
                           sc_time(30, SC_NS));
              }),
              ::testing::ExitedWithCode(0),
              "\n=\\[10 ns\\]= GENERATOR 0 DONE!!!\n=\\[15 ns\\]= GENERATOR 0 DONE!!!\n"
              "=\\[20 ns\\]= GENERATOR 1 DONE!!!\n=\\[30 ns\\]= GENERATOR 0 DONE!!!\n");
}

TEST(Monitor, SourcesDoneInOneDeltaPrintInAscendingOrder) {
  EXPECT_EXIT(RunScenario([] {
                RunMonitor(3,
                           {{sc_time(5, SC_NS), 2, true},
                            {sc_time(5, SC_NS), 0, true},
                            {sc_time(5, SC_NS), 1, true}},
                           sc_time(5, SC_NS));
              }),
              ::testing::ExitedWithCode(0),
              "\n=\\[5 ns\\]= GENERATOR 0 DONE!!!\n=\\[5 ns\\]= GENERATOR 1 DONE!!!\n"
              "=\\[5 ns\\]= GENERATOR 2 DONE!!!\n");
}

TEST(Monitor, NothingDoneRunsToTheTimeLimitSilently) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.NUM_GENERATORS = 2;
                auto* driver = new DoneDriver("driver", 2);
                driver->script = {{sc_time(10, SC_NS), 1, true}};
                auto* monitor = new kvl_monitor("monitor", cfg);
                for (unsigned i = 0; i < 2; ++i) monitor->done[i](driver->signals[i]);
                sc_start(sc_time(1, SC_US));
                SCN_CHECK_EQ(sc_time_stamp(), sc_time(1, SC_US));
                SCN_CHECK(!monitor->finishedGenerators[0]);
              }),
              ::testing::ExitedWithCode(0), "\n=\\[10 ns\\]= GENERATOR 1 DONE!!!\n$");
}
