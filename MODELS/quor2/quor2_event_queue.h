// A drop-in for sc_core::sc_event_queue that keeps its due times as plain
// integers in a sorted deque, behind one ordered event (notified when a new
// earliest time arrives and again after each firing), so its firings keep the
// model's order of same-instant work. Most users post with a fixed delay,
// which always appends at the back.
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
      : sc_core::sc_module(name), fired("fired") {
    SC_METHOD(FireEvent);
    sensitive << fired;
    dont_initialize();
    end_module();
  }

  const char* kind() const override { return "sc_event_queue"; }

  void notify(double when, sc_core::sc_time_unit base) override {
    notify(sc_core::sc_time(when, base));
  }

  void notify(const sc_core::sc_time& when) override {
    const uint64_t due = sc_core::sc_time_stamp().value() + when.value();
    if (dueTimes.empty() || due < dueTimes.front()) fired.notify(when);
    if (dueTimes.empty() || due >= dueTimes.back())
      dueTimes.push_back(due);
    else
      dueTimes.insert(std::upper_bound(dueTimes.begin(), dueTimes.end(), due), due);
  }

  void cancel_all() override {
    dueTimes.clear();
    fired.cancel();
  }

  const sc_core::sc_event& default_event() const override { return fired; }
  OrderedEvent& Ordered() { return fired; }

private:
  void FireEvent() {
    if (dueTimes.empty()) return;
    dueTimes.pop_front();
    if (!dueTimes.empty())
      fired.notify(sc_core::sc_time::from_value(dueTimes.front() - sc_core::sc_time_stamp().value()));
  }

  std::deque<uint64_t> dueTimes;
  OrderedEvent fired;
};

} // namespace Orvane::Internal::QUOR2

#endif
