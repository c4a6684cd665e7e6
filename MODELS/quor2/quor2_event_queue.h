// A drop-in for sc_core::sc_event_queue that keeps its due times as plain
// integers in a sorted deque, behind one ordered event (notified when a new
// earliest time arrives and again after each firing), so its firings keep the
// model's order of same-instant work. Most users post with a fixed delay,
// which always appends at the back.
//
// A timed firing takes its due time off the deque in the ordered queue's own
// step (OnDue), with no process of its own; only a firing in a delta cycle
// (a zero delay, or two entries due at one instant) takes one, FireDelta.
// Which of the two runs first, the queue's bookkeeping or the processes the
// firing wakes, does not change what those processes see: notify() compares
// only with the earliest entry still to come.
#ifndef QUOR2_EVENT_QUEUE_H
#define QUOR2_EVENT_QUEUE_H

#include "quor2_ordered_event.h"

#include <systemc>

#include <algorithm>
#include <cstdint>
#include <deque>

namespace Orvane::Internal::QUOR2 {

class EventQueue : public sc_core::sc_event_queue_if, public sc_core::sc_module {
public:
  SC_HAS_PROCESS(EventQueue);

  explicit EventQueue(sc_core::sc_module_name name = sc_core::sc_gen_unique_name("event_queue"))
      : sc_core::sc_module(name), fired("fired"), deltaFired("delta_fired") {
    SC_METHOD(FireDelta);
    sensitive << deltaFired;
    dont_initialize();
    fired.OnDue([](void* self) { static_cast<EventQueue*>(self)->TakeDue(); }, this);
    end_module();
  }

  const char* kind() const override { return "sc_event_queue"; }

  void notify(double when, sc_core::sc_time_unit base) override {
    notify(sc_core::sc_time(when, base));
  }

  void notify(const sc_core::sc_time& when) override {
    const uint64_t due = SimNow().value() + when.value();
    if (dueTimes.empty() || due < dueTimes.front()) Arm(when);
    if (dueTimes.empty() || due >= dueTimes.back())
      dueTimes.push_back(due);
    else
      dueTimes.insert(std::upper_bound(dueTimes.begin(), dueTimes.end(), due), due);
  }

  void cancel_all() override {
    dueTimes.clear();
    fired.cancel();
    deltaFired.cancel();
  }

  const sc_core::sc_event& default_event() const override { return fired; }
  OrderedEvent& Ordered() { return fired; }

private:
  void Arm(const sc_core::sc_time& when) {
    fired.notify(when);
    if (when == sc_core::SC_ZERO_TIME) deltaFired.notify(sc_core::SC_ZERO_TIME);
  }

  // The firing's own entry off the deque, and the event notified for the next.
  void TakeDue() {
    if (dueTimes.empty()) return;
    dueTimes.pop_front();
    if (!dueTimes.empty())
      Arm(TimeOfValue(dueTimes.front() - SimNow().value()));
  }

  void FireDelta() { TakeDue(); }

  std::deque<uint64_t> dueTimes;
  OrderedEvent fired;
  sc_core::sc_event deltaFired;
};

} // namespace Orvane::Internal::QUOR2

#endif
