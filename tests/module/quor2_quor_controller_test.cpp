// The host controller between scripted sources and a loopback cube: request
// intake and refusal, the flit stream on the request links, tokens in both
// directions, response pacing, and the controller's messages and ways out.
#include "doubles/controller_doubles.h"
#include "quor2_flit.h"
#include "quor2_quor_controller.h"
#include "support/scenario.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using namespace Orvane::Internal::QUOR2;
using quortest::ControllerTestCube;
using quortest::ControllerTestSource;
using quortest::SeenFlit;
using quortest::SourceRequest;
using sc_core::sc_time;
using sc_core::SC_NS;
using sc_core::SC_PS;

namespace {

sc_time ps(uint64_t v) { return sc_time(static_cast<double>(v), SC_PS); }

SourceRequest Read(unsigned link, unsigned length = 16, sc_time at = sc_core::SC_ZERO_TIME,
                   uint64_t address = 0x40) {
  SourceRequest r;
  r.command = tlm::TLM_READ_COMMAND;
  r.link = link;
  r.length = length;
  r.at = at;
  r.address = address;
  return r;
}

SourceRequest Write(unsigned link, unsigned length = 16, sc_time at = sc_core::SC_ZERO_TIME,
                    uint64_t address = 0x40) {
  SourceRequest r = Read(link, length, at, address);
  r.command = tlm::TLM_WRITE_COMMAND;
  return r;
}

SourceRequest Atomic(unsigned link, QUORCommand c, sc_time at = sc_core::SC_ZERO_TIME) {
  SourceRequest r = Read(link, 64, at);
  r.atomic = c;
  return r;
}

SourceRequest WithNulls(SourceRequest r, unsigned nulls) {
  r.leadingNulls = nulls;
  return r;
}

// The controller, the loopback cube, the link signals, and one scripted source
// per socket.
struct Bench {
  StatsKeeper stats;
  quor2_quor_controller ctrl;
  ControllerTestCube cube;
  sc_core::sc_vector<sc_core::sc_signal<Flit_P>> req;
  sc_core::sc_vector<sc_core::sc_signal<Flit_P>> rsp;
  std::vector<std::unique_ptr<ControllerTestSource>> sources;

  Bench(const Config& cfg, std::vector<std::vector<SourceRequest>> scripts)
      : stats(cfg), ctrl("ctrl", cfg, stats), cube("cube", cfg), req("req", cfg.NUM_LINKS),
        rsp("rsp", cfg.NUM_LINKS) {
    for (unsigned l = 0; l < cfg.NUM_LINKS; ++l) {
      ctrl.requestLinks[l](req[l]);
      cube.requestLinks[l](req[l]);
      ctrl.responseLinks[l](rsp[l]);
      cube.responseLinks[l](rsp[l]);
    }
    scripts.resize(cfg.NUM_GENERATORS);
    for (unsigned i = 0; i < cfg.NUM_GENERATORS; ++i) {
      const std::string name = "source" + std::to_string(i);
      sources.emplace_back(new ControllerTestSource(name.c_str(), scripts[i]));
      sources[i]->socket.bind(*ctrl.requestSockets[i]);
    }
  }

  ControllerTestSource& src(unsigned i) { return *sources[i]; }
};

void CheckCleanLinks(const ControllerTestCube& cube) {
  for (const auto& p : cube.problems) std::cout << p << std::endl;
  SCN_CHECK(cube.problems.empty());
}

// Collects standard output while alive, then passes it on, so a scenario can
// check what was printed (and what was not).
class CaptureCout {
public:
  CaptureCout() : old(std::cout.rdbuf(text.rdbuf())) {}
  ~CaptureCout() {
    std::cout.rdbuf(old);
    std::cout << text.str() << std::flush;
  }
  std::string str() const { return text.str(); }

private:
  std::ostringstream text;
  std::streambuf* old;
};

std::vector<SeenFlit> RequestFlits(const ControllerTestCube& cube, unsigned link) {
  std::vector<SeenFlit> out;
  for (const auto& s : cube.seen)
    if (s.link == link && s.command != NULL_COMMAND && s.command != TOKEN_RETURN) out.push_back(s);
  return out;
}

// The k-th flit period (from 1) at 15 Gb/s: 533, 1066, 1600, 2133, ...
sc_time Period15(unsigned k) { return ps(k / 3 * 1600 + (k % 3) * 533); }

} // namespace

// ---------------------------------------------------------------------------
// The flit stream

TEST(ControllerFlitStream, EveryLinkGetsANewIdleFlitEachPeriodWithTwoFlitTimes) {
  EXPECT_EXIT(quortest::RunScenario([] {
                Config cfg;
                Bench b(cfg, {});
                b.cube.recordNulls = true;
                sc_core::sc_start(ps(3300));
                CheckCleanLinks(b.cube);
                for (unsigned l = 0; l < 4; ++l) {
                  SCN_CHECK_EQ(b.cube.times[l].size(), 6u);
                  for (unsigned k = 1; k <= 6 && k <= b.cube.times[l].size(); ++k)
                    SCN_CHECK_EQ(b.cube.times[l][k - 1], Period15(k));
                }
                SCN_CHECK_EQ(b.cube.times[0][2], ps(1600));
                SCN_CHECK_EQ(b.cube.times[0][5], ps(3200));
                SCN_CHECK_EQ(b.cube.Seen(2, NULL_COMMAND).size(), 6u);
                std::cout << "stream ok" << std::endl;
              }),
              ::testing::ExitedWithCode(0), "stream ok");
}

