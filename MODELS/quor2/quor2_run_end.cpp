#include "quor2_run_end.h"

#include "kvl_monitor.h"
#include "quor2_clock.h"
#include "quor2_cube.h"
#include "quor2_quor_controller.h"
#include "quor2_rest_check.h"

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

bool RunUntilSourcesDone(const sc_core::sc_time& limit, const kvl_monitor& monitor) {
  sc_core::sc_start(limit);
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
