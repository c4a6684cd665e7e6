// The cube's inner signals, and sizing of port and signal vectors that are themselves vectors (a lane vector
// per neighbour or per vault), shared by every module that has them.
#ifndef QUOR2_PORTS_H
#define QUOR2_PORTS_H

#include <systemc>

#include <cstddef>

namespace Orvane::Internal::QUOR2 {

// A signal between two of the cube's own modules. The ordered queue may run a
// module's method inside its own step (OrderedEvent::DueRuns), so the kernel
// does not always see the module's process as the writer: the one-writer check
// would report a second driver where there is one.
template <typename T>
using InnerSignal = sc_core::sc_signal<T, sc_core::SC_UNCHECKED_WRITERS>;

// outer entries of inner lanes each; the inner vectors are owned by the outer one.
template <typename T>
void InitNested(sc_core::sc_vector<sc_core::sc_vector<T>>& v, unsigned outer, unsigned inner) {
  v.init(outer, [inner](const char* name, std::size_t) {
    return new sc_core::sc_vector<T>(name, inner);
  });
}

} // namespace Orvane::Internal::QUOR2

#endif