TEST(ControllerFlitStream, SlowerLinksUseOneFlitTime) {
  EXPECT_EXIT(quortest::RunScenario([] {
                Config cfg;
                cfg.LINK_SPEED = 12.5f;
                Bench b(cfg, {});
                sc_core::sc_start(ps(2000));
                CheckCleanLinks(b.cube);
                SCN_CHECK_EQ(b.ctrl.flitRate, ps(640));
                SCN_CHECK_EQ(b.ctrl.adjustedFlitRate, ps(640));
                SCN_CHECK_EQ(b.cube.times[1].size(), 3u);
                SCN_CHECK_EQ(b.cube.times[1].back(), ps(1920));
                std::cout << "rate ok" << std::endl;
              }),
              ::testing::ExitedWithCode(0), "rate ok");
  EXPECT_EXIT(quortest::RunScenario([] {
                Config cfg;
                cfg.LINK_SPEED = 20.0f;
                Bench b(cfg, {});
                SCN_CHECK_EQ(b.ctrl.flitRate, ps(400));
              }),
              ::testing::ExitedWithCode(0),
              "ERROR - Unknown link speed\n\t\t\t\t Options are 10, 12.5, or 15\n");
}

TEST(ControllerFlitStream, UnequalLinkWidthsAbort) {
  EXPECT_EXIT(quortest::RunScenario([] {
                Config cfg;
                cfg.NUM_LINKS = 2;
                cfg.LINK_3_WIDTH = 8;
                StatsKeeper stats(cfg);
                quor2_quor_controller ctrl("ctrl", cfg, stats);
              }),
              ::testing::KilledBySignal(SIGABRT),
              "== ERROR - When using example host controller, all links must be the same width");
}

// ---------------------------------------------------------------------------
// Intake: tags, links, refusal

TEST(ControllerIntake, TagsComeFromTheLinksPoolAndPostedWritesFromTheirOwnCounter) {
  EXPECT_EXIT(quortest::RunScenario([] {
                Config cfg;
                cfg.POSTED_WRITES = true;
                Bench b(cfg, {{Read(2), Write(0), Write(3, 64), Read(2), Read(5)}});
                sc_core::sc_start(ps(20000));
                CheckCleanLinks(b.cube);
                auto h2 = b.cube.Headers(2);
                SCN_CHECK_EQ(h2.size(), 2u);
                SCN_CHECK_EQ(h2.at(0).tag, 1024u);
                SCN_CHECK_EQ(h2.at(1).tag, 1025u);
                SCN_CHECK_EQ(b.cube.Headers(0).at(0).tag, 2048u);
                SCN_CHECK_EQ(b.cube.Headers(0).at(0).command, P_WRITE_REQUEST);
                SCN_CHECK_EQ(b.cube.Headers(3).at(0).tag, 2049u);
                // Streaming width 5 goes to link 5 mod 4 and reads 1 afterwards.
                SCN_CHECK_EQ(b.cube.Headers(1).at(0).tag, 512u);
                auto& s = b.src(0);
                SCN_CHECK_EQ(s.records[4].linkAfterAccept, 1u);
                SCN_CHECK_EQ(s.records[0].linkAfterAccept, 2u);
                for (const auto& rec : s.records) {
                  SCN_CHECK_EQ(rec.result, tlm::TLM_UPDATED);
                  SCN_CHECK(rec.phase == tlm::END_REQ);
                  SCN_CHECK_EQ(rec.delay, ps(1600));
                  SCN_CHECK_EQ(rec.sentAt, sc_core::SC_ZERO_TIME);
                }
                SCN_CHECK(s.records[0].responded && s.records[3].responded && s.records[4].responded);
                SCN_CHECK(!s.records[1].responded && !s.records[2].responded);
                SCN_CHECK_EQ(s.released, 5u);  // two posted by the controller, three on response
                SCN_CHECK_EQ(b.ctrl.postedWriteTags, 2050u);
                std::cout << "tags ok" << std::endl;
              }),
              ::testing::ExitedWithCode(0), "tags ok");
}

TEST(ControllerIntake, FullBufferRefusesAndTheRetryEndsTheRequestOnTheBackwardPath) {
  EXPECT_EXIT(quortest::RunScenario([] {
                Config cfg;
                cfg.REQUEST_BUFFER_SIZE = 10;
                // 9 flits, then a read fills the tenth place, then 2 flits do not fit.
                Bench b(cfg, {{Write(0, 128), Read(0), Write(0, 16)}});
                sc_core::sc_start(ps(20000));
                CheckCleanLinks(b.cube);
                auto& r = b.src(0).records;
                SCN_CHECK_EQ(r[0].result, tlm::TLM_UPDATED);
                SCN_CHECK_EQ(r[1].result, tlm::TLM_UPDATED);
                SCN_CHECK_EQ(r[2].result, tlm::TLM_ACCEPTED);
                SCN_CHECK(r[2].phase == tlm::BEGIN_REQ);
                SCN_CHECK_EQ(r[2].delay, sc_core::SC_ZERO_TIME);
                // After one flit 9 remain (9 + 2 > 10); after two, 8 + 2 fits.
                SCN_CHECK(r[2].endReqOnBackward);
                SCN_CHECK_EQ(r[2].endReqAt, ps(1066));
                SCN_CHECK(!r[0].endReqOnBackward);
                auto h = b.cube.Headers(0);
                SCN_CHECK_EQ(h.size(), 3u);
                SCN_CHECK_EQ(h.at(0).tag, 0u);
                SCN_CHECK_EQ(h.at(1).tag, 1u);
                SCN_CHECK_EQ(h.at(2).tag, 2u);
                SCN_CHECK(r[0].responded && r[1].responded && r[2].responded);
                std::cout << "retry ok" << std::endl;
              }),
              ::testing::ExitedWithCode(0), "retry ok");
}

