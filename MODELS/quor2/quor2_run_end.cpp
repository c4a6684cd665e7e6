#include "quor2_run_end.h"

#include "kvl_monitor.h"
#include "quor2_clock.h"
#include "quor2_cube.h"
#include "quor2_quor_controller.h"
#include "quor2_rest_check.h"

#include <csignal>
#include <iostream>

namespace Orvane::Internal::QUOR2 {

namespace {
// Settling is checked every this many core cycles, for at most kSettleCycles:
// far longer than any queue the model can hold takes to empty.
constexpr uint64_t kSettleStepCycles = 256;
constexpr uint64_t kSettleCycles = 1u << 20;

RestCheck CheckNow(const quor2_quor_controller& controller, const quor2_cube& cube) {
  RestCheck check;
  controller.CheckAtRest(check);
  cube.CheckAtRest(check);
  return check;
}
} // namespace

namespace {
volatile std::sig_atomic_t interruptSignal = 0;

extern "C" void OnInterrupt(int signal) { interruptSignal = signal; }

// A slice is short enough to answer Ctrl-C at once and long enough to cost
// nothing against the work simulated within it.
const sc_core::sc_time kSlice(1, sc_core::SC_US);
} // namespace

void CatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void ReleaseInterrupts() {
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
}

int InterruptSignal() { return interruptSignal; }

const char* SignalName(int signal) {
  switch (signal) {
  case SIGINT: return "SIGINT";
  case SIGTERM: return "SIGTERM";
  case 0: return "";
  default: return "signal";
  }
}

namespace {
sc_core::sc_time NextSliceEnd(const sc_core::sc_time& limit,
                              const std::vector<RunObserver*>& observers) {
  sc_core::sc_time end = sc_core::sc_time_stamp() + kSlice;
  if (limit < end) end = limit;
  for (const RunObserver* observer : observers) {
    const sc_core::sc_time stop = observer->NextStop();
    if (stop > sc_core::sc_time_stamp() && stop < end) end = stop;
  }
  return end;
}
} // namespace

bool RunUntilSourcesDone(const sc_core::sc_time& limit, const kvl_monitor& monitor,
                         const std::vector<RunObserver*>& observers) {
  // The kernel ends each slice after triggering the events due at its end and
  // runs them first in the next one, just as one sc_start(limit) would.
  do {
    sc_core::sc_start(NextSliceEnd(limit, observers) - sc_core::sc_time_stamp());
    for (RunObserver* observer : observers) observer->AfterSlice(sc_core::sc_time_stamp());
  } while (sc_core::sc_time_stamp() < limit && !monitor.AllDone() && interruptSignal == 0);
  for (RunObserver* observer : observers) observer->RunEnded(sc_core::sc_time_stamp());
  if (!monitor.AllDone()) return false;
  SC_REPORT_INFO("/OSCI/SystemC", "Simulation stopped by user.");
  return true;
}

bool SettleAndCheckAtRest(const Config& cfg, const quor2_quor_controller& controller,
                          const quor2_cube& cube) {
  RestCheck check = CheckNow(controller, cube);
  for (uint64_t waited = 0; !check.Clean() && waited < kSettleCycles;
       waited += kSettleStepCycles) {
    sc_core::sc_start(Cycles(cfg.CORE_CLK, kSettleStepCycles));
    check = CheckNow(controller, cube);
  }
  for (const auto& line : check.Failures()) std::cout << line << std::endl;
  return check.Clean();
}

void ReportOutstanding(const quor2_quor_controller& controller, const Config& cfg) {
  uint64_t outstanding = 0;
  for (const auto& freeTags : controller.perLinkFreeTags)
    outstanding += cfg.TAGS_PER_LINK - freeTags.size();
  if (outstanding == 0) return;
  std::cerr << "The run ended at " << sc_core::sc_time_stamp() << " with " << outstanding
            << " requests still awaiting their responses" << std::endl;
}

} // namespace Orvane::Internal::QUOR2
