// The cube and its quads: names and ids, the interquad mesh, the link-rate
// query, the DRAM command trace file, and a request travelling through the
// whole device between two quads and back. One elaboration per death-test child.
#include "support/scenario.h"
#include "support/temp_dir.h"

#include "quor2_cube.h"
#include "quor2_flit.h"
#include "quor2_link.h"
#include "quor2_link_switch.h"
#include "quor2_quad.h"
#include "quor2_slice.h"
#include "quor2_utils.h"
#include "quor2_vault_switch.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <filesystem>
#include <unistd.h>
#include <vector>

using namespace Orvane::Internal::QUOR2;
using quortest::RunScenario;
using sc_core::sc_time;
using sc_core::SC_PS;

namespace {

// Host-side ends of the cube's links: signals bound to its ports, a writer of
// chosen request flits, and a reader that keeps the response flits it sees.
SC_MODULE(HostEnds) {
  sc_core::sc_vector<sc_core::sc_signal<Flit_P>> request{"request"};
  sc_core::sc_vector<sc_core::sc_signal<Flit_P>> response{"response"};
  struct Seen {
    unsigned link;
    sc_time time;
    Flit flit;
  };
  std::vector<Seen> seen;
  unsigned tokensReturned = 0;
  std::vector<std::pair<sc_time, std::pair<unsigned, Flit*>>> toSend;

  SC_HAS_PROCESS(HostEnds);
  HostEnds(sc_core::sc_module_name name, quor2_cube& cube, unsigned links)
      : sc_core::sc_module(name) {
    request.init(links);
    response.init(links);
    for (unsigned l = 0; l < links; ++l) {
      cube.requestLinks[l](request[l]);
      cube.responseLinks[l](response[l]);
    }
    SC_THREAD(Send);
    SC_METHOD(Receive);
    for (auto& r : response) sensitive << r;
    dont_initialize();
  }
  void Send() {
    for (auto& [at, what] : toSend) {
      sc_core::wait(at - sc_core::sc_time_stamp());
      request[what.first].write(Flit_P(what.second));
    }
  }
  void Receive() {
    for (unsigned l = 0; l < response.size(); ++l) {
      if (!response[l].event()) continue;
      Flit_P f = response[l].read();
      // Token-return packets give back the tokens of the request; only responses count here.
      if (f->command != TOKEN_RETURN) seen.push_back({l, sc_core::sc_time_stamp(), *f});
      else tokensReturned += f->returnTokens;
      delete f.flit;
    }
  }
};

bool SameChannel(const sc_core::sc_port_base& a, const sc_core::sc_port_base& b) {
  return a.get_interface() != nullptr && a.get_interface() == b.get_interface();
}

} // namespace