TEST(ControllerIntake, EmptyTagPoolRefusesPostedWritesButNotPostedAtomics) {
  EXPECT_EXIT(quortest::RunScenario([] {
                Config cfg;
                cfg.TAGS_PER_LINK = 1;
                cfg.POSTED_WRITES = true;
                Bench b(cfg, {{Read(0), Write(0)}, {Atomic(0, ATOMIC_P_ADD16, ps(100))}});
                sc_core::sc_start(ps(20000));
                CheckCleanLinks(b.cube);
                auto& w = b.src(0).records[1];
                SCN_CHECK_EQ(w.result, tlm::TLM_ACCEPTED);
                // The read's response tail arrives at 3533 ps; the next period retries.
                SCN_CHECK_EQ(b.src(0).records[0].responseAt, ps(3533));
                SCN_CHECK_EQ(w.endReqAt, ps(3733));
                SCN_CHECK_EQ(b.src(1).records[0].result, tlm::TLM_UPDATED);
                auto atomics = b.cube.Seen(0, ATOMIC_P_ADD16);
                SCN_CHECK_EQ(atomics.size(), 2u);
                SCN_CHECK_EQ(atomics.at(0).tag, 4u);
                SCN_CHECK_EQ(atomics.at(0).length, 16u);
                SCN_CHECK_EQ(b.cube.Seen(0, P_WRITE_REQUEST).at(0).tag, 5u);
                SCN_CHECK_EQ(b.src(1).released, 1u);
                SCN_CHECK_EQ(b.src(0).released, 2u);
                std::cout << "pool ok" << std::endl;
              }),
              ::testing::ExitedWithCode(0), "pool ok");
}

TEST(ControllerIntake, HostMappingOnePicksTheLinkOfTheAddressedQuad) {
  EXPECT_EXIT(quortest::RunScenario([] {
                Config cfg;
                cfg.HOST_MAPPING = 1;
                // 128-byte blocks: vault = (address >> 7) & 15, quad = vault >> 2.
                Bench b(cfg, {{Read(0, 16, sc_core::SC_ZERO_TIME, 13 << 7),
                               Read(0, 16, sc_core::SC_ZERO_TIME, 5 << 7)}});
                sc_core::sc_start(ps(2000));
                SCN_CHECK_EQ(b.cube.Headers(3).size(), 1u);
                SCN_CHECK_EQ(b.cube.Headers(1).size(), 1u);
                SCN_CHECK_EQ(b.ctrl.DetermineQuad(13 << 7), 3u);
                std::cout << "mapping ok" << std::endl;
              }),
              ::testing::ExitedWithCode(0), "mapping ok");
}

TEST(ControllerIntake, AQuadWithoutALinkFoldsOntoTheLinks) {
  EXPECT_EXIT(quortest::RunScenario([] {
                Config cfg;
                cfg.HOST_MAPPING = 1;
                cfg.NUM_LINKS = 2;
                Bench b(cfg, {{Read(0, 16, sc_core::SC_ZERO_TIME, 13 << 7)}});
                sc_core::sc_start(ps(2000));
                CheckCleanLinks(b.cube);
                SCN_CHECK_EQ(b.cube.Headers(1).size(), 1u);
                SCN_CHECK_EQ(b.cube.Headers(1).at(0).tag, 512u);
                std::cout << "fold ok" << std::endl;
              }),
              ::testing::ExitedWithCode(0), "fold ok");
}

TEST(ControllerIntake, HostMappingZeroDrawsTheLinkFromTheCRandomGenerator) {
  EXPECT_EXIT(quortest::RunScenario([] {
                std::srand(11);
                std::vector<unsigned> expected;
                for (int i = 0; i < 3; ++i) expected.push_back(static_cast<unsigned>(std::rand()) % 4);
                std::srand(11);
                Config cfg;
                cfg.HOST_MAPPING = 0;
                Bench b(cfg, {{Read(0), Read(0), Read(0)}});
                sc_core::sc_start(ps(2000));
                std::vector<unsigned> got;
                for (const auto& rec : b.src(0).records) got.push_back(rec.linkAfterAccept);
                SCN_CHECK(got == expected);
                std::cout << "random ok" << std::endl;
              }),
              ::testing::ExitedWithCode(0), "random ok");
}

TEST(ControllerIntake, UnknownHostMappingEndsTheRunWithStatusOne) {
  EXPECT_EXIT(quortest::RunScenario([] {
                Config cfg;
                cfg.HOST_MAPPING = 3;
                Bench b(cfg, {{Read(0)}});
                sc_core::sc_start(ps(2000));
              }),
              ::testing::ExitedWithCode(1), "unknonwn host mapping\n");
}

