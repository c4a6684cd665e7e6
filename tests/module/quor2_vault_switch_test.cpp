// One vault switch between doubles of its slices, its link master and the
// other quads, one simulation per child process.
#include "doubles/vault_switch_doubles.h"
#include "support/scenario.h"

#include "quor2_clock.h"
#include "quor2_messages.h"

#include <gtest/gtest.h>

#include <csignal>
#include <iostream>
#include <map>
#include <random>
#include <sstream>

using namespace Orvane::Internal::QUOR2;
using quortest::MakeVswPacket;
using quortest::RunScenario;
using quortest::VswBench;
using quortest::VswProbe;
using quortest::VswSeenFlit;
using sc_core::sc_time;
using sc_core::SC_PS;
using sc_core::wait;

namespace {

const sc_time kPs(1, SC_PS);

// Joins the flits of several packets into one cycle's writes.
std::vector<Flit*> Join(std::initializer_list<std::vector<Flit*>> packets) {
  std::vector<Flit*> all;
  for (const auto& p : packets) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// Keeps the model's lines while the kernel runs; the checks print afterwards.
class CoutCapture {
public:
  CoutCapture() : old(std::cout.rdbuf(text.rdbuf())) {}
  ~CoutCapture() { Stop(); }
  std::string Stop() {
    if (old != nullptr) std::cout.rdbuf(old);
    old = nullptr;
    return text.str();
  }

private:
  std::ostringstream text;
  std::streambuf* old;
};

} // namespace

// ---------------------------------------------------------------- intake

TEST(VaultSwitchIntake, SliceFlitsTakeLanesZeroOneTwoThenZeroAndWaitTheLatchDelay) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.FLITS_OUT_PER_CYCLE_VC = 3;
                StatsKeeper stats(cfg);
                VswBench bench(cfg, stats, 0);
                auto packet = MakeVswPacket(7, 0, 0, 4);
                bench.slices[0]->sender.WriteAt(2, {packet[0], packet[1], packet[2]});
                bench.slices[0]->sender.WriteAt(3, {packet[3]});
                VswProbe probe("probe", [&] {
                  wait(bench.Cycle(4) + kPs);
                  const auto& latch = bench.vsw.vaultDelayLatches[0];
                  SCN_CHECK_EQ(latch.size(), 4u);
                  if (latch.size() == 4) {
                    SCN_CHECK_EQ(latch[0]->currentLane, 0);
                    SCN_CHECK_EQ(latch[1]->currentLane, 1);
                    SCN_CHECK_EQ(latch[2]->currentLane, 2);
                    SCN_CHECK_EQ(latch[3]->currentLane, 0);
                  }
                  // Arrived at cycle 2: in the vault buffer at cycle 8, not a picosecond before.
                  wait(bench.Cycle(8) - kPs - sc_core::sc_time_stamp());
                  SCN_CHECK_EQ(bench.vsw.vaultResponseBuffers[0].size(), 0u);
                  wait(2 * kPs);
                  SCN_CHECK_EQ(bench.vsw.vaultResponseBuffers[0].size(), 3u);
                  SCN_CHECK_EQ(bench.vsw.vaultDelayLatches[0].size(), 1u);
                });
                sc_core::sc_start(bench.Cycle(40));
                SCN_CHECK_EQ(bench.lm.received.size(), 4u);
                SCN_CHECK_EQ(quortest::CheckVswStream(bench.lm.received, 3), "");
              }),
              ::testing::ExitedWithCode(0), "");
}

