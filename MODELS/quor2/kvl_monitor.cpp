#include "kvl_monitor.h"

#include "quor2_messages.h"

namespace Orvane::Internal::QUOR2 {

kvl_monitor::kvl_monitor(sc_core::sc_module_name name, const Config& cfg)
    : sc_core::sc_module(name),
      done("done", cfg.NUM_GENERATORS),
      finishedGenerators(cfg.NUM_GENERATORS, false),
      cfg(cfg) {
  SC_METHOD(GeneratorDone);
  for (auto& port : done) sensitive << port;
}

void kvl_monitor::GeneratorDone() {
  for (unsigned i = 0; i < cfg.NUM_GENERATORS; ++i) {
    if (done[i].event()) {
      TimedLine() << "GENERATOR " << i << " DONE!!!" << std::endl;
      finishedGenerators[i] = true;
    }
  }
  for (unsigned j = 0; j < cfg.NUM_GENERATORS; ++j) {
    if (!done[j].read()) return;
  }
  allDone = true;
  sc_core::sc_pause();
}

} // namespace Orvane::Internal::QUOR2