TEST(ControllerIntake, UnknownMappingSchemeUnderHostMappingOneEndsTheRun) {
  EXPECT_EXIT(quortest::RunScenario([] {
                Config cfg;
                cfg.HOST_MAPPING = 1;
                cfg.MAPPING_SCHEME = 1;
                Bench b(cfg, {{Read(0)}});
                sc_core::sc_start(ps(2000));
              }),
              ::testing::ExitedWithCode(1), "== ERROR - Unknown mapping scheme in Host Controller\n");
}

TEST(ControllerIntake, NonStandardSizeWarnsAndBuildsLengthOverSixteenPlusOneFlits) {
  EXPECT_EXIT(quortest::RunScenario([] {
                Config cfg;
                Bench b(cfg, {{Write(0, 24), Write(1, 8), Write(2, 200)}});
                sc_core::sc_start(ps(20000));
                CheckCleanLinks(b.cube);  // also checks each packet's flit count
                SCN_CHECK_EQ(RequestFlits(b.cube, 0).size(), 2u);
                SCN_CHECK_EQ(RequestFlits(b.cube, 1).size(), 1u);
                SCN_CHECK_EQ(RequestFlits(b.cube, 2).size(), 13u);
                SCN_CHECK_EQ(b.stats.writeRequestSizeCounter[0], 1u);
                uint64_t counted = 0;
                for (auto c : b.stats.writeRequestSizeCounter) counted += c;
                SCN_CHECK_EQ(counted, 1u);
                SCN_CHECK(b.src(0).records[0].responded && b.src(0).records[2].responded);
                std::cout << "sizes ok" << std::endl;
              }),
              ::testing::ExitedWithCode(0),
              "=\\[0 s\\]= ERROR - Unsupported data size : 24\n\t{16} Please adhere to the "
              "standardized request sizes\n(.|\n)*Unsupported data size : 200(.|\n)*sizes ok");
}

// ---------------------------------------------------------------------------
// Atomics

TEST(ControllerAtomics, NonPostedAtomicLeavesAsASixteenByteWriteOnTheChosenLink) {
  EXPECT_EXIT(quortest::RunScenario([] {
                Config cfg;
                Bench b(cfg, {{Atomic(3, ATOMIC_ADD16), Atomic(3, ATOMIC_P_BWR)}});
                sc_core::sc_start(ps(20000));
                CheckCleanLinks(b.cube);
                const auto& rec = b.src(0).records[0];
                SCN_CHECK_EQ(rec.commandAfterAccept, tlm::TLM_WRITE_COMMAND);
                SCN_CHECK_EQ(rec.lengthAfterAccept, 16u);
                SCN_CHECK_EQ(rec.linkAfterAccept, 3u);
                auto add = b.cube.Seen(3, ATOMIC_ADD16);
                SCN_CHECK_EQ(add.size(), 2u);
                SCN_CHECK_EQ(add.at(0).tag, 1536u);
                SCN_CHECK_EQ(add.at(0).length, 16u);
                SCN_CHECK_EQ(b.cube.Seen(3, ATOMIC_P_BWR).at(0).tag, 2048u);
                SCN_CHECK(rec.responded);
                SCN_CHECK(!b.src(0).records[1].responded);
                SCN_CHECK_EQ(b.stats.QUORControllerIssuedAtomics, 2u);
                SCN_CHECK_EQ(b.stats.QUORControllerIssuedWrites, 0u);
                for (unsigned k = 0; k < 8; ++k) {
                  SCN_CHECK_EQ(b.stats.readRequestSizeCounter[k], 0u);
                  SCN_CHECK_EQ(b.stats.writeRequestSizeCounter[k], 0u);
                }
                // One token owed for the one-flit write response.
                SCN_CHECK_EQ(b.cube.hostReturnedTokens[3], 1u);
                SCN_CHECK_EQ(b.src(0).released, 2u);
                std::cout << "atomic ok" << std::endl;
              }),
              ::testing::ExitedWithCode(0), "atomic ok");
}

TEST(ControllerAtomics, ExtensionWithoutAnAtomicCommandAborts) {
  for (QUORCommand c : {READ_REQUEST, NULL_COMMAND, TOKEN_RETURN}) {
    EXPECT_EXIT(quortest::RunScenario([c] {
                  Config cfg;
                  Bench b(cfg, {{Atomic(0, c)}});
                  sc_core::sc_start(ps(2000));
                }),
                ::testing::KilledBySignal(SIGABRT),
                "== ERROR - Incorrectly set AtomicsExtension on TLM Generic Payload object\n"
                "           Please set command to an atomic operation\n");
  }
  for (int c : {int{WRITE_REQUEST}, 13}) {
    EXPECT_EXIT(quortest::RunScenario([c] {
                  Config cfg;
                  Bench b(cfg, {{Atomic(0, static_cast<QUORCommand>(c))}});
                  sc_core::sc_start(ps(2000));
                }),
                ::testing::KilledBySignal(SIGABRT), "== ERROR - Unknown atomic command\n");
  }
}

// ---------------------------------------------------------------------------
// Issue rules: tokens, spacing, leading nulls

