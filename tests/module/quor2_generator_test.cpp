#include "doubles/source_doubles.h"
#include "quor2_flit_p.h"
#include "quor2_generator.h"
#include "support/scenario.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

using namespace Orvane::Internal::QUOR2;
using namespace sc_core;
using quortest::CoutCapture;
using quortest::DoneProbe;
using quortest::RunScenario;
using quortest::SourceRequest;
using quortest::SourceTargetDouble;

namespace {

// One generator bound to a controller double, with its done signal probed. Like
// the testbench's sources, everything lives until the process ends.
struct Source {
  quor2_generator* gen;
  SourceTargetDouble* target;
  DoneProbe* probe;
};

Source AddGenerator(const Config& cfg, sc_clock& clock, unsigned id, unsigned seed) {
  char name[32];
  std::snprintf(name, sizeof name, "generator%u", id);
  Source s;
  s.gen = new quor2_generator(name, id, cfg, seed);
  std::snprintf(name, sizeof name, "target%u", id);
  s.target = new SourceTargetDouble(name);
  std::snprintf(name, sizeof name, "probe%u", id);
  s.probe = new DoneProbe(name);
  auto* done = new sc_signal<bool>();
  s.gen->SetClock(&clock);
  s.gen->SetDone(done);
  s.gen->GetRequestSocket()->bind(s.target->socket);
  s.probe->in(*done);
  return s;
}

sc_clock& NewClock(const Config& cfg) { return *new sc_clock("TestClock", cfg.CORE_CLK); }

// Address fields of the standard geometry: bits 6-4 low column, 10-7 vault,
// 13-11 bank, 16-14 high column, 29-17 row.
unsigned Vault(uint64_t a) { return (a >> 7) & 15; }
unsigned Bank(uint64_t a) { return (a >> 11) & 7; }

void UseMixedSizes(Config& cfg) {
  cfg.PERCENTAGE_RD_16B = 12, cfg.PERCENTAGE_RD_32B = 12, cfg.PERCENTAGE_RD_48B = 12;
  cfg.PERCENTAGE_RD_64B = 12, cfg.PERCENTAGE_RD_80B = 13, cfg.PERCENTAGE_RD_96B = 13;
  cfg.PERCENTAGE_RD_112B = 13, cfg.PERCENTAGE_RD_128B = 13;
  cfg.PERCENTAGE_WR_16B = 40, cfg.PERCENTAGE_WR_32B = 0, cfg.PERCENTAGE_WR_48B = 5;
  cfg.PERCENTAGE_WR_64B = 5, cfg.PERCENTAGE_WR_80B = 10, cfg.PERCENTAGE_WR_96B = 10;
  cfg.PERCENTAGE_WR_112B = 0, cfg.PERCENTAGE_WR_128B = 30;
}

unsigned LengthFor(unsigned pick, const std::vector<unsigned>& probabilities) {
  unsigned sum = 0;
  for (unsigned k = 0; k < probabilities.size(); ++k) {
    sum += probabilities[k];
    if (pick < sum) return 16 * (k + 1);
  }
  return 0;
}

// What request number n of a stream-0 generator with this seed must be, by the
// order of draws: vault, bank, row, column, [atomic pick, atomic command],
// read/write pick, size pick.
SourceRequest ExpectedStream0(const Config& cfg, const quor2_generator& gen, uint64_t n,
                              unsigned seed) {
  std::srand(static_cast<unsigned>(n + seed));
  const unsigned vault = std::rand() % 16, bank = std::rand() % 8;
  const unsigned row = std::rand() % 8192, col = std::rand() % 64;
  SourceRequest r;
  if (cfg.USE_ATOMICS != 0 && static_cast<unsigned>(std::rand() % 100) < cfg.ATOMICS_PERCENTAGE)
    r.atomic = ATOMIC_BWR + std::rand() % 6;
  const bool read = static_cast<unsigned>(std::rand() % 100) < cfg.PERCENTAGE_READ;
  r.command = read ? tlm::TLM_READ_COMMAND : tlm::TLM_WRITE_COMMAND;
  r.length = LengthFor(std::rand() % 100, read ? gen.readProbabilities : gen.writeProbabilities);
  unsigned colL = col & 7;
  if (cfg.ALIGNED_32B) colL &= ~1u;
  r.address = (uint64_t{row} << 17) | ((col >> 3) << 14) | (bank << 11) | (vault << 7) |
              (colL << 4);
  return r;
}

} // namespace

