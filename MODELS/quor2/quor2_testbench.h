// The library's own testbench: the sources, the host controller and the cube on
// one core clock, run for SIM_TIME and reported. quorsim is this and nothing
// else; a host may add modules of its own before and after the model is built.
#ifndef QUOR2_TESTBENCH_H
#define QUOR2_TESTBENCH_H

#include "quor2_utils.h"

#include <functional>

namespace Orvane::Internal::QUOR2 {

struct TestbenchHooks {
  std::function<void(const Config&)> beforeModel; // after the configuration is read
  std::function<void(const Config&)> afterModel;  // once everything is built and bound
};

// The whole run of `quorsim <config> [KEY=VALUE ...]`; returns its exit status.
int RunTestbench(int argc, char** argv, const TestbenchHooks& hooks = {});

} // namespace Orvane::Internal::QUOR2

#endif