TEST(ControllerIssue, WriteOf128BytesWaitsForNineTokensBeforeItsHeader) {
  EXPECT_EXIT(quortest::RunScenario([] {
                Config cfg;
                cfg.TOKENS_PER_LINK = 9;
                Bench b(cfg, {{Read(0), Write(0, 128)}});
                b.cube.tokenDelay = ps(5000);
                sc_core::sc_start(ps(30000));
                CheckCleanLinks(b.cube);
                auto flits = RequestFlits(b.cube, 0);
                SCN_CHECK_EQ(flits.size(), 10u);
                SCN_CHECK_EQ(flits.at(0).at, ps(533));
                // 8 tokens until the read's token comes back at 5533 ps.
                SCN_CHECK_EQ(flits.at(1).at, Period15(11));
                SCN_CHECK_EQ(flits.at(1).at, ps(5866));
                for (unsigned k = 1; k < 10; ++k) SCN_CHECK_EQ(flits.at(k).at, Period15(10 + k));
                SCN_CHECK_EQ(b.stats.QUORControllerIssuedWrites, 1u);
                SCN_CHECK_EQ(b.stats.QUORControllerIssuedReads, 1u);
                SCN_CHECK_EQ(b.stats.QUORControllerMovedData, 128u + 16u);
                SCN_CHECK_EQ(b.ctrl.perLinkTokens[0], 9u);
                std::cout << "tokens ok" << std::endl;
              }),
              ::testing::ExitedWithCode(0), "tokens ok");
}

TEST(ControllerIssue, SpacingAndLeadingNullsRunDownTogether) {
  EXPECT_EXIT(quortest::RunScenario([] {
                Config cfg;
                cfg.REQUEST_SPACING = 3;
                Bench b(cfg, {{Read(0), WithNulls(Read(0), 5), WithNulls(Read(0), 1),
                               Read(0, 16, ps(10000))}});
                sc_core::sc_start(ps(20000));
                CheckCleanLinks(b.cube);
                auto h = b.cube.Headers(0);
                SCN_CHECK_EQ(h.size(), 4u);
                SCN_CHECK_EQ(h.at(0).at, Period15(1));
                // Spacing 3 and 5 nulls in parallel: the larger count wins.
                SCN_CHECK_EQ(h.at(1).at, Period15(7));
                SCN_CHECK_EQ(h.at(1).leadingNulls, 0u);
                // One null inside the spacing costs nothing extra.
                SCN_CHECK_EQ(h.at(2).at, Period15(11));
                // Arriving at an empty buffer, the packet still waits the full spacing.
                SCN_CHECK_EQ(h.at(3).at, Period15(22));
                SCN_CHECK_EQ(h.at(3).at, ps(11733));
                std::cout << "spacing ok" << std::endl;
              }),
              ::testing::ExitedWithCode(0), "spacing ok");
}

TEST(ControllerIssue, LeadingNullsWithoutSpacingDelayTheHeader) {
  EXPECT_EXIT(quortest::RunScenario([] {
                Config cfg;
                Bench b(cfg, {{WithNulls(Write(1, 32), 2)}});
                sc_core::sc_start(ps(5000));
                auto flits = RequestFlits(b.cube, 1);
                SCN_CHECK_EQ(flits.size(), 3u);
                SCN_CHECK_EQ(flits.at(0).at, Period15(3));
                SCN_CHECK_EQ(flits.at(2).at, Period15(5));
                std::cout << "nulls ok" << std::endl;
              }),
              ::testing::ExitedWithCode(0), "nulls ok");
}

// ---------------------------------------------------------------------------
// Tokens owed to the cube

TEST(ControllerTokens, OwedTokensRideOnTailsAndInTokenReturnFlitsAtMostMaxEach) {
  EXPECT_EXIT(quortest::RunScenario([] {
                Config cfg;
                cfg.MAX_TOKEN_RETURN = 1;
                Bench b(cfg, {{Read(0), Write(0, 128, ps(2000))}});
                b.cube.tokenMode = ControllerTestCube::kNoTokens;
                sc_core::sc_start(ps(20000));
                CheckCleanLinks(b.cube);
                // The read's 2-flit response is handed back at 3533 ps while the write
                // goes out from 2133 ps: no idle period until its tail at 6400 ps.
                SCN_CHECK_EQ(b.src(0).records[0].responseAt, ps(3533));
                auto writes = b.cube.Seen(0, WRITE_REQUEST);
                SCN_CHECK_EQ(writes.size(), 9u);
                SCN_CHECK_EQ(writes.at(8).at, ps(6400));
                SCN_CHECK_EQ(writes.at(8).returnTokens, 1u);
                SCN_CHECK_EQ(b.cube.Seen(0, READ_REQUEST).at(0).returnTokens, 0u);
                auto returns = b.cube.Seen(0, TOKEN_RETURN);
                SCN_CHECK_EQ(returns.size(), 2u);
                SCN_CHECK_EQ(returns.at(0).at, ps(6933));
                SCN_CHECK_EQ(returns.at(0).tag, 0u);
                SCN_CHECK_EQ(returns.at(0).returnTokens, 1u);
                // The write response (tail at 8400 ps) earns one more.
                SCN_CHECK_EQ(returns.at(1).at, ps(8533));
                SCN_CHECK_EQ(returns.at(1).tag, 1u);
                SCN_CHECK_EQ(b.cube.hostReturnedTokens[0], 3u);
                SCN_CHECK_EQ(b.ctrl.perLinkReturnTokens[0], 0u);
                std::cout << "owed ok" << std::endl;
              }),
              ::testing::ExitedWithCode(0), "owed ok");
}

