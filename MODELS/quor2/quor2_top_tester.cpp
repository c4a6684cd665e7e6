#include "quor2_top_tester.h"

#include "quor2_messages.h"
#include "quor2_utils.h"

#include <iostream>

using namespace Orvane::Internal::QUOR2;

void usage() { std::cout << "== Usage : blah.o -f=<Config File>" << std::endl; }

int sc_main(int argc, char** argv) {
  Config cfg;
  IniReader reader(true, false);
  if (argc < 2) {
    usage();
    ExitRun(0);
  }
  const std::string configFileName = argv[1];
  reader.readFile(configFileName, cfg);
  reader.finish(cfg);

  StatsKeeper stats(cfg);
  cfg.print(std::cout, false);
  stats.DumpStats(sc_core::sc_time_stamp());
  return 0;
}