namespace {
// Every other quad sends one flit at cycle 5; each lands in its source buffer
// one cycle later plus the plain or diagonal latch delay.
void InterQuadLatchScenario(unsigned id) {
  Config cfg;
  StatsKeeper stats(cfg);
  VswBench bench(cfg, stats, id);
  for (unsigned k = 0; k < 3; ++k)
    bench.quads[k]->sender.WriteAt(5, MakeVswPacket(100 + k, k, id, 1));
  std::vector<uint64_t> expected(3);
  for (unsigned k = 0; k < 3; ++k) {
    const bool diagonal = vswitch::IsDiagonalPair(id, vswitch::PortToQuad(id, k));
    expected[k] = 5 + 1 + (diagonal ? cfg.VSW_INTERQUAD_LATCH_DELAY_Z : cfg.VSW_INTERQUAD_LATCH_DELAY);
  }
  std::vector<sc_time> arrival(3);
  VswProbe probe("probe", [&] {
    // Sample every source buffer just after each edge and 1 ps before it.
    for (uint64_t c = 6; c < 14; ++c) {
      wait(bench.Cycle(c) - kPs - sc_core::sc_time_stamp());
      for (unsigned k = 0; k < 3; ++k)
        if (c == expected[k]) SCN_CHECK_EQ(bench.vsw.interquadBuffers[k].size(), 0u);
      wait(2 * kPs);
      for (unsigned k = 0; k < 3; ++k)
        if (c == expected[k]) SCN_CHECK(!bench.vsw.interquadBuffers[k].empty() ||
                                        bench.lm.received.size() > 0);
    }
  });
  sc_core::sc_start(bench.Cycle(30));
  SCN_CHECK_EQ(bench.lm.received.size(), 3u);
  for (const auto& f : bench.lm.received) {
    const unsigned k = f.tag - 100;
    // Source buffer at the expected cycle, at the link master one step later.
    SCN_CHECK(f.time >= bench.Cycle(expected[k] + 1));
    SCN_CHECK(f.time <= bench.Cycle(expected[k] + 2));
  }
  SCN_CHECK_EQ(bench.vsw.interquadDelayLatches[0].size(), 0u);
}
} // namespace

TEST(VaultSwitchIntake, DiagonalQuadsZeroAndThreeWaitTheZLatchDelay) {
  EXPECT_EXIT(RunScenario([] { InterQuadLatchScenario(3); }), ::testing::ExitedWithCode(0), "");
}

TEST(VaultSwitchIntake, DiagonalQuadsOneAndTwoWaitTheZLatchDelay) {
  EXPECT_EXIT(RunScenario([] { InterQuadLatchScenario(2); }), ::testing::ExitedWithCode(0), "");
}

TEST(VaultSwitchIntake, SourceBufferOccupancyGrowsByLengthTimesElapsedTime) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                VswBench bench(cfg, stats, 0);
                bench.slices[1]->sender.WriteAt(2, MakeVswPacket(1, 1, 0, 1));
                bench.quads[0]->sender.WriteAt(2, MakeVswPacket(2, 2, 0, 1));
                sc_core::sc_start(bench.Cycle(30));
                // Vault 1: one flit from 0 to cycle 8 (in), then one flit for a cycle (taken out).
                SCN_CHECK_EQ(stats.perVSWSourceBufferAvg[0][1], 8u * 1600 + 1600);
                // Port 0: in at cycle 2 + 1 + 3; leaving an interquad buffer is not sampled.
                SCN_CHECK_EQ(stats.perVSWSourceBufferAvg[0][cfg.VAULTS_PER_QUAD], 6u * 1600);
                SCN_CHECK_EQ(bench.lm.received.size(), 2u);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(VaultSwitchIntake, BufferOverflowsArePrintedAndTheFlitsKept) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.VSW_RESPONSE_BUFFER_SIZE = 1;
                cfg.VSW_INTERQUAD_BUFFER_SIZE = 1;
                StatsKeeper stats(cfg);
                VswBench bench(cfg, stats, 0);
                bench.slices[0]->sender.WriteAt(
                    2, Join({MakeVswPacket(1, 0, 0, 1), MakeVswPacket(2, 0, 0, 1)}));
                bench.quads[1]->sender.WriteAt(
                    2, Join({MakeVswPacket(3, 0, 0, 1), MakeVswPacket(4, 0, 0, 1)}));
                CoutCapture capture;
                sc_core::sc_start(bench.Cycle(40));
                const std::string out = capture.Stop();
                std::cout << out;
                const std::string q2Line = "=[" + bench.Cycle(6).to_string() +
                                           "]= ERROR - Vault Switch 0 overflowed buffer Q2\n";
                const std::string vaultLine = "=[" + bench.Cycle(8).to_string() +
                                              "]= ERROR - Vault Switch 0 overflowed buffer 0\n";
                SCN_CHECK_EQ(out, q2Line + vaultLine);
                SCN_CHECK_EQ(bench.lm.received.size(), 4u);
              }),
              ::testing::ExitedWithCode(0), "");
}

