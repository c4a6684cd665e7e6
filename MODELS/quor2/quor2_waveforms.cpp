#include "quor2_waveforms.h"

#include "quor2_dram_bus_packet.h"
#include "quor2_flit_p.h"

#include <exception>

namespace Orvane::Internal::QUOR2 {

namespace {
// sc_create_vcd_trace_file adds ".vcd" itself.
std::string WithoutVcdSuffix(const std::string& path) {
  const std::string suffix = ".vcd";
  if (path.size() > suffix.size() &&
      path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0)
    return path.substr(0, path.size() - suffix.size());
  return path;
}

template <class T>
bool TraceAs(sc_core::sc_trace_file* file, sc_core::sc_object* object) {
  auto* signal = dynamic_cast<sc_core::sc_signal_in_if<T>*>(object);
  if (!signal) return false;
  // read() returns the signal's own current value, which a trace file may keep.
  sc_trace(file, signal->read(), object->name());
  return true;
}
} // namespace

std::string Waveforms::PathFor(const std::string& path) { return WithoutVcdSuffix(path) + ".vcd"; }

Waveforms::Waveforms(const std::string& path) {
  const std::string base = WithoutVcdSuffix(path);
  filePath = PathFor(path);
  file = sc_core::sc_create_vcd_trace_file(base.c_str());
  // The kernel announces the time unit on standard output, which holds the
  // report only.
  sc_core::sc_report_handler::set_actions("tracing timescale unit set", sc_core::SC_DO_NOTHING);
  file->set_time_unit(1, sc_core::SC_PS);
  TraceTree(sc_core::sc_get_top_level_objects());
}

Waveforms::~Waveforms() {
  // While an error from the kernel unwinds, the file may never have been
  // initialised, and closing such a file divides by zero.
  if (file && std::uncaught_exceptions() == 0) sc_core::sc_close_vcd_trace_file(file);
}

void Waveforms::TraceTree(const std::vector<sc_core::sc_object*>& objects) {
  for (sc_core::sc_object* object : objects) {
    if (TraceSignal(object)) ++traced;
    TraceTree(object->get_child_objects());
  }
}

bool Waveforms::TraceSignal(sc_core::sc_object* object) {
  using sc_core::sc_trace;
  return TraceAs<bool>(file, object) || TraceAs<int>(file, object) ||
         TraceAs<Flit_P>(file, object) || TraceAs<DRAMBusPacket>(file, object);
}

} // namespace Orvane::Internal::QUOR2