TEST(ControllerTokens, ResponsesEarnTheirFlitCountAndLatencyIsBooked) {
  EXPECT_EXIT(quortest::RunScenario([] {
                Config cfg;
                Bench b(cfg, {{Read(0, 64), Write(0, 16), Read(1, 32)}});
                b.cube.destinationOf[1] = 9;  // quad 2: remote for link 1
                sc_core::sc_start(ps(30000));
                CheckCleanLinks(b.cube);
                // 64-byte read: 5 response flits, 5 tokens; a write response: 1.
                SCN_CHECK_EQ(b.cube.hostReturnedTokens[0], 6u);
                SCN_CHECK_EQ(b.cube.hostReturnedTokens[1], 3u);
                SCN_CHECK_EQ(b.ctrl.perLinkTokens[0], 100u);
                SCN_CHECK_EQ(b.stats.QUORContPerLinkReadRespLocal[0], 1u);
                SCN_CHECK_EQ(b.stats.QUORContPerLinkReadRespRemote[1], 1u);
                SCN_CHECK_EQ(b.stats.QUORContPerLinkWriteResponses[0], 1u);
                SCN_CHECK_EQ(b.stats.perLinkReadResponses[0], 1u);
                SCN_CHECK_EQ(b.stats.perLinkWriteResponses[0], 1u);
                // Read tail out at 533 ps, response flits 2533..6533 ps.
                SCN_CHECK_EQ(b.stats.perLinkAvgLatency[0], 6000u);
                SCN_CHECK_EQ(b.stats.perLinkAvgLocalLatency[0], 6000u);
                SCN_CHECK_EQ(b.stats.perLinkMaxLatency[0], 6000u);
                SCN_CHECK_EQ(b.stats.perLinkMinLatency[0], 6000u);
                SCN_CHECK_EQ(b.stats.perQuadResponse[0][0], 1u);
                SCN_CHECK_EQ(b.stats.perQuadResponse[1][2], 1u);
                SCN_CHECK_EQ(b.stats.perLinkAvgRemoteLatency[1], 4000u);
                SCN_CHECK_EQ(b.stats.perLinkAvgRspLinkLat_Local[0], ps(6533));
                SCN_CHECK_EQ(b.stats.QUORControllerMovedData, 16u + 64u + 32u);
                std::cout << "earned ok" << std::endl;
              }),
              ::testing::ExitedWithCode(0), "earned ok");
}

TEST(ControllerTokens, OpenLoopSendsNoReturnedTokens) {
  EXPECT_EXIT(quortest::RunScenario([] {
                Config cfg;
                cfg.RESPONSE_OPEN_LOOP = true;
                Bench b(cfg, {{Read(0), Write(0, 128, ps(2000)), Read(1, 64)}});
                b.cube.tokenMode = ControllerTestCube::kNoTokens;
                sc_core::sc_start(ps(20000));
                CheckCleanLinks(b.cube);
                SCN_CHECK(b.cube.Seen(0, TOKEN_RETURN).empty());
                SCN_CHECK(b.cube.Seen(1, TOKEN_RETURN).empty());
                for (const auto& s : b.cube.seen) SCN_CHECK_EQ(s.returnTokens, 0u);
                SCN_CHECK_EQ(b.ctrl.perLinkReturnTokens[0], 0u);
                SCN_CHECK_EQ(b.ctrl.perLinkReturnTokens[1], 0u);
                for (const auto& rec : b.src(0).records) SCN_CHECK(rec.responded);
                std::cout << "open ok" << std::endl;
              }),
              ::testing::ExitedWithCode(0), "open ok");
}

TEST(ControllerTokens, TokenReturnAboveTheLimitIsReportedAndNotCapped) {
  EXPECT_EXIT(quortest::RunScenario([] {
                Config cfg;
                Bench b(cfg, {{Read(2)}});
                b.cube.tokenMode = ControllerTestCube::kNoTokens;
                auto* over = new Flit(0, ~0ull, TOKEN_RETURN, 0, true, true, 1);
                over->returnTokens = 1;
                b.cube.Inject(1, ps(100), over);
                auto* exact = new Flit(1, ~0ull, TOKEN_RETURN, 0, true, true, 1);
                exact->returnTokens = 1;
                b.cube.Inject(2, ps(700), exact);  // 99 + 1: at the limit, no message
                {
                  CaptureCout out;
                  sc_core::sc_start(ps(1000));
                  SCN_CHECK(out.str().find("link2") == std::string::npos);
                }
                SCN_CHECK_EQ(b.ctrl.perLinkTokens[1], 101u);
                SCN_CHECK_EQ(b.ctrl.perLinkTokens[2], 100u);
                std::cout << "limit ok" << std::endl;
              }),
              ::testing::ExitedWithCode(0),
              "=\\[100 ps\\]= ERROR - To many tokens on QUOR Controller link1 from token return "
              "packet\n(.|\n)*limit ok");
}

// ---------------------------------------------------------------------------
// Response path

