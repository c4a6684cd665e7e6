// A host that runs the library's testbench beside processes of its own that do
// nothing: methods re-armed on core-clock edges, half edges and flit periods,
// and a thread that notifies events nobody waits for, built before and after
// the model. They change only how the kernel's queues are shaped, so the
// report must not change at all.
//   inert_host <modules> <quorsim arguments...>
#include "quor2_testbench.h"

#include <systemc>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace q2 = Orvane::Internal::QUOR2;

namespace {

class InertModule : public sc_core::sc_module {
public:
  SC_HAS_PROCESS(InertModule);
  InertModule(sc_core::sc_module_name name, const q2::Config& cfg, unsigned salt)
      : sc_core::sc_module(name), cycle(cfg.CORE_CLK),
        flit(q2::LinkFlitRate(cfg, cfg.LINK_0_WIDTH)), salt(salt) {
    SC_METHOD(OnEdges);
    SC_METHOD(OnHalfEdges);
    SC_METHOD(OnFlitPeriods);
    SC_THREAD(NotifyNobody);
  }

private:
  void OnEdges() { next_trigger(cycle); }
  void OnHalfEdges() {
    const sc_core::sc_time half = cycle * 0.5;
    next_trigger(sc_core::sc_time_stamp() == sc_core::SC_ZERO_TIME ? half : cycle);
  }
  void OnFlitPeriods() { next_trigger(flit); }
  void NotifyNobody() {
    for (unsigned n = salt;; ++n) {
      unheard[n % 3].notify(cycle * static_cast<double>(1 + n % 4));
      sc_core::wait(n % 2 == 0 ? flit : cycle);
    }
  }

  sc_core::sc_time cycle, flit;
  unsigned salt;
  sc_core::sc_event unheard[3];
};

// Never deleted: the kernel holds them until the process ends.
std::vector<InertModule*> modules;

void AddInert(const q2::Config& cfg, unsigned count, const char* where) {
  for (unsigned i = 0; i < count; ++i)
    modules.push_back(new InertModule(
        (std::string("inert_") + where + std::to_string(i)).c_str(), cfg,
        static_cast<unsigned>(modules.size())));
}

} // namespace

int sc_main(int argc, char** argv) {
  if (argc < 2) return 2;
  const unsigned count = static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10));
  // Split as a host would: some before the model, the rest after it.
  const unsigned before = (count + 1) / 2;
  argv[1] = argv[0];
  q2::TestbenchHooks hooks;
  hooks.beforeModel = [&](const q2::Config& cfg) { AddInert(cfg, before, "before"); };
  hooks.afterModel = [&](const q2::Config& cfg) { AddInert(cfg, count - before, "after"); };
  return q2::RunTestbench(argc - 1, argv + 1, hooks);
}