// ---------------------------------------------------------------- arbitration

TEST(VaultSwitchArbitration, TwoVaultsPacketsForOneDestinationNeverInterleave) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                VswBench bench(cfg, stats, 0);
                // Vaults 0 and 1 send 5-flit packets to the link master, vaults 2 and 3
                // to quad 2, all in the same cycles.
                for (unsigned v = 0; v < 4; ++v) {
                  auto p = MakeVswPacket(10 + v, v, v < 2 ? 0 : 2, 5);
                  bench.slices[v]->sender.WriteAt(2, {p[0], p[1]});
                  bench.slices[v]->sender.WriteAt(3, {p[2], p[3]});
                  bench.slices[v]->sender.WriteAt(4, {p[4]});
                }
                sc_core::sc_start(bench.Cycle(60));
                SCN_CHECK_EQ(bench.lm.received.size(), 10u);
                SCN_CHECK_EQ(quortest::CheckVswStream(bench.lm.received, 3), "");
                auto& toQuad2 = bench.quads[1]->received;
                SCN_CHECK_EQ(toQuad2.size(), 10u);
                SCN_CHECK_EQ(quortest::CheckVswStream(toQuad2, 3), "");
                for (const auto& f : toQuad2) SCN_CHECK_EQ(f.sourceLink, 2u);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(VaultSwitchArbitration, LaterFlitForTheLinkMasterOvertakesEarlierFlitsForQuad2) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.FLITS_OUT_PER_CYCLE_VC = 3;
                cfg.SMOOTHING_BUFFER_Q_SIZE = 1;
                StatsKeeper stats(cfg);
                VswBench bench(cfg, stats, 0);
                // Oldest first: two flits for quad 2, then one for the link master.
                bench.slices[0]->sender.WriteAt(2, Join({MakeVswPacket(1, 0, 2, 1),
                                                         MakeVswPacket(2, 0, 2, 1),
                                                         MakeVswPacket(3, 0, 0, 1)}));
                VswProbe probe("probe", [&] {
                  wait(bench.Cycle(9) + kPs);
                  // The first step served the link master first: its flit left the vault
                  // buffer over both older flits; the second flit for quad 2 still waits.
                  SCN_CHECK_EQ(bench.vsw.vaultResponseBuffers[0].size(), 1u);
                  if (!bench.vsw.vaultResponseBuffers[0].empty())
                    SCN_CHECK_EQ(bench.vsw.vaultResponseBuffers[0].front().GetTag(), 2u);
                });
                sc_core::sc_start(bench.Cycle(40));
                SCN_CHECK_EQ(bench.lm.received.size(), 1u);
                SCN_CHECK_EQ(bench.quads[1]->received.size(), 2u);
                if (bench.lm.received.size() == 1 && bench.quads[1]->received.size() == 2) {
                  SCN_CHECK_EQ(bench.lm.received[0].time, bench.Cycle(10));
                  SCN_CHECK_EQ(bench.quads[1]->received[0].tag, 1u);
                  SCN_CHECK_EQ(bench.quads[1]->received[1].tag, 2u);
                  SCN_CHECK(bench.quads[1]->received[1].time > bench.lm.received[0].time);
                }
              }),
              ::testing::ExitedWithCode(0), "");
}