TEST(GeneratorIssue, SingleRequestFinishesAtAcceptanceAndIsDoneWithItsResponse) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.NUM_REQUESTS = 1;
                cfg.PERCENTAGE_READ = 100;
                Source s = AddGenerator(cfg, NewClock(cfg), 0, 7);
                sc_start(sc_time(1, SC_US));
                SCN_CHECK_EQ(s.target->requests.size(), 1u);
                SCN_CHECK_EQ(s.target->requests[0].time, sc_time(1600, SC_PS));
                SCN_CHECK_EQ(s.target->requests[0].streamingWidth, 0u);
                SCN_CHECK_EQ(s.target->requests[0].length, 64u);
                SCN_CHECK_EQ(s.probe->rises.size(), 1u);
                SCN_CHECK_EQ(s.probe->rises[0], sc_time(11600, SC_PS));
                SCN_CHECK_EQ(s.gen->issuedRequests, 2u);
                SCN_CHECK_EQ(s.gen->readResponses, 1u);
              }),
              ::testing::ExitedWithCode(0),
              "\n=\\[1600 ps\\]= Generator 0 finished issuing \\[100% R/W\\]\n"
              "=\\[11600 ps\\]= All responses receives in Generator 0\n");
}

TEST(GeneratorIssue, SinglePostedWriteIsDoneAtOnce) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.NUM_REQUESTS = 1;
                cfg.PERCENTAGE_READ = 0;
                cfg.POSTED_WRITES = true;
                Source s = AddGenerator(cfg, NewClock(cfg), 2, 7);
                s.target->postedWrites = true;
                CoutCapture out(true);
                sc_start(sc_time(1, SC_US));
                SCN_CHECK_EQ(s.probe->rises.size(), 1u);
                SCN_CHECK_EQ(s.probe->rises[0], sc_time(1600, SC_PS));
                SCN_CHECK_EQ(out.Text().find("All responses"), std::string::npos);
              }),
              ::testing::ExitedWithCode(0),
              "=\\[1600 ps\\]= Generator 2 finished issuing \\[0% R/W\\]\n");
}

TEST(GeneratorIssue, IssuesAllAcceptedPerEdgeAndResumesAfterParkedRequest) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.NUM_REQUESTS = 5;
                Source s = AddGenerator(cfg, NewClock(cfg), 0, 1);
                s.target->parkEvery = 3;
                s.target->parkTime = sc_time(4000, SC_PS);
                sc_start(sc_time(1, SC_US));
                const auto& r = s.target->requests;
                SCN_CHECK_EQ(r.size(), 5u);
                const sc_time edge2(1600, SC_PS), edge4(6400, SC_PS);
                const sc_time expected[] = {edge2, edge2, edge2, edge4, edge4};
                for (unsigned i = 0; i < r.size() && i < 5; ++i) SCN_CHECK_EQ(r[i].time, expected[i]);
                SCN_CHECK_EQ(s.target->endReqTimes.size(), 1u);
                SCN_CHECK_EQ(s.target->endReqTimes[0], sc_time(5600, SC_PS));
                SCN_CHECK_EQ(s.gen->issuedReads + s.gen->issuedWrites, 5u);
                SCN_CHECK_EQ(s.probe->rises.size(), 1u);
              }),
              ::testing::ExitedWithCode(0), "=\\[6400 ps\\]= Generator 0 finished issuing \\[");
}

TEST(GeneratorIssue, ParkedLastRequestPrintsFinishLineOnItsEndReq) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.NUM_REQUESTS = 3;
                cfg.PERCENTAGE_READ = 100;
                Source s = AddGenerator(cfg, NewClock(cfg), 0, 1);
                s.target->parkEvery = 3;
                s.target->parkTime = sc_time(4000, SC_PS);
                sc_start(sc_time(1, SC_US));
                SCN_CHECK_EQ(s.target->requests.size(), 3u);
                SCN_CHECK_EQ(s.probe->rises.size(), 1u);
                SCN_CHECK_EQ(s.probe->rises[0], sc_time(15600, SC_PS));
              }),
              ::testing::ExitedWithCode(0),
              "=\\[5600 ps\\]= Generator 0 finished issuing \\[100% R/W\\]\n"
              "=\\[15600 ps\\]= All responses receives in Generator 0\n");
}

