// Sizing of port and signal vectors that are themselves vectors (a lane vector
// per neighbour or per vault), shared by every module that has them.
#ifndef QUOR2_PORTS_H
#define QUOR2_PORTS_H

#include <systemc>

#include <cstddef>

namespace Orvane::Internal::QUOR2 {

// outer entries of inner lanes each; the inner vectors are owned by the outer one.
template <typename T>
void InitNested(sc_core::sc_vector<sc_core::sc_vector<T>>& v, unsigned outer, unsigned inner) {
  v.init(outer, [inner](const char* name, std::size_t) {
    return new sc_core::sc_vector<T>(name, inner);
  });
}

} // namespace Orvane::Internal::QUOR2

#endif
