#include "quor2_testbench.h"
#include "quor2_top_tester.h"

#include "kvl_monitor.h"
#include "quor2_cube.h"
#include "quor2_error_watch.h"
#include "quor2_generator.h"
#include "quor2_messages.h"
#include "quor2_quor_controller.h"
#include "quor2_run_end.h"
#include "quor2_run_outputs.h"
#include "quor2_trace_reader.h"
#include "quor2_utils.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>

void usage() { std::cout << "== Usage : blah.o -f=<Config File>" << std::endl; }

namespace Orvane::Internal::QUOR2 {

namespace {
const std::string& TraceFileName(const Config& cfg, unsigned i) {
  switch (i) {
  case 0: return cfg.TRACE_FILENAME_0;
  case 1: return cfg.TRACE_FILENAME_1;
  case 2: return cfg.TRACE_FILENAME_2;
  default: return cfg.TRACE_FILENAME_3;
  }
}
} // namespace

int RunTestbench(int argc, char** argv, const TestbenchHooks& hooks) {
  const auto wallStart = std::chrono::steady_clock::now();
  Config cfg;
  const CommandLine cl = ParseCommandLine(argc, argv);
  switch (cl.action) {
  case CommandLine::Usage:
    usage();
    ExitRun(0);
  case CommandLine::Help:
    std::cout << HelpText() << std::flush;
    ExitRun(0);
  case CommandLine::Version:
    std::cout << VersionText() << std::endl;
    ExitRun(0);
  case CommandLine::Error:
    std::cout << "ERROR - " << cl.error << std::endl;
    std::cerr << HelpText();
    ExitRun(1);
  case CommandLine::Run: break;
  }
  LoadConfiguration(cl, cfg);

  if (hooks.beforeModel) hooks.beforeModel(cfg);
  sc_core::sc_clock clk("TestClock", cfg.CORE_CLK, 0.5, sc_core::SC_ZERO_TIME, true);
  StatsKeeper stats(cfg);
  quor2_quor_controller controller("hostController", cfg, stats);
  quor2_cube cube("cube", cfg, stats);
  kvl_monitor monitor("monitor", cfg);
  sc_core::sc_vector<sc_core::sc_signal<bool>> generatorDone("generatorDone", cfg.NUM_GENERATORS);

  // The generators' seeds are the first draws after this.
  std::srand(cfg.RANDOM_SEED);
  EpochLog::Sources sources;
  char name[32];
  for (unsigned i = 0; i < cfg.NUM_GENERATORS; ++i) {
    if (cfg.USE_TRACE) {
      if (i > 3) {
        std::cout << "ERROR - When using traces, please have 4 or fewer generators" << std::endl;
        ExitRun(1);
      }
      std::snprintf(name, sizeof(name), "tracereader%d", i);
      auto* reader = new quor2_trace_reader(name, i, std::string(TraceFileName(cfg, i)), cfg);
      reader->SetClock(&clk);
      reader->GetRequestSocket()->bind(*controller.requestSockets[i]);
      reader->SetDone(&generatorDone[i]);
      sources.emplace_back(name, &reader->sourceStats);
    } else {
      std::snprintf(name, sizeof(name), "generator%d", i);
      const unsigned seed = static_cast<unsigned>(std::rand());
      auto* generator = new quor2_generator(name, i, cfg, seed);
      generator->SetClock(&clk);
      generator->GetRequestSocket()->bind(*controller.requestSockets[i]);
      generator->SetDone(&generatorDone[i]);
      sources.emplace_back(name, &generator->sourceStats);
    }
    monitor.done[i](generatorDone[i]);
  }

  sc_core::sc_vector<InnerSignal<Flit_P>> requestLinks("requestLinks", cfg.NUM_LINKS);
  sc_core::sc_vector<InnerSignal<Flit_P>> responseLinks("responseLinks", cfg.NUM_LINKS);
  for (unsigned l = 0; l < cfg.NUM_LINKS; ++l) {
    controller.requestLinks[l](requestLinks[l]);
    controller.responseLinks[l](responseLinks[l]);
    cube.requestLinks[l](requestLinks[l]);
    cube.responseLinks[l](responseLinks[l]);
  }

  if (hooks.afterModel) hooks.afterModel(cfg);

  cfg.print(std::cout, false);
  ErrorLineWatch errors(std::cout);
  RunOutputs outputs(cfg, stats, controller, sources, cfg.SIM_TIME, wallStart);
  CatchInterrupts();
  const bool sourcesDone = RunUntilSourcesDone(cfg.SIM_TIME, monitor, outputs.Observers());
  ReleaseInterrupts();
  const int signal = InterruptSignal();
  if (signal != 0)
    std::cerr << "Interrupted by " << SignalName(signal) << " at " << sc_core::sc_time_stamp()
              << ": the statistics cover the time simulated so far" << std::endl;
  bool reportWritten = stats.DumpStats(sc_core::sc_time_stamp());
  reportWritten = outputs.Finish(sourcesDone, signal) && reportWritten;
  if (cfg.DUMP_STATE) {
    cube.DumpState();
    controller.DumpState();
  }
  if (signal != 0) {
    std::cout.flush();
    return InterruptedExitStatus(signal);
  }
  bool atRest = true;
  if (sourcesDone)
    atRest = SettleAndCheckAtRest(cfg, controller, cube);
  else
    ReportOutstanding(controller, cfg);
  std::cout.flush();
  return RunExitStatus(errors.ErrorLines(), atRest, reportWritten);
}

} // namespace Orvane::Internal::QUOR2
