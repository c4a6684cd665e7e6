// Waveforms of a run (VCD_FILE): every signal of the model that carries a
// flit, a credit count, a busy or done line, or a TSV bus packet, in a VCD
// file that GTKWave reads. A flit signal shows as the id of the flit on it, a
// TSV bus as the fields of its packet. Tracing reads values only, so it leaves
// the results unchanged; without VCD_FILE nothing is created.
#ifndef QUOR2_WAVEFORMS_H
#define QUOR2_WAVEFORMS_H

#include <systemc>

#include <string>

namespace Orvane::Internal::QUOR2 {

class Waveforms {
public:
  // Opens `path` (".vcd" is added when missing) and traces every such signal of
  // the elaborated hierarchy. Call before the simulation starts.
  explicit Waveforms(const std::string& path);
  ~Waveforms();
  Waveforms(const Waveforms&) = delete;
  Waveforms& operator=(const Waveforms&) = delete;

  // Signals traced.
  unsigned Count() const { return traced; }
  // The file written.
  const std::string& Path() const { return filePath; }
  // The file written for VCD_FILE = `path`.
  static std::string PathFor(const std::string& path);

private:
  void TraceTree(const std::vector<sc_core::sc_object*>& objects);
  bool TraceSignal(sc_core::sc_object* object);

  sc_core::sc_trace_file* file = nullptr;
  std::string filePath;
  unsigned traced = 0;
};

} // namespace Orvane::Internal::QUOR2

#endif