namespace {
// Sixty one-flit responses from vault 0 to quad 1, whose double returns one
// credit per flit two cycles after taking it.
void ThrottleScenario(unsigned interquadCredits, bool expectThrottled) {
  Config cfg;
  cfg.VSW_INTERQUAD_BUFFER_SIZE = interquadCredits;
  StatsKeeper stats(cfg);
  VswBench bench(cfg, stats, 0);
  for (unsigned i = 0; i < 60; ++i) bench.slices[0]->sender.Queue(MakeVswPacket(i, 0, 1, 1));
  sc_core::sc_start(bench.Cycle(400));
  const auto& got = bench.quads[0]->received;
  SCN_CHECK_EQ(got.size(), 60u);
  SCN_CHECK_EQ(quortest::CheckVswStream(got, 3), "");
  std::vector<uint64_t> steps;
  for (const auto& f : got) {
    const uint64_t c = f.time.value() / cfg.CORE_CLK.value();
    if (steps.empty() || steps.back() != c) steps.push_back(c);
  }
  bool consecutive = false;
  bool oneInThree = true;
  bool exactlyThree = false;
  for (std::size_t i = 1; i < steps.size(); ++i) {
    const uint64_t gap = steps[i] - steps[i - 1];
    consecutive = consecutive || gap == 1;
    oneInThree = oneInThree && gap % 3 == 0;
    exactlyThree = exactlyThree || gap == 3;
  }
  if (expectThrottled) {
    SCN_CHECK(oneInThree);
    SCN_CHECK(exactlyThree);
  } else {
    SCN_CHECK(consecutive);
  }
  SCN_CHECK(bench.quads[0]->maxOutstanding <= static_cast<int>(interquadCredits));
  SCN_CHECK_EQ(bench.vsw.destinationCredits[1], static_cast<int>(interquadCredits));
  SCN_CHECK_EQ(bench.slices[0]->sender.credits, static_cast<int>(cfg.VSW_RESPONSE_BUFFER_SIZE));
}
} // namespace

TEST(VaultSwitchThrottling, InterQuadDestinationAtTenCreditsSendsOneStepInThree) {
  EXPECT_EXIT(RunScenario([] { ThrottleScenario(10, true); }), ::testing::ExitedWithCode(0), "");
}

TEST(VaultSwitchThrottling, InterQuadDestinationWithCreditsToSpareSendsEveryStep) {
  EXPECT_EXIT(RunScenario([] { ThrottleScenario(42, false); }), ::testing::ExitedWithCode(0), "");
}

// ---------------------------------------------------------------- priority

TEST(VaultSwitchPriority, OnForPriorityTimeThenLockedForPriorityWait) {
  EXPECT_EXIT(
      RunScenario([] {
        Config cfg;
        cfg.VSW_RESPONSE_BUFFER_THRESHOLD = 3;
        cfg.BUFFER_PRIORITY_TIME = cfg.CORE_CLK * 20;
        cfg.BUFFER_PRIORITY_WAIT = cfg.CORE_CLK * 10;
        cfg.LINK_MASTER_BUFFER_SIZE = 0; // nothing leaves: vault 0 stays over its threshold
        cfg.SMOOTHING_BUFFER_LM_SIZE = 1;
        StatsKeeper stats(cfg);
        VswBench bench(cfg, stats, 0);
        bench.lm.autoReturn = false;
        for (unsigned i = 0; i < 8; ++i) bench.slices[0]->sender.Queue(MakeVswPacket(i, 0, 0, 1));
        std::vector<bool> on, locked;
        VswProbe probe("probe", [&] {
          for (uint64_t c = 0; c < 120; ++c) {
            wait(bench.Cycle(c) + kPs - sc_core::sc_time_stamp());
            on.push_back(bench.vsw.usePriority);
            locked.push_back(bench.vsw.priorityLock);
          }
        });
        CoutCapture capture;
        sc_core::sc_start(bench.Cycle(121));
        const std::string out = capture.Stop();
        SCN_CHECK_EQ(out, "");
        std::size_t first = 0;
        while (first < on.size() && !on[first]) ++first;
        SCN_CHECK(first >= 7 && first <= 9);
        if (first + 60 >= on.size()) return;
        for (std::size_t c = first; c < first + 20; ++c) {
          SCN_CHECK(on[c]);
          SCN_CHECK(!locked[c]);
        }
        for (std::size_t c = first + 20; c < first + 30; ++c) {
          SCN_CHECK(!on[c]); // over threshold, but locked
          SCN_CHECK(locked[c]);
        }
        SCN_CHECK(!locked[first + 30]);
        // On again at the first step once the lock is gone.
        SCN_CHECK(on[first + 31]);
        const std::size_t second = on[first + 30] ? first + 30 : first + 31;
        SCN_CHECK(on[second + 19]);
        SCN_CHECK(!on[second + 20]);
        SCN_CHECK(locked[second + 20]);
      }),
      ::testing::ExitedWithCode(0), "");
}

