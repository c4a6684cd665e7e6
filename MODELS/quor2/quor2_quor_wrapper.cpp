#include "quor2_quor_wrapper.h"

#include "quor2_cube.h"
#include "quor2_generator.h"
#include "quor2_quor_controller.h"
#include "quor2_trace_reader.h"

#include <cstdlib>
#include <iostream>

namespace Orvane::Internal::QUOR2 {

quor2_quor_wrapper::quor2_quor_wrapper(sc_core::sc_module_name name, const Config& cfg)
    : sc_core::sc_module(name), cfg(cfg), requestLinks("requestLinks"),
      responseLinks("responseLinks") {
  stats = new StatsKeeper(cfg);
  controller = new quor2_quor_controller("hostController", cfg, *stats);
  cube = new quor2_cube("cube", cfg, *stats);
  requestLinks.init(cfg.NUM_LINKS);
  responseLinks.init(cfg.NUM_LINKS);
  for (unsigned l = 0; l < cfg.NUM_LINKS; ++l) {
    controller->requestLinks[l](requestLinks[l]);
    controller->responseLinks[l](responseLinks[l]);
    cube->requestLinks[l](requestLinks[l]);
    cube->responseLinks[l](responseLinks[l]);
  }
}

std::vector<ControllerSocket*> quor2_quor_wrapper::GetControllerSockets() {
  return controller->requestSockets;
}

void quor2_quor_wrapper::RegisterSockets(std::vector<GeneratorSocket*>& requestSockets) {
  std::cout << "Binding (" << requestSockets.size() << ") TLM sockets - ";
  for (size_t i = 0; i < requestSockets.size(); ++i)
    requestSockets[i]->bind(*controller->requestSockets[i]);
  std::cout << "OK!" << std::endl;
}

bool quor2_quor_wrapper::DumpStats() { return stats->DumpStats(sc_core::sc_time_stamp()); }

quor2_quor_wrapper* GetQUORWrapper(const Config& cfg) {
  return new quor2_quor_wrapper("QUORWrapper", cfg);
}

quor2_generator* GetGenerator(sc_core::sc_module_name name, unsigned index, const Config& cfg) {
  const unsigned seed = static_cast<unsigned>(std::rand());
  return new quor2_generator(name, index, cfg, seed);
}

quor2_trace_reader* GetTraceReader(sc_core::sc_module_name name, unsigned id, const Config& cfg) {
  return new quor2_trace_reader(name, id, cfg);
}

unsigned GetNumGenerators(const Config& cfg) { return cfg.NUM_GENERATORS; }

bool TraceEnabled(const Config& cfg) { return cfg.USE_TRACE; }

quor2_cube* GetCube(const Config& cfg) {
  auto* stats = new StatsKeeper(cfg);
  return new quor2_cube("quorsim_cube", cfg, *stats);
}

quor2_cube* GetCube(std::string* configFileName) { return GetCube(*GetConfig(configFileName)); }

} // namespace Orvane::Internal::QUOR2