TEST(GeneratorStreams, RequestsFollowTheSeededDrawOrder) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.NUM_REQUESTS = 60;
                cfg.ALIGNED_32B = false;
                cfg.USE_ATOMICS = 1;
                cfg.ATOMICS_PERCENTAGE = 30;
                UseMixedSizes(cfg);
                const unsigned seed = 1234;
                Source s = AddGenerator(cfg, NewClock(cfg), 0, seed);
                // Answers come back between requests, so payloads are reused,
                // some of them after carrying an atomic.
                s.target->parkEvery = 2;
                s.target->parkTime = sc_time(1000, SC_PS);
                s.target->responseDelay = sc_time(1, SC_NS);
                sc_start(sc_time(10, SC_US));
                const auto& r = s.target->requests;
                SCN_CHECK_EQ(r.size(), 60u);
                unsigned atomics = 0, reads = 0, sizes = 0;
                for (unsigned i = 0; i < r.size(); ++i) {
                  const SourceRequest e = ExpectedStream0(cfg, *s.gen, i + 1, seed);
                  SCN_CHECK_EQ(r[i].address, e.address);
                  SCN_CHECK_EQ(r[i].atomic, e.atomic);
                  SCN_CHECK_EQ(r[i].command, e.command);
                  SCN_CHECK_EQ(r[i].length, e.length);
                  atomics += r[i].atomic >= 0;
                  reads += r[i].command == tlm::TLM_READ_COMMAND;
                  sizes |= 1u << (r[i].length / 16);
                }
                // The mix is really mixed: payload reuse after atomics is exercised.
                SCN_CHECK(atomics > 5 && atomics < 55);
                SCN_CHECK(reads > 5 && reads < 55);
                SCN_CHECK(__builtin_popcount(sizes) >= 5);
                // Few payloads were needed for all the requests.
                unsigned pooled = 0;
                for (auto* a = s.gen->memoryManager.free_list; a != nullptr; a = a->next) ++pooled;
                SCN_CHECK(pooled < 10);
                SCN_CHECK_EQ(s.probe->rises.size(), 1u);
              }),
              ::testing::ExitedWithCode(0), "Generator 0 finished issuing");
}

TEST(GeneratorStreams, SeedShiftedByKGivesTheSameRequestsKLater) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.NUM_REQUESTS = 20;
                cfg.USE_ATOMICS = 1;
                cfg.ATOMICS_PERCENTAGE = 20;
                UseMixedSizes(cfg);
                sc_clock& clock = NewClock(cfg);
                Source a = AddGenerator(cfg, clock, 0, 100);
                Source b = AddGenerator(cfg, clock, 1, 97);
                sc_start(sc_time(10, SC_US));
                const auto& ra = a.target->requests;
                const auto& rb = b.target->requests;
                SCN_CHECK_EQ(ra.size(), 20u);
                SCN_CHECK_EQ(rb.size(), 20u);
                for (unsigned n = 0; n + 3 < 20 && n + 3 < rb.size() && n < ra.size(); ++n) {
                  SCN_CHECK_EQ(ra[n].address, rb[n + 3].address);
                  SCN_CHECK_EQ(ra[n].command, rb[n + 3].command);
                  SCN_CHECK_EQ(ra[n].length, rb[n + 3].length);
                  SCN_CHECK_EQ(ra[n].atomic, rb[n + 3].atomic);
                }
                SCN_CHECK(ra[0].address != rb[0].address);
              }),
              ::testing::ExitedWithCode(0), "Generator 1 finished issuing");
}

