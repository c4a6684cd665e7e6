// quorbench: the standalone tester. It builds the memory system only through
// the wrapper and factory functions a host program would use.
#include "kernel_entry.h"
#include "kvl_monitor.h"
#include "quor2_error_watch.h"
#include "quor2_generator.h"
#include "quor2_messages.h"
#include "quor2_quor_wrapper.h"
#include "quor2_run_end.h"
#include "quor2_run_outputs.h"
#include "quor2_trace_reader.h"
#include "quor2_utils.h"

#include <systemc>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

using namespace Orvane::Internal::QUOR2;

namespace {
[[noreturn]] void TesterUsage() {
  std::cout << "== Usage : Tester.o <Config File>" << std::endl;
  ExitRun(0);
}

std::string TesterHelpText() {
  return "Usage: quorbench [-f=]<config file> [KEY=VALUE ...] [--stats-json FILE]\n"
         "                 [--epoch-ns TIME] [--epochs FILE] [--progress] [--vcd FILE]\n"
         "                 [--strict]\n"
         "       quorbench --help | --version\n"
         "\n"
         "Runs the memory cube through its host interface for 100000 ns on a 1.6 ns\n"
         "source clock, with the settings of <config file> and the overrides after it,\n"
         "read as quorsim reads them (see quorsim --help for the options).\n";
}

// The command line as quorsim takes it; without arguments, the tester's usage.
CommandLine ReadCommandLine(int argc, char** argv) {
  const CommandLine cl = ParseCommandLine(argc, argv);
  switch (cl.action) {
  case CommandLine::Usage: TesterUsage();
  case CommandLine::Help:
    std::cout << TesterHelpText() << std::flush;
    ExitRun(0);
  case CommandLine::Version:
    std::cout << "quorbench" << VersionText().substr(VersionText().find(' ')) << std::endl;
    ExitRun(0);
  case CommandLine::Error:
    std::cout << "ERROR - " << cl.error << std::endl;
    std::cerr << TesterHelpText();
    ExitRun(1);
  case CommandLine::Run: break;
  }
  if (cl.check) {
    // The tester's run time is fixed: a check would be a whole run.
    std::cout << "ERROR - quorbench has no --check (quorsim --check checks a configuration)"
              << std::endl;
    ExitRun(1);
  }
  return cl;
}
// The tester runs on a fixed clock for a fixed time and prints no state: keys
// of the file that say otherwise are named, so nobody trusts them by mistake.
void WarnAboutKeysNotHonoured(const Config& cfg) {
  const std::pair<const char*, const char*> fixed[] = {
      {"SIM_TIME", "the run lasts 100000 ns"},
      {"CORE_CLK", "the sources run on a fixed 1.6 ns clock (the cube uses CORE_CLK)"},
      {"DUMP_STATE", "no state is printed after the report"}};
  for (const auto& [key, what] : fixed)
    if (cfg.optionMap.at(key) > 0)
      std::cerr << "WARNING - quorbench does not honour " << key << ": " << what << std::endl;
}
} // namespace

int sc_main(int argc, char** argv) {
  const auto wallStart = std::chrono::steady_clock::now();
  // The same loading and validation as quorsim and the library entry: no
  // setting can reach outside the model's tables.
  Config* cfg = new Config();
  LoadConfiguration(ReadCommandLine(argc, argv), *cfg);
  WarnAboutKeysNotHonoured(*cfg);
  // The generators' seeds are drawn from this; 1 is the C library's own start.
  std::srand(cfg->RANDOM_SEED);
  quor2_quor_wrapper* wrapper = GetQUORWrapper(*cfg);
  sc_core::sc_clock clk("TestClock", sc_core::sc_time(1.6, sc_core::SC_NS), 0.5,
                        sc_core::SC_ZERO_TIME, true);
  std::vector<ControllerSocket*> sockets = wrapper->GetControllerSockets();
  const unsigned count = GetNumGenerators(*cfg);
  kvl_monitor monitor("monitor", *cfg);
  sc_core::sc_vector<sc_core::sc_signal<bool>> done("done", count);

  EpochLog::Sources sources;
  char name[32];
  for (unsigned i = 0; i < count; ++i) {
    if (TraceEnabled(*cfg)) {
      std::snprintf(name, sizeof(name), "tracereader%d", i);
      quor2_trace_reader* reader = GetTraceReader(name, i, *cfg);
      reader->SetClock(&clk);
      reader->SetDone(&done[i]);
      reader->GetRequestSocket()->bind(*sockets[i]);
      sources.emplace_back(name, &reader->sourceStats);
    } else {
      std::snprintf(name, sizeof(name), "generator%d", i);
      quor2_generator* generator = GetGenerator(name, i, *cfg);
      generator->SetClock(&clk);
      generator->GetRequestSocket()->bind(*sockets[i]);
      generator->SetDone(&done[i]);
      sources.emplace_back(name, &generator->sourceStats);
    }
    monitor.done[i](done[i]);
  }

  std::cout << "Starting simulation!!!!" << std::endl;
  ErrorLineWatch errors(std::cout);
  const sc_core::sc_time limit(100000, sc_core::SC_NS);
  RunOutputs outputs(*cfg, *wrapper->stats, *wrapper->controller, sources, limit, wallStart);
  CatchInterrupts();
  const bool sourcesDone = RunUntilSourcesDone(limit, monitor, outputs.Observers());
  ReleaseInterrupts();
  const int signal = InterruptSignal();
  bool reportWritten = wrapper->DumpStats();
  reportWritten = outputs.Finish(sourcesDone, signal) && reportWritten;
  if (signal != 0) {
    std::cout.flush();
    return InterruptedExitStatus(signal);
  }
  bool atRest = true;
  if (sourcesDone)
    atRest = SettleAndCheckAtRest(*cfg, *wrapper->controller, *wrapper->cube);
  else
    ReportOutstanding(*wrapper->controller, *cfg);
  std::cout.flush();
  return RunExitStatus(errors.ErrorLines(), atRest, reportWritten);
}

int main(int argc, char** argv) { return RunKernel(argc, argv); }
