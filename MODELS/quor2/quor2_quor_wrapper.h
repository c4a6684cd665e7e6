// What a host program embeds: a complete memory system (host controller, cube
// and statistics keeper, links wired) behind the controller's TLM-2.0 target
// sockets, and the factory and accessor functions around it.
#ifndef QUOR2_QUOR_WRAPPER_H
#define QUOR2_QUOR_WRAPPER_H

#include "quor2_flit_p.h"
#include "quor2_ports.h"
#include "quor2_utils.h"

#include <systemc>
#include <tlm_utils/simple_initiator_socket.h>
#include <tlm_utils/simple_target_socket.h>

#include <string>
#include <vector>

namespace Orvane::Internal::QUOR2 {

class quor2_quor_controller;
class quor2_call_wrapper;
class quor2_cube;
class quor2_generator;
class quor2_trace_reader;

using ControllerSocket = tlm_utils::simple_target_socket<quor2_call_wrapper, 32>;
using GeneratorSocket = tlm_utils::simple_initiator_socket<quor2_generator, 32>;

class quor2_quor_wrapper : public sc_core::sc_module {
public:
  quor2_quor_controller* controller;
  quor2_cube* cube;
  StatsKeeper* stats;
  const Config& cfg;
  sc_core::sc_vector<InnerSignal<Flit_P>> requestLinks;
  sc_core::sc_vector<InnerSignal<Flit_P>> responseLinks;

  quor2_quor_wrapper(sc_core::sc_module_name name, const Config& cfg);
  ~quor2_quor_wrapper() override = default;

  std::vector<ControllerSocket*> GetControllerSockets();
  void RegisterSockets(std::vector<GeneratorSocket*>& requestSockets);
  // False when the report file was asked for but could not be written.
  bool DumpStats();
};

quor2_quor_wrapper* GetQUORWrapper(const Config& cfg);
quor2_generator* GetGenerator(sc_core::sc_module_name name, unsigned index, const Config& cfg);
quor2_trace_reader* GetTraceReader(sc_core::sc_module_name name, unsigned id, const Config& cfg);
unsigned GetNumGenerators(const Config& cfg);
bool TraceEnabled(const Config& cfg);
quor2_cube* GetCube(const Config& cfg);
quor2_cube* GetCube(std::string* configFileName);

} // namespace Orvane::Internal::QUOR2

#endif