TEST(CubeAssembly, QuadTwoHoldsLinkSwitchesAndSlicesEightToEleven) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                auto* cube = new quor2_cube("cube", cfg, stats);
                SCN_CHECK_EQ(cube->quad.size(), 4u);
                quor2_quad& q2 = *cube->quad[2];
                SCN_CHECK_EQ(std::string(q2.name()), "cube.quad2");
                SCN_CHECK_EQ(std::string(q2.link->name()), "cube.quad2.link2");
                SCN_CHECK_EQ(std::string(q2.lsw->name()), "cube.quad2.lsw2");
                SCN_CHECK_EQ(std::string(q2.vsw->name()), "cube.quad2.vsw2");
                SCN_CHECK_EQ(q2.link->id, 2u);
                for (unsigned v = 0; v < 4; ++v) {
                  SCN_CHECK_EQ(q2.slices[v]->id, 8 + v);
                  SCN_CHECK_EQ(std::string(q2.slices[v]->name()),
                               "cube.quad2.slice" + std::to_string(8 + v));
                }
                SCN_CHECK(sc_core::sc_find_object("cube.quad2.slice9.vaultController9") !=
                          nullptr);
                SCN_CHECK(sc_core::sc_find_object("cube.quad2.slice9.vault9") != nullptr);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(CubeAssembly, PortKOfEveryQuadFacesTheKthOtherQuadBothWays) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                auto* cube = new quor2_cube("cube", cfg, stats);
                auto& q = cube->quad;
                // The worked case: vault 13 from link 0 leaves quad 0 on port 2 and
                // enters quad 3 on port 0; its line credits come back the other way.
                SCN_CHECK(SameChannel(q[0]->interQuadOutputLSW[2][0], q[3]->interQuadInputLSW[0][0]));
                SCN_CHECK(SameChannel(q[3]->creditReturnLSW[0], q[0]->creditReceiveLSW[2]));
                SCN_CHECK(SameChannel(q[1]->interQuadOutputLSW[1][2], q[2]->interQuadInputLSW[1][2]));
                SCN_CHECK(SameChannel(q[2]->interQuadOutputVSW[0][1], q[0]->interQuadInputVSW[1][1]));
                for (unsigned i = 0; i < 4; ++i) {
                  for (unsigned j = 0; j < 3; ++j) {
                    const unsigned t = j < i ? j : j + 1;
                    const unsigned m = j < i ? i - 1 : i;
                    for (unsigned lane = 0; lane < cfg.FLITS_PER_CYCLE_LSW; ++lane)
                      SCN_CHECK(SameChannel(q[i]->interQuadOutputLSW[j][lane],
                                            q[t]->interQuadInputLSW[m][lane]));
                    for (unsigned lane = 0; lane < cfg.FLITS_PER_CYCLE_VSW; ++lane)
                      SCN_CHECK(SameChannel(q[i]->interQuadOutputVSW[j][lane],
                                            q[t]->interQuadInputVSW[m][lane]));
                    SCN_CHECK(SameChannel(q[i]->creditReturnLSW[j], q[t]->creditReceiveLSW[m]));
                    SCN_CHECK(SameChannel(q[i]->earlyCreditReturnLSW[j],
                                          q[t]->earlyCreditReceiveLSW[m]));
                    SCN_CHECK(SameChannel(q[i]->creditReturnVSW[j], q[t]->creditReceiveVSW[m]));
                  }
                }
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(CubeAssembly, LinkSwitchTokensReachItsOwnLinkAndCreditsTheRightQuads) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                auto* cube = new quor2_cube("cube", cfg, stats);
                new HostEnds("host", *cube, cfg.NUM_LINKS);
                // Ports bound to ports resolve to their channel at the end of elaboration.
                sc_core::sc_start(sc_core::SC_ZERO_TIME);
                quor2_quad& q1 = *cube->quad[1];
                SCN_CHECK(SameChannel(q1.lsw->creditOutputLanes[1], q1.link->tokenInput));
                SCN_CHECK(SameChannel(q1.lsw->creditOutputLanes[0], q1.creditReturnLSW[0]));
                SCN_CHECK(SameChannel(q1.lsw->creditOutputLanes[3], q1.creditReturnLSW[2]));
                SCN_CHECK(SameChannel(q1.vsw->creditOutputLanes[2], q1.slices[2]->responseCreditReturn));
                SCN_CHECK(SameChannel(q1.vsw->creditOutputLanes[4], q1.creditReturnVSW[0]));
                SCN_CHECK(SameChannel(q1.link->creditReturn, q1.vsw->creditInputFromLM));
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(CubeLinkRate, FollowsEachLinksWidthAndRefusesLinksAboveThree) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.LINK_2_WIDTH = 8;
                StatsKeeper stats(cfg);
                auto* cube = new quor2_cube("cube", cfg, stats);
                SCN_CHECK_EQ(GetLinkRate(cube, 0), sc_time(533, SC_PS));
                SCN_CHECK_EQ(GetLinkRate(cube, 2), sc_time(1067, SC_PS));
                SCN_CHECK(GetRequestLinks(cube) == &cube->requestLinks);
                SCN_CHECK(GetResponseLinks(cube) == &cube->responseLinks);
              }),
              ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                auto* cube = new quor2_cube("cube", cfg, stats);
                GetLinkRate(cube, 4);
              }),
              ::testing::KilledBySignal(SIGABRT),
              "== ERROR - Please pink a link value between 0 and 3");
}