TEST(GeneratorStreams, Stream2WalksTheLocalQuadAndAdvancesTheBankAfterItsLastVault) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.NUM_REQUESTS = 10;
                cfg.REQUEST_STREAM = 2;
                Source s = AddGenerator(cfg, NewClock(cfg), 1, 5);
                sc_start(sc_time(10, SC_US));
                const unsigned vaults[] = {4, 5, 6, 7, 4, 5, 6, 7, 4, 5};
                const unsigned banks[] = {0, 0, 0, 0, 1, 1, 1, 1, 2, 2};
                const auto& r = s.target->requests;
                SCN_CHECK_EQ(r.size(), 10u);
                for (unsigned i = 0; i < r.size() && i < 10; ++i) {
                  SCN_CHECK_EQ(Vault(r[i].address), vaults[i]);
                  SCN_CHECK_EQ(Bank(r[i].address), banks[i]);
                }
              }),
              ::testing::ExitedWithCode(0), "Round-robin addressing to local vaults\n");
}

TEST(GeneratorStreams, Stream4WalksLocalThenAdjacentQuadForBothGenerators) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.NUM_GENERATORS = 2;
                cfg.NUM_REQUESTS = 17;
                cfg.REQUEST_STREAM = 4;
                sc_clock& clock = NewClock(cfg);
                Source g0 = AddGenerator(cfg, clock, 0, 5);
                Source g1 = AddGenerator(cfg, clock, 1, 6);
                sc_start(sc_time(10, SC_US));
                const unsigned v0[] = {0, 1, 2, 3, 8, 9, 10, 11, 0, 1, 2, 3, 8, 9, 10, 11, 0};
                const unsigned v1[] = {4, 5, 6, 7, 12, 13, 14, 15, 4, 5, 6, 7, 12, 13, 14, 15, 4};
                SCN_CHECK_EQ(g0.target->requests.size(), 17u);
                SCN_CHECK_EQ(g1.target->requests.size(), 17u);
                for (unsigned i = 0; i < 17 && i < g0.target->requests.size() &&
                                     i < g1.target->requests.size();
                     ++i) {
                  const unsigned bank = i / 8;
                  SCN_CHECK_EQ(Vault(g0.target->requests[i].address), v0[i]);
                  SCN_CHECK_EQ(Vault(g1.target->requests[i].address), v1[i]);
                  SCN_CHECK_EQ(Bank(g0.target->requests[i].address), bank);
                  SCN_CHECK_EQ(Bank(g1.target->requests[i].address), bank);
                }
              }),
              ::testing::ExitedWithCode(0),
              "Round-robin addressing to local and adjacent vaults\n");
}

TEST(GeneratorStreams, RandomStreamsStayInTheirQuads) {
  EXPECT_EXIT(RunScenario([] {
                Config local;
                local.NUM_REQUESTS = 40;
                local.REQUEST_STREAM = 1;
                Config adjacent;
                adjacent.NUM_GENERATORS = 2;
                adjacent.NUM_REQUESTS = 40;
                adjacent.REQUEST_STREAM = 3;
                sc_clock& clock = NewClock(local);
                Source s1 = AddGenerator(local, clock, 2, 11);
                Source s3 = AddGenerator(adjacent, clock, 1, 12);
                sc_start(sc_time(10, SC_US));
                unsigned quads1 = 0, quads3 = 0;
                for (const auto& r : s1.target->requests) quads1 |= 1u << (Vault(r.address) / 4);
                for (const auto& r : s3.target->requests) quads3 |= 1u << (Vault(r.address) / 4);
                SCN_CHECK_EQ(quads1, 1u << 2);
                SCN_CHECK_EQ(quads3, (1u << 1) | (1u << 3));
              }),
              ::testing::ExitedWithCode(0),
              "Random addressing to local vaults\n(.|\n)*"
              "Random addressing to local and adjacent vaults\n");
}

TEST(GeneratorStreams, Aligned32BClearsAddressBit4) {
  EXPECT_EXIT(RunScenario([] {
                Config aligned;
                aligned.NUM_REQUESTS = 64;
                Config unaligned;
                unaligned.NUM_REQUESTS = 64;
                unaligned.ALIGNED_32B = false;
                sc_clock& clock = NewClock(aligned);
                Source a = AddGenerator(aligned, clock, 0, 3);
                Source u = AddGenerator(unaligned, clock, 1, 3);
                sc_start(sc_time(10, SC_US));
                unsigned setA = 0, setU = 0;
                for (const auto& r : a.target->requests) setA += (r.address >> 4) & 1;
                for (const auto& r : u.target->requests) setU += (r.address >> 4) & 1;
                SCN_CHECK_EQ(a.target->requests.size(), 64u);
                SCN_CHECK_EQ(setA, 0u);
                SCN_CHECK(setU > 0);
              }),
              ::testing::ExitedWithCode(0), "Generator 1 finished issuing");
}