TEST(ControllerResponses, ResponseOnTheWrongLinkIsReportedAndBookedOnTheArrivalLink) {
  EXPECT_EXIT(quortest::RunScenario([] {
                Config cfg;
                Bench b(cfg, {{Write(1, 16)}});
                b.cube.sourceLinkOf[1] = 3;
                sc_core::sc_start(ps(20000));
                SCN_CHECK(b.src(0).records[0].responded);
                SCN_CHECK_EQ(b.stats.perLinkWriteResponses[1], 1u);
                SCN_CHECK_EQ(b.stats.QUORContPerLinkWriteResponses[1], 1u);
                SCN_CHECK_EQ(b.ctrl.perLinkFreeTags[1].size(), 512u);
                SCN_CHECK_EQ(b.ctrl.perLinkFreeTags[1].back(), 512u);
                std::cout << "wrong link ok" << std::endl;
              }),
              ::testing::ExitedWithCode(0),
              "=\\[3066 ps\\]= ERROR - Received flit on wrong link \\(1\\) - \\[HEAD cmd:WR_RSP "
              "tag:512 addr:0x00000040 #:1 tokens:0 TAIL\\]\n(.|\n)*wrong link ok");
}

TEST(ControllerResponses, TwoTailsInOneDeltaCycleAreQueuedInLinkOrder) {
  EXPECT_EXIT(quortest::RunScenario([] {
                Config cfg;
                Bench b(cfg, {{Read(2, 16, sc_core::SC_ZERO_TIME, 0x200),
                               Read(0, 16, sc_core::SC_ZERO_TIME, 0x100)}});
                sc_core::sc_start(ps(20000));
                CheckCleanLinks(b.cube);
                const auto& s = b.src(0);
                SCN_CHECK_EQ(s.responseOrder.size(), 2u);
                SCN_CHECK_EQ(s.responseOrder.at(0), 1u);
                SCN_CHECK_EQ(s.responseOrder.at(1), 0u);
                SCN_CHECK_EQ(s.records[0].responseAt, ps(3533));
                SCN_CHECK_EQ(s.records[1].responseAt, ps(3533));
                std::cout << "order ok" << std::endl;
              }),
              ::testing::ExitedWithCode(0), "order ok");
}

TEST(ControllerResponses, SourcesArePacedByTheirReturnedDelayAndByEndResp) {
  EXPECT_EXIT(quortest::RunScenario([] {
                Config cfg;
                Bench b(cfg, {{Read(0), Read(0)}, {Read(1), Read(1)}});
                b.src(0).answerDelay = sc_time(10, SC_NS);
                b.src(1).answer = tlm::TLM_ACCEPTED;
                b.src(1).endRespAfter = sc_time(5, SC_NS);
                sc_core::sc_start(ps(40000));
                CheckCleanLinks(b.cube);
                // Tails at 3533 and 5533 ps on each link.
                const auto& a = b.src(0).records;
                SCN_CHECK_EQ(a[0].responseAt, ps(3533));
                // Queued during the 10 ns and woken although later notifications
                // (the second tail, source 1's END_RESP) replaced the first.
                SCN_CHECK_EQ(a[1].responseAt, ps(13533));
                const auto& c = b.src(1);
                SCN_CHECK_EQ(c.records[0].responseAt, ps(3533));
                SCN_CHECK_EQ(c.endRespSentAt.size(), 2u);
                SCN_CHECK_EQ(c.endRespSentAt.at(0), ps(8533));
                SCN_CHECK_EQ(c.records[1].responseAt, ps(10133));
                SCN_CHECK(!b.ctrl.returningResponse[0]);
                SCN_CHECK_EQ(b.cube.hostReturnedTokens[0], 4u);
                SCN_CHECK_EQ(b.cube.hostReturnedTokens[1], 4u);
                std::cout << "pacing ok" << std::endl;
              }),
              ::testing::ExitedWithCode(0), "pacing ok");
}

TEST(ControllerResponses, OpenLoopHandsEveryQueuedResponseBackAtOnce) {
  EXPECT_EXIT(quortest::RunScenario([] {
                Config cfg;
                cfg.RESPONSE_OPEN_LOOP = true;
                Bench b(cfg, {{Read(0), Read(1)}});
                b.src(0).answerDelay = sc_time(10, SC_NS);
                sc_core::sc_start(ps(20000));
                SCN_CHECK_EQ(b.src(0).records[0].responseAt, ps(3533));
                SCN_CHECK_EQ(b.src(0).records[1].responseAt, ps(3533));
                std::cout << "open pacing ok" << std::endl;
              }),
              ::testing::ExitedWithCode(0), "open pacing ok");
}

TEST(ControllerResponses, UnknownCommandInTheResponseQueueEarnsNothing) {
  EXPECT_EXIT(quortest::RunScenario([] {
                Config cfg;
                SourceRequest r = Write(0, 16);
                r.command = tlm::TLM_IGNORE_COMMAND;
                Bench b(cfg, {{r}});
                sc_core::sc_start(ps(20000));
                SCN_CHECK(b.src(0).records[0].responded);
                SCN_CHECK_EQ(b.cube.hostReturnedTokens[0], 0u);
                SCN_CHECK_EQ(b.ctrl.perLinkReturnTokens[0], 0u);
                std::cout << "unknown ok" << std::endl;
              }),
              ::testing::ExitedWithCode(0),
              "=\\[3066 ps\\]= ERROR - Unknown TLM command type in response queue\n(.|\n)*unknown ok");
}

// ---------------------------------------------------------------------------
// State dump