TEST(CubeDramTrace, FileExistsOnlyWhenTracing) {
  for (bool tracing : {false, true}) {
    EXPECT_EXIT(RunScenario([tracing] {
                  quortest::TempDir dir;
                  SCN_CHECK(chdir(dir.path.c_str()) == 0);
                  Config cfg;
                  cfg.DRAM_TRACING = tracing;
                  StatsKeeper stats(cfg);
                  new quor2_cube("cube", cfg, stats);
                  SCN_CHECK_EQ(std::filesystem::exists("dram_trace.csv"), tracing);
                  if (tracing) {
                    std::ifstream trace("dram_trace.csv");
                    std::string header;
                    std::getline(trace, header);
                    SCN_CHECK_EQ(header, std::string("time_ps,controller,command,partition,bank,"
                                                     "since_last_same_command_ps"));
                  }
                }),
                ::testing::ExitedWithCode(0), "")
        << "tracing=" << tracing;
  }
}

// A read for vault 13 on link 0 crosses from quad 0 to quad 3, is served there,
// and its response comes back across the mesh to link 0; the DRAM trace shows its
// activate in vault 13, and the report counts it there.
TEST(CubeTraffic, ReadForARemoteVaultTravelsTheMeshAndBack) {
  EXPECT_EXIT(
      RunScenario([] {
        quortest::TempDir dir;
        SCN_CHECK(chdir(dir.path.c_str()) == 0);
        Config cfg;
        cfg.DRAM_TRACING = true;
        cfg.REFRESH_ENABLED = false;
        StatsKeeper stats(cfg);
        auto* cube = new quor2_cube("cube", cfg, stats);
        auto* host = new HostEnds("host", *cube, cfg.NUM_LINKS);
        const uint64_t address = (uint64_t{13} << 7) | (uint64_t{77} << 17);
        auto* read = new Flit(42, address, READ_REQUEST, 64, true, true, 1);
        host->toSend.push_back({sc_time(533, SC_PS), {0, read}});
        sc_core::sc_start(sc_time(2, sc_core::SC_US));
        SCN_CHECK_EQ(host->seen.size(), 5u);
        for (size_t i = 0; i < host->seen.size(); ++i) {
          const auto& s = host->seen[i];
          SCN_CHECK_EQ(s.link, 0u);
          SCN_CHECK_EQ(s.flit.command, READ_RESPONSE);
          SCN_CHECK_EQ(s.flit.tag, 42u);
          SCN_CHECK_EQ(s.flit.sourceLink, 0u);
          SCN_CHECK_EQ(s.flit.destinationField, 13u);
          SCN_CHECK_EQ(s.flit.header, i == 0);
          SCN_CHECK_EQ(s.flit.tail, i == 4);
        }
        if (host->seen.size() == 5u) {
          const Flit& tail = host->seen[4].flit;
          // It went through quad 0's link switch, then quad 3's, and back through
          // quad 3's vault switch and quad 0's.
          SCN_CHECK(tail.startTimeLSW_L > sc_core::SC_ZERO_TIME);
          SCN_CHECK(tail.startTimeLSW_R > tail.startTimeLSW_L);
          SCN_CHECK(tail.startTimeTransQ > tail.startTimeLSW_R);
          SCN_CHECK(tail.startTimeVSW_R > tail.startTimeVSW_L);
          SCN_CHECK(tail.startTimeRspLink > tail.startTimeVSW_R);
        }
        // The request's one token came back, on the response tail or on its own.
        SCN_CHECK_EQ(host->tokensReturned + (host->seen.empty() ? 0 : host->seen.back().flit.returnTokens),
                     1u);
        SCN_CHECK_EQ(stats.perVaultReads[13], 1u);
        SCN_CHECK_EQ(stats.perLinkReads[0], 1u);
        SCN_CHECK_EQ(stats.perLinkSentFlits[0], 5u);
        dramLog.flush();
        std::ifstream trace("dram_trace.csv");
        std::string line;
        unsigned acts = 0;
        while (std::getline(trace, line)) acts += line.find(",VC13,ACT,") != std::string::npos;
        SCN_CHECK_EQ(acts, 1u);
      }),
      ::testing::ExitedWithCode(0), "");
}