TEST(GeneratorMix, ReadShareAndSizeMixesSelectCommandAndLength) {
  EXPECT_EXIT(RunScenario([] {
                Config reads;
                reads.NUM_REQUESTS = 30;
                reads.PERCENTAGE_READ = 100;
                reads.PERCENTAGE_RD_64B = 0;
                reads.PERCENTAGE_RD_128B = 100;
                Config writes;
                writes.NUM_REQUESTS = 30;
                writes.PERCENTAGE_READ = 0;
                writes.PERCENTAGE_WR_64B = 0;
                writes.PERCENTAGE_WR_16B = 100;
                sc_clock& clock = NewClock(reads);
                Source r = AddGenerator(reads, clock, 0, 9);
                Source w = AddGenerator(writes, clock, 1, 9);
                sc_start(sc_time(10, SC_US));
                for (const auto& q : r.target->requests) {
                  SCN_CHECK_EQ(q.command, tlm::TLM_READ_COMMAND);
                  SCN_CHECK_EQ(q.length, 128u);
                }
                for (const auto& q : w.target->requests) {
                  SCN_CHECK_EQ(q.command, tlm::TLM_WRITE_COMMAND);
                  SCN_CHECK_EQ(q.length, 16u);
                }
                SCN_CHECK_EQ(r.gen->issuedReads, 30u);
                SCN_CHECK_EQ(w.gen->issuedWrites, 30u);
                SCN_CHECK_EQ(w.gen->writeResponses, 30u);
              }),
              ::testing::ExitedWithCode(0),
              "Generator 0 finished issuing \\[100% R/W\\](.|\n)*"
              "Generator 1 finished issuing \\[0% R/W\\]");
}

TEST(GeneratorAtomics, PercentageZeroIssuesNoAtomic) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.NUM_REQUESTS = 400;
                cfg.USE_ATOMICS = 1;
                cfg.ATOMICS_PERCENTAGE = 0;
                const unsigned seed = 42;
                Source s = AddGenerator(cfg, NewClock(cfg), 0, seed);
                s.target->responseDelay = sc_time(2, SC_NS);
                sc_start(sc_time(100, SC_US));
                const auto& r = s.target->requests;
                SCN_CHECK_EQ(r.size(), 400u);
                for (unsigned i = 0; i < r.size(); ++i) {
                  SCN_CHECK_EQ(r[i].atomic, ExpectedStream0(cfg, *s.gen, i + 1, seed).atomic);
                  SCN_CHECK_EQ(r[i].atomic, -1);
                }
              }),
              ::testing::ExitedWithCode(0), "Generator 0 finished issuing");
}

// Posted atomics are issued but not awaited, with or without posted writes;
// non-posted atomics are awaited even under posted writes.
TEST(GeneratorAtomics, OnlyNonPostedAtomicsAreAwaited) {
  for (const bool postedWrites : {false, true}) {
    EXPECT_EXIT(RunScenario([postedWrites] {
                  Config cfg;
                  cfg.NUM_REQUESTS = 24;
                  cfg.USE_ATOMICS = 1;
                  cfg.ATOMICS_PERCENTAGE = 100;
                  cfg.POSTED_WRITES = postedWrites;
                  Source s = AddGenerator(cfg, NewClock(cfg), 0, 77);
                  s.target->responseDelay = sc_time(3, SC_NS);
                  sc_start(sc_time(10, SC_US));
                  unsigned posted = 0;
                  for (const auto& q : s.target->requests) {
                    SCN_CHECK(q.atomic >= ATOMIC_BWR && q.atomic <= ATOMIC_P_ADD16);
                    posted += IsPostedAtomic(static_cast<QUORCommand>(q.atomic));
                  }
                  SCN_CHECK(posted > 0 && posted < 24);
                  SCN_CHECK_EQ(s.gen->issuedRequests, 25u);
                  SCN_CHECK_EQ(s.gen->issuedReads, 0u);
                  SCN_CHECK_EQ(s.gen->issuedWrites, 24u - posted);
                  SCN_CHECK_EQ(s.gen->writeResponses, 24u - posted);
                  SCN_CHECK_EQ(s.probe->rises.size(), 1u);
                }),
                ::testing::ExitedWithCode(0),
                "Generator 0 finished issuing \\[0% R/W\\](.|\n)*All responses receives in "
                "Generator 0")
        << "posted writes " << postedWrites;
  }
}