// ---------------------------------------------------------------- credits

TEST(VaultSwitchCredits, FiveOwedToAVaultGoBackTwoAtATimeAtEachEdge) {
  EXPECT_EXIT(
      RunScenario([] {
        Config cfg;
        StatsKeeper stats(cfg);
        VswBench bench(cfg, stats, 0);
        const unsigned vaults = cfg.VAULTS_PER_QUAD;
        VswProbe probe("probe", [&] {
          wait(bench.Cycle(3));
          bench.vsw.returnCredits[0] = 5;
          bench.vsw.returnCredits[vaults + 1] = 5; // towards quad 2, three per pulse
          bench.vsw.returnCreditEvent.notify();
          wait(kPs);
          // The first pulse took what the lanes allow; the rest is still owed.
          SCN_CHECK_EQ(bench.vsw.returnCredits[0], 3u);
          SCN_CHECK_EQ(bench.vsw.returnCredits[vaults + 1], 2u);
          SCN_CHECK_EQ(bench.creditsOut[0].read(), 2);
          wait(HalfPeriod(cfg.CORE_CLK));
          SCN_CHECK_EQ(bench.creditsOut[0].read(), 0);
          SCN_CHECK_EQ(bench.creditsOut[vaults + 1].read(), 0);
        });
        sc_core::sc_start(bench.Cycle(20));
        const auto& vaultPulses = bench.slices[0]->creditPulses;
        SCN_CHECK_EQ(vaultPulses.size(), 3u);
        if (vaultPulses.size() == 3) {
          SCN_CHECK_EQ(vaultPulses[0].amount, 2);
          SCN_CHECK_EQ(vaultPulses[0].time, bench.Cycle(3));
          SCN_CHECK_EQ(vaultPulses[1].amount, 2);
          SCN_CHECK_EQ(vaultPulses[1].time, bench.Cycle(4));
          SCN_CHECK_EQ(vaultPulses[2].amount, 1);
          SCN_CHECK_EQ(vaultPulses[2].time, bench.Cycle(5));
        }
        const auto& quadPulses = bench.quads[1]->creditPulses;
        SCN_CHECK_EQ(quadPulses.size(), 2u);
        if (quadPulses.size() == 2) {
          SCN_CHECK_EQ(quadPulses[0].amount, 3);
          SCN_CHECK_EQ(quadPulses[1].amount, 2);
          SCN_CHECK_EQ(quadPulses[1].time, bench.Cycle(4));
        }
        SCN_CHECK(!bench.slices[0]->creditOffEdge);
        SCN_CHECK_EQ(bench.vsw.returnCredits[0], 0u);
      }),
      ::testing::ExitedWithCode(0), "");
}

