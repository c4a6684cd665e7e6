// Core-clock alignment and pulse helpers shared by every cube module. All
// arithmetic is on raw kernel time values, never on floating quotients.
#ifndef QUOR2_CLOCK_H
#define QUOR2_CLOCK_H

#include "quor2_ordered_event.h"

#include <systemc>

#include <cstdint>

namespace Orvane::Internal::QUOR2 {

// True when t lies on a multiple of period (time 0 included).
inline bool IsOnEdge(const sc_core::sc_time& t, const sc_core::sc_time& period) {
  return t.value() % period.value() == 0;
}

// Time from t to the next multiple of period strictly after t: a whole period
// when t is already on an edge.
inline sc_core::sc_time DelayToNextEdge(const sc_core::sc_time& t,
                                        const sc_core::sc_time& period) {
  return TimeOfValue(period.value() - t.value() % period.value());
}

// n whole periods.
inline sc_core::sc_time Cycles(const sc_core::sc_time& period, uint64_t n) {
  return TimeOfValue(period.value() * n);
}

// n periods counted from the current edge: n periods when t is on an edge,
// otherwise the time to the next edge plus n periods.
inline sc_core::sc_time CyclesFromEdge(const sc_core::sc_time& t,
                                       const sc_core::sc_time& period, uint64_t n) {
  const uint64_t rest = t.value() % period.value();
  const uint64_t toEdge = rest == 0 ? 0 : period.value() - rest;
  return TimeOfValue(toEdge + period.value() * n);
}

// Half a period, rounded to the kernel's resolution (533 ps gives 267 ps).
inline sc_core::sc_time HalfPeriod(const sc_core::sc_time& period) {
  return period * 0.5;
}

// Before a pulse starts: when the last one ended at this very instant, its idle
// value is not on the port yet, and an equal amount written now would merge the
// two pulses into one that a receiver sees once. A delta cycle lets it show.
template <typename PortVector, typename T>
void LetIdleShow(PortVector& ports, const T& idle) {
  for (auto& p : ports) {
    if (p.read() == idle) continue;
    sc_core::wait(sc_core::SC_ZERO_TIME);
    return;
  }
}

// A credit or token pulse: the amount now, the idle value half a period later.
// Must be called from a thread process; wake is the thread's own event.
template <typename Port, typename T>
void Pulse(Port& port, const T& amount, const T& idle, const sc_core::sc_time& period,
           OrderedEvent& wake) {
  if (port.read() != idle) sc_core::wait(sc_core::SC_ZERO_TIME); // as LetIdleShow
  port.write(amount);
  WaitFor(wake, HalfPeriod(period));
  port.write(idle);
}

// Pulse for methods: Start() writes the amount (a delta cycle later when the
// last pulse's idle value is not on the port yet, as Pulse), Step(), the method
// sensitive to wake, writes the idle value half a period later. While Busy()
// the owner ignores what would start the next one, as a thread inside Pulse
// does not see its trigger.
template <typename Port, typename T>
class PulseSteps {
public:
  PulseSteps(Port& port, const T& idle, OrderedEvent& wake) : port(port), idle(idle), wake(wake) {}
  bool Busy() const { return phase != Phase::Idle; }
  void Start(const T& value, const sc_core::sc_time& period) {
    amount = value;
    half = HalfPeriod(period);
    if (port.read() != idle) {
      phase = Phase::Showing;
      wake.notify(sc_core::SC_ZERO_TIME);
      return;
    }
    Raise();
  }
  void Step() {
    if (phase == Phase::Showing) {
      Raise();
    } else if (phase == Phase::High) {
      port.write(idle);
      phase = Phase::Idle;
    }
  }

private:
  void Raise() {
    port.write(amount);
    phase = Phase::High;
    wake.notify(half);
  }
  enum class Phase { Idle, Showing, High };
  Port& port;
  T idle;
  OrderedEvent& wake;
  T amount{};
  sc_core::sc_time half;
  Phase phase = Phase::Idle;
};

// Writes the idle value to every port of a vector (the end of a multi-lane pulse).
template <typename PortVector, typename T>
void WriteAll(PortVector& ports, const T& value) {
  for (auto& p : ports) p.write(value);
}

} // namespace Orvane::Internal::QUOR2

#endif
