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

// An inner signal that carries credit or token pulses: an amount, then the idle
// value (T{}) half a period later. Every reader ignores the idle value, so its
// arrival wakes no one; the value itself (for reads, event() and waveforms)
// changes as on any signal.
template <typename T>
class PulseSignal : public InnerSignal<T> {
public:
  using InnerSignal<T>::InnerSignal;
  using InnerSignal<T>::operator=;

protected:
  void update() override {
    if (this->m_new_val == this->m_cur_val) return;
    if (!(this->m_new_val == T{})) return InnerSignal<T>::update();
    this->m_cur_val = this->m_new_val;
    this->m_change_stamp = this->simcontext()->change_stamp();
  }
};

// outer entries of inner lanes each; the inner vectors are owned by the outer one.
template <typename T>
void InitNested(sc_core::sc_vector<sc_core::sc_vector<T>>& v, unsigned outer, unsigned inner) {
  v.init(outer, [inner](const char* name, std::size_t) {
    return new sc_core::sc_vector<T>(name, inner);
  });
}

} // namespace Orvane::Internal::QUOR2

#endif