TEST(VaultSwitchCredits, LinkMasterCreditsAreUsableAtTheNextEdge) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.LINK_MASTER_BUFFER_SIZE = 0;
                StatsKeeper stats(cfg);
                VswBench bench(cfg, stats, 0);
                bench.lm.autoReturn = false;
                bench.slices[0]->sender.WriteAt(2, MakeVswPacket(1, 0, 0, 1));
                bench.slices[0]->sender.WriteAt(30, MakeVswPacket(2, 0, 0, 1));
                // Off an edge: usable at the next edge; on an edge: a whole cycle later.
                bench.lm.ScheduleCredit(bench.Cycle(20) + sc_time(700, SC_PS), 1);
                bench.lm.ScheduleCredit(bench.Cycle(50), 1);
                sc_core::sc_start(bench.Cycle(80));
                SCN_CHECK_EQ(bench.lm.received.size(), 2u);
                if (bench.lm.received.size() == 2) {
                  SCN_CHECK_EQ(bench.lm.received[0].time, bench.Cycle(21));
                  SCN_CHECK_EQ(bench.lm.received[1].time, bench.Cycle(51));
                }
                SCN_CHECK_EQ(bench.vsw.destinationCredits[0], 0);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(VaultSwitchCredits, ACreditArrivingWhileThrottledIsUsedWhenTheThrottleEnds) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.LINK_MASTER_BUFFER_SIZE = 0;
                StatsKeeper stats(cfg);
                VswBench bench(cfg, stats, 0);
                bench.lm.autoReturn = false;
                // In the smoothing buffer at cycle 9; the step at cycle 10 finds no credit
                // and throttles the link master until cycle 12. The only credit comes in
                // between, and nothing else wakes the switch.
                bench.slices[0]->sender.WriteAt(2, MakeVswPacket(1, 0, 0, 1));
                bench.lm.ScheduleCredit(bench.Cycle(10) + sc_time(700, SC_PS), 1);
                sc_core::sc_start(bench.Cycle(60));
                SCN_CHECK_EQ(bench.lm.received.size(), 1u);
                if (!bench.lm.received.empty())
                  SCN_CHECK_EQ(bench.lm.received[0].time, bench.Cycle(12));
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(VaultSwitchCredits, InterQuadCreditsCountAfterThePlainOrDiagonalDelay) {
  EXPECT_EXIT(
      RunScenario([] {
        Config cfg;
        StatsKeeper stats(cfg);
        VswBench bench(cfg, stats, 2); // port 0 faces quad 0, port 1 quad 1 (diagonal), port 2 quad 3
        for (unsigned q : {0u, 1u, 3u}) bench.vsw.destinationCredits[q] -= 5;
        for (unsigned k = 0; k < 3; ++k) bench.quads[k]->ScheduleCredit(3, 5);
        VswProbe probe("probe", [&] {
          auto& credits = bench.vsw.destinationCredits;
          const uint64_t plain = 3 + cfg.CREDIT_RETURN_DELAY_VSW_VSW;
          const uint64_t diagonal = 3 + cfg.CREDIT_RETURN_DELAY_VSW_VSW_Z;
          wait(bench.Cycle(plain) - kPs);
          SCN_CHECK_EQ(credits[0], 37);
          SCN_CHECK_EQ(credits[3], 37);
          SCN_CHECK_EQ(credits[1], 37);
          wait(2 * kPs);
          SCN_CHECK_EQ(credits[0], 42);
          SCN_CHECK_EQ(credits[3], 42);
          SCN_CHECK_EQ(credits[1], 37);
          wait(bench.Cycle(diagonal) - kPs - sc_core::sc_time_stamp());
          SCN_CHECK_EQ(credits[1], 37);
          wait(2 * kPs);
          SCN_CHECK_EQ(credits[1], 42);
        });
        sc_core::sc_start(bench.Cycle(30));
      }),
      ::testing::ExitedWithCode(0), "");
}

TEST(VaultSwitchCredits, CreditOverflowFromAPlainNeighbourAborts) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                VswBench bench(cfg, stats, 0);
                bench.quads[0]->ScheduleCredit(3, 1); // quad 1 returns a credit it never had
                sc_core::sc_start(bench.Cycle(30));
              }),
              ::testing::KilledBySignal(SIGABRT), "== ERROR - Credit overflow in quad 0 - index 1\n");
}

TEST(VaultSwitchCredits, CreditOverflowFromTheDiagonalNeighbourAborts) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                VswBench bench(cfg, stats, 0);
                bench.quads[2]->ScheduleCredit(3, 1); // quad 3, diagonal to quad 0
                sc_core::sc_start(bench.Cycle(30));
              }),
              ::testing::KilledBySignal(SIGABRT), "== ERROR - Z-Credit overflow in quad 0\n");
}

// ---------------------------------------------------------------- state dump