TEST(GeneratorFaults, PlainWriteResponseUnderPostedWritesEndsTheRunWithAMessage) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.NUM_REQUESTS = 50;
                cfg.PERCENTAGE_READ = 0;
                cfg.POSTED_WRITES = true;
                Source s = AddGenerator(cfg, NewClock(cfg), 0, 77);
                s.target->postedWrites = false;
                sc_start(sc_time(10, SC_US));
                SCN_CHECK(false);
              }),
              ::testing::ExitedWithCode(1),
              "=\\[11600 ps\\]= ERROR - Received a WRITE response to Generator who is not "
              "expecting them\n");
}

TEST(GeneratorFaults, UnknownPhaseOnTheBackwardPathEndsTheRun) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.NUM_REQUESTS = 1;
                Source s = AddGenerator(cfg, NewClock(cfg), 3, 1);
                s.target->responsePhase = tlm::END_RESP;
                sc_start(sc_time(1, SC_US));
                SCN_CHECK(false);
              }),
              ::testing::ExitedWithCode(1),
              "=\\[11600 ps\\]= ERROR - Unrecognized phase in nb_transport_bw in Generator 3\n");
}

TEST(GeneratorFaults, RequestHandedStraightBackIsReportedOncePerEdge) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.NUM_REQUESTS = 5;
                Source s = AddGenerator(cfg, NewClock(cfg), 0, 1);
                s.target->completeRequests = true;
                sc_start(sc_time(7, SC_NS));
                const auto& r = s.target->requests;
                SCN_CHECK_EQ(r.size(), 4u);
                for (const auto& q : r) SCN_CHECK_EQ(q.address, r[0].address);
                SCN_CHECK_EQ(s.gen->issuedRequests, 1u);
                SCN_CHECK(s.gen->memoryManager.free_list != nullptr);
              }),
              ::testing::ExitedWithCode(0),
              "=\\[1600 ps\\]= ERROR - Unknown TLM response in generator\n"
              "=\\[3200 ps\\]= ERROR - Unknown TLM response in generator\n"
              "=\\[4800 ps\\]= ERROR - Unknown TLM response in generator\n"
              "=\\[6400 ps\\]= ERROR - Unknown TLM response in generator\n");
}

TEST(GeneratorConstruction, Streams3And4NeedExactlyTwoGenerators) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.REQUEST_STREAM = 4;
                cfg.NUM_GENERATORS = 3;
                new quor2_generator("generator0", 0, cfg, 1);
                SCN_CHECK(false);
              }),
              ::testing::ExitedWithCode(1),
              "=== Creating generator 0 ===\n"
              "=== Round-robin addressing to local and adjacent vaults\n"
              "ERROR - Request streams 3 and 4 are for 2-Link simulations only\n"
              "        Please set NUM_GENERATORS to 2\n");
}

TEST(GeneratorConstruction, SizeMixesNotAddingUpAreReportedAndConstructionGoesOn) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.PERCENTAGE_RD_16B = 5;
                cfg.PERCENTAGE_WR_64B = 90;
                auto* gen = new quor2_generator("generator0", 0, cfg, 1);
                SCN_CHECK_EQ(gen->readProbabilities.size(), 8u);
                SCN_CHECK_EQ(gen->readProbabilities[0], 5u);
                SCN_CHECK_EQ(gen->writeProbabilities[3], 90u);
              }),
              ::testing::ExitedWithCode(0),
              "=== Random addressing to any vault\n"
              "== ERROR - Read request size percentages don't equal 100%\n"
              "== ERROR - Write request size percentages don't equal 100%\n");
}
