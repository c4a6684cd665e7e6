// The host interface: the wrapper's own wiring and socket binding, and the
// factory functions a host program uses. One elaboration per death-test child.
#include "support/scenario.h"

#include "kvl_monitor.h"
#include "quor2_cube.h"
#include "quor2_generator.h"
#include "quor2_quor_controller.h"
#include "quor2_quor_wrapper.h"
#include "quor2_trace_reader.h"
#include "quor2_utils.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

using namespace Orvane::Internal::QUOR2;
using quortest::RunScenario;

namespace {
// Two quads with two links: the smallest cube that still has a mesh.
void TwoQuads(Config& cfg) {
  cfg.NUM_QUADS = 2;
  cfg.NUM_LINKS = 2;
  cfg.NUM_VAULTS = 8;
  cfg.NUM_GENERATORS = 2;
}
} // namespace

TEST(Wrapper, BindsOneRequestAndOneResponseSignalPerLink) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                TwoQuads(cfg);
                quor2_quor_wrapper* w = GetQUORWrapper(cfg);
                SCN_CHECK_EQ(std::string(w->name()), "QUORWrapper");
                SCN_CHECK_EQ(w->requestLinks.size(), 2u);
                SCN_CHECK_EQ(w->responseLinks.size(), 2u);
                for (unsigned l = 0; l < 2; ++l) {
                  SCN_CHECK(w->controller->requestLinks[l].get_interface() == &w->requestLinks[l]);
                  SCN_CHECK(w->cube->requestLinks[l].get_interface() == &w->requestLinks[l]);
                  SCN_CHECK(w->controller->responseLinks[l].get_interface() ==
                            &w->responseLinks[l]);
                  SCN_CHECK(w->cube->responseLinks[l].get_interface() == &w->responseLinks[l]);
                }
                SCN_CHECK_EQ(std::string(w->controller->name()), "QUORWrapper.hostController");
                SCN_CHECK_EQ(std::string(w->cube->name()), "QUORWrapper.cube");
                SCN_CHECK_EQ(w->GetControllerSockets().size(), 2u);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(Wrapper, RegisterSocketsBindsEachSourceAndSaysSo) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                TwoQuads(cfg);
                cfg.NUM_REQUESTS = 20;
                quor2_quor_wrapper* w = GetQUORWrapper(cfg);
                sc_core::sc_clock clk("clk", cfg.CORE_CLK);
                kvl_monitor monitor("monitor", cfg);
                sc_core::sc_vector<sc_core::sc_signal<bool>> done("done", 2);
                std::vector<GeneratorSocket*> sockets;
                for (unsigned i = 0; i < 2; ++i) {
                  auto* g = GetGenerator(("generator" + std::to_string(i)).c_str(), i, cfg);
                  g->SetClock(&clk);
                  g->SetDone(&done[i]);
                  monitor.done[i](done[i]);
                  sockets.push_back(g->GetRequestSocket());
                }
                w->RegisterSockets(sockets);
                sc_core::sc_start(sc_core::sc_time(100, sc_core::SC_US));
                // Both sources were answered through the wrapper's memory system.
                SCN_CHECK(sc_core::sc_time_stamp() < sc_core::sc_time(100, sc_core::SC_US));
                SCN_CHECK_EQ(w->stats->QUORControllerIssuedReads + w->stats->QUORControllerIssuedWrites,
                             40u);
              }),
              ::testing::ExitedWithCode(0), "Binding \\(2\\) TLM sockets - OK!\n");
}

TEST(Factories, GeneratorSeedsComeInSequenceFromTheCRandomGenerator) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                std::srand(1);
                const unsigned first = static_cast<unsigned>(std::rand());
                const unsigned second = static_cast<unsigned>(std::rand());
                std::srand(1);
                quor2_generator* a = GetGenerator("generator0", 0, cfg);
                quor2_generator* b = GetGenerator("generator1", 1, cfg);
                SCN_CHECK_EQ(a->randomSeed, first);
                SCN_CHECK_EQ(b->randomSeed, second);
                SCN_CHECK(first != second);
                SCN_CHECK_EQ(GetNumGenerators(cfg), 4u);
                SCN_CHECK(!TraceEnabled(cfg));
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(Factories, BareCubeReportsThroughItsOwnKeeper) {
  EXPECT_EXIT(RunScenario([] {
                std::string* none = nullptr;
                quor2_cube* cube = GetCube(none);
                SCN_CHECK_EQ(std::string(cube->name()), "quorsim_cube");
                sc_core::sc_vector<sc_core::sc_signal<Flit_P>> req("req", 4), rsp("rsp", 4);
                for (unsigned l = 0; l < 4; ++l) {
                  (*GetRequestLinks(cube))[l](req[l]);
                  (*GetResponseLinks(cube))[l](rsp[l]);
                }
                sc_core::sc_start(sc_core::sc_time(16, sc_core::SC_NS));
                DumpStats(cube);
              }),
              ::testing::ExitedWithCode(0),
              "======= Dumping stats at 16ns / 10 cube cycles =======");
}