TEST(VaultSwitchDump, PrintsCreditsVaultBuffersSmoothingBufferAndQuadBuffers) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                VswBench bench(cfg, stats, 1);
                auto read = MakeVswPacket(9, 0x40, 1, 2);
                auto write = MakeVswPacket(4, 0x80, 0, 1);
                auto remote = MakeVswPacket(5, 0xc0, 1, 1);
                bench.vsw.vaultResponseBuffers[0].assign({Flit_P(read[0]), Flit_P(read[1])});
                bench.vsw.smoothingBuffers[1].push_back(Flit_P(write[0]));
                bench.vsw.interquadBuffers[2].push_back(Flit_P(remote[0]));
                bench.vsw.destinationCredits[3] = 7;
                std::ostringstream expected;
                expected << "== VSW1\n\t\tDestination Credits [42, 32, 42, 7, ]\n"
                         << "\t\tVC4 Buffer - 2 entries\n"
                         << "\t\t 0] " << *read[0] << "\n\t\t 1] " << *read[1] << "\n"
                         << "\t\tVC5 Buffer - 0 entries\n\t\tVC6 Buffer - 0 entries\n"
                         << "\t\tVC7 Buffer - 0 entries\n"
                         << "\t\tLocal Smoothing Buffer : 1 entries\n\t\t 0] " << *write[0] << "\n"
                         << "\t\tQ0 : 0 entries\n\t\tQ2 : 0 entries\n\t\tQ3 : 1 entries\n"
                         << "\t\t 0] " << *remote[0] << "\n";
                CoutCapture capture;
                bench.vsw.DumpState();
                const std::string out = capture.Stop();
                SCN_CHECK_EQ(out, expected.str());
              }),
              ::testing::ExitedWithCode(0), "");
}

// ---------------------------------------------------------------- long mix

