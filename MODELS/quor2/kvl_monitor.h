// End-of-run monitor: watches the done signal of every traffic source and
// pauses the simulation once all of them read true at the same time, so the
// entry can report, then let what is still in flight settle and check it.
#ifndef KVL_MONITOR_H
#define KVL_MONITOR_H

#include "quor2_utils.h"

#include <systemc>

#include <vector>

namespace Orvane::Internal::QUOR2 {

class kvl_monitor : public sc_core::sc_module {
public:
  sc_core::sc_vector<sc_core::sc_in<bool>> done;
  std::vector<bool> finishedGenerators;
  const Config& cfg;

  SC_HAS_PROCESS(kvl_monitor);
  kvl_monitor(sc_core::sc_module_name name, const Config& cfg);

  // Reports every source whose signal changed in this delta cycle, in source
  // order, then pauses the run when all signals read true.
  void GeneratorDone();

  // Every source has raised done and the run was paused for it.
  bool AllDone() const { return allDone; }

private:
  bool allDone = false;
};

} // namespace Orvane::Internal::QUOR2

#endif