TEST(ControllerDump, ShowsMissingTagsTokensAndQueuedFlits) {
  EXPECT_EXIT(quortest::RunScenario([] {
                Config cfg;
                cfg.TOKENS_PER_LINK = 9;
                Bench b(cfg, {{Read(0), Write(0, 128, sc_core::SC_ZERO_TIME, 0x80)}});
                b.cube.responseLatency = sc_time(1, sc_core::SC_MS);
                b.cube.tokenMode = ControllerTestCube::kNoTokens;
                sc_core::sc_start(ps(5000));
                CaptureCout out;
                b.ctrl.DumpState();
                const std::string expected =
                    "== QUOR Controller\n"
                    "\t\tFree tags available : \n"
                    "\t\t0]    510 1]    512 2]    512 3]    512 \n"
                    "!!!!!!!!!!!!!!!!!!! Link0 Tag 0 not found\n"
                    "!!!!!!!!!!!!!!!!!!! Link0 Tag 1 not found\n"
                    "\t\tTokens available : \n"
                    "\t\t0]      8 1]      9 2]      9 3]      9 \n"
                    "\t\tReturn tokens : \n"
                    "\t\t0]      0 1]      0 2]      0 3]      0 \n"
                    "\t\tRequest Buffers : \n"
                    "0] [HEAD cmd:WR128 tag:1 addr:0x00000080 #:1 tokens:0\n"
                    "0]       cmd:WR128 tag:1 addr:0x00000080 #:2 tokens:0\n";
                SCN_CHECK_EQ(out.str().substr(0, expected.size()), expected);
                SCN_CHECK(out.str().find("#:9 tokens:0 TAIL]\n\n") != std::string::npos);
              }),
              ::testing::ExitedWithCode(0), "Request Buffers");
}

// Four sources, small tag pools and buffers, thousands of mixed requests: every
// response delivered, every tag back, every token accounted for.
TEST(ControllerSoak, MixedTrafficFromFourSourcesCompletesAndBalances) {
  EXPECT_EXIT(quortest::RunScenario([] {
                Config cfg;
                cfg.TAGS_PER_LINK = 8;
                cfg.REQUEST_BUFFER_SIZE = 20;
                cfg.REQUEST_SPACING = 1;
                std::mt19937 rng(5);
                std::vector<std::vector<SourceRequest>> scripts(4);
                for (unsigned s = 0; s < 4; ++s) {
                  uint64_t t = 0;
                  for (unsigned n = 0; n < 750; ++n) {
                    t += rng() % 2000;
                    const unsigned link = rng() % 4;
                    const unsigned length = 16 * (1 + rng() % 8);
                    const unsigned kind = rng() % 10;
                    SourceRequest r = kind < 5 ? Read(link, length, ps(t), rng() % 0x100000)
                                               : Write(link, length, ps(t), rng() % 0x100000);
                    if (kind == 9) r.atomic = ATOMIC_DADD8;
                    r.leadingNulls = rng() % 3;
                    scripts[s].push_back(r);
                  }
                }
                Bench b(cfg, scripts);
                b.src(1).answerDelay = ps(1500);
                b.src(2).answer = tlm::TLM_ACCEPTED;
                b.src(2).endRespAfter = ps(700);
                sc_core::sc_start(sc_time(5, SC_NS) * 1000);
                CheckCleanLinks(b.cube);
                unsigned refused = 0;
                for (unsigned s = 0; s < 4; ++s) {
                  for (const auto& rec : b.src(s).records) {
                    SCN_CHECK(rec.responded);
                    if (rec.result == tlm::TLM_ACCEPTED) {
                      SCN_CHECK(rec.endReqOnBackward);
                      ++refused;
                    }
                  }
                  SCN_CHECK_EQ(b.src(s).released, 750u);
                }
                SCN_CHECK(refused > 100);  // small pools and buffers: many retries
                for (unsigned l = 0; l < 4; ++l) {
                  SCN_CHECK_EQ(b.ctrl.perLinkTokens[l], 100u);
                  SCN_CHECK_EQ(b.ctrl.perLinkReturnTokens[l], 0u);
                  SCN_CHECK_EQ(b.ctrl.perLinkFreeTags[l].size(), 8u);
                  SCN_CHECK_EQ(b.cube.hostReturnedTokens[l], b.cube.responseFlitsSent[l]);
                  SCN_CHECK(b.ctrl.requestBuffers[l].empty());
                }
                CaptureCout out;
                b.ctrl.DumpState();
                SCN_CHECK(out.str().find("not found") == std::string::npos);
                SCN_CHECK(out.str().find("\t\t0]      8 1]      8 2]      8 3]      8 \n") !=
                          std::string::npos);
              }),
              ::testing::ExitedWithCode(0), "Free tags available");
}

// ---------------------------------------------------------------------------
// Refused transport kinds

TEST(ControllerTransport, BlockingTransportOutsideAThreadIsRefusedWithAnErrorStatus) {
  EXPECT_EXIT(quortest::RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                quor2_quor_controller ctrl("ctrl", cfg, stats);
                tlm::tlm_generic_payload p;
                sc_time d;
                ctrl.callWrappers[0]->b_transport(p, d);
                SCN_CHECK_EQ(p.get_response_status(), tlm::TLM_GENERIC_ERROR_RESPONSE);
              }),
              ::testing::ExitedWithCode(0), "b_transport needs a thread");
  EXPECT_EXIT(quortest::RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                quor2_quor_controller ctrl("ctrl", cfg, stats);
                tlm::tlm_generic_payload p;
                tlm::tlm_phase phase = tlm::BEGIN_REQ;
                sc_time d;
                ctrl.nb_transport_fw(p, phase, d);
              }),
              ::testing::ExitedWithCode(1), "");
}