namespace {
// Every vault sends 150 responses for random destinations, every other quad 100
// responses for this quad, with random sizes and gaps.
void MixScenario(bool underPressure) {
        Config cfg;
        if (underPressure) {
          // Small buffers and thresholds, slow link master: priority and throttles act.
          cfg.VSW_RESPONSE_BUFFER_THRESHOLD = 4;
          cfg.VSW_INTERQUAD_BUFFER_THRESHOLD = 4;
          cfg.BUFFER_PRIORITY_TIME = cfg.CORE_CLK * 30;
          cfg.BUFFER_PRIORITY_WAIT = cfg.CORE_CLK * 10;
          cfg.LINK_MASTER_BUFFER_SIZE = 12;
          cfg.VSW_INTERQUAD_BUFFER_SIZE = 16;
          cfg.SMOOTHING_BUFFER_LM_SIZE = 4;
          cfg.SMOOTHING_BUFFER_Q_SIZE = 3;
        }
        StatsKeeper stats(cfg);
        const unsigned id = 1;
        VswBench bench(cfg, stats, id);
        if (underPressure) bench.lm.returnDelay = cfg.CORE_CLK * 6;
        unsigned priorityCycles = 0;
        unsigned throttledCycles = 0;
        VswProbe probe("probe", [&] {
          for (uint64_t c = 0; c < 20000; ++c) {
            wait(bench.Cycle(c) + kPs - sc_core::sc_time_stamp());
            if (bench.vsw.usePriority) ++priorityCycles;
            if (bench.vsw.destinationThrottle[id]) ++throttledCycles;
          }
        });
        std::mt19937 rng(20240611);
        const unsigned sizes[] = {1, 2, 3, 5, 9};
        std::map<unsigned, unsigned> expectedPerDestination;
        // Vaults: responses for every destination; quads: responses for this quad.
        for (unsigned v = 0; v < 4; ++v) {
          uint64_t cycle = 0;
          for (unsigned i = 0; i < 150; ++i) {
            const unsigned n = sizes[rng() % 5];
            const unsigned dest = rng() % 4;
            cycle += rng() % 4;
            bench.slices[v]->sender.Queue(MakeVswPacket((v + 1) * 100000 + i, v, dest, n), cycle);
            expectedPerDestination[dest] += n;
          }
        }
        for (unsigned k = 0; k < 3; ++k) {
          uint64_t cycle = 0;
          for (unsigned i = 0; i < 100; ++i) {
            const unsigned n = sizes[rng() % 5];
            cycle += rng() % 5;
            bench.quads[k]->sender.Queue(
                MakeVswPacket((10 + k) * 100000 + i, 100 + k, id, n), cycle);
            expectedPerDestination[id] += n;
          }
          bench.quads[k]->returnDelayCycles = 2 + k * 3;
        }
        CoutCapture capture;
        sc_core::sc_start(bench.Cycle(20000));
        const std::string out = capture.Stop();
        std::cout << out;
        SCN_CHECK_EQ(out, ""); // no overflow or timing message

        auto checkDestination = [&](const std::vector<VswSeenFlit>& got, unsigned dest) {
          SCN_CHECK_EQ(got.size(), expectedPerDestination[dest]);
          SCN_CHECK_EQ(quortest::CheckVswStream(got, cfg.FLITS_PER_CYCLE_VSW), "");
          std::map<uint64_t, uint32_t> lastTag; // per source: tags only grow
          for (const auto& f : got) {
            SCN_CHECK_EQ(f.sourceLink, dest);
            if (!f.header) continue;
            auto it = lastTag.find(f.address);
            if (it != lastTag.end()) SCN_CHECK(f.tag > it->second);
            lastTag[f.address] = f.tag;
          }
        };
        checkDestination(bench.lm.received, id);
        for (unsigned k = 0; k < 3; ++k)
          checkDestination(bench.quads[k]->received, bench.quads[k]->quad);

        // Drained: every credit is back where it started.
        for (unsigned v = 0; v < 4; ++v) {
          SCN_CHECK(bench.slices[v]->sender.Idle());
          SCN_CHECK_EQ(bench.slices[v]->sender.credits, static_cast<int>(cfg.VSW_RESPONSE_BUFFER_SIZE));
          SCN_CHECK(!bench.slices[v]->creditOffEdge);
          SCN_CHECK(bench.vsw.vaultResponseBuffers[v].empty());
        }
        for (unsigned k = 0; k < 3; ++k) {
          SCN_CHECK(bench.quads[k]->sender.Idle());
          SCN_CHECK_EQ(bench.quads[k]->sender.credits, static_cast<int>(cfg.VSW_INTERQUAD_BUFFER_SIZE));
          SCN_CHECK(bench.quads[k]->maxOutstanding <= static_cast<int>(cfg.VSW_INTERQUAD_BUFFER_SIZE));
          SCN_CHECK_EQ(bench.quads[k]->outstanding, 0);
          for (const auto& p : bench.quads[k]->creditPulses)
            SCN_CHECK(p.amount <= static_cast<int>(cfg.FLITS_PER_CYCLE_VSW));
          SCN_CHECK(bench.vsw.interquadBuffers[k].empty());
        }
        for (unsigned q = 0; q < 4; ++q) {
          const unsigned start = q == id ? cfg.LINK_MASTER_BUFFER_SIZE : cfg.VSW_INTERQUAD_BUFFER_SIZE;
          SCN_CHECK_EQ(bench.vsw.destinationCredits[q], static_cast<int>(start));
          SCN_CHECK(bench.vsw.smoothingBuffers[q].empty());
        }
        for (unsigned owed : bench.vsw.returnCredits) SCN_CHECK_EQ(owed, 0u);
        SCN_CHECK(bench.lm.maxOutstanding <= static_cast<int>(cfg.LINK_MASTER_BUFFER_SIZE));
        SCN_CHECK_EQ(bench.lm.outstanding, 0);
        SCN_CHECK(!bench.vsw.lmLocked);
        if (underPressure) {
          SCN_CHECK(priorityCycles > 0);
          SCN_CHECK(throttledCycles > 0);
        }
        for (int lock : bench.vsw.destinationBufferLocks) SCN_CHECK_EQ(lock, -1);
      }
} // namespace

TEST(VaultSwitchMix, RandomResponsesReachTheirDestinationsWholeInOrderWithAllCreditsBack) {
  EXPECT_EXIT(RunScenario([] { MixScenario(false); }), ::testing::ExitedWithCode(0), "");
}

TEST(VaultSwitchMix, UnderPriorityAndThrottlingTheMixStillArrivesWholeWithAllCreditsBack) {
  EXPECT_EXIT(RunScenario([] { MixScenario(true); }), ::testing::ExitedWithCode(0), "");
}
