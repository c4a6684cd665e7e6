#define SC_INCLUDE_DYNAMIC_PROCESSES
#include "quor2_ordered_event.h"

#include <queue>
#include <vector>

namespace Orvane::Internal::QUOR2 {

// The one queue of the model's timed notifications, behind one kernel event.
// Entries are never removed early: a cancelled or replaced notification leaves
// a stale entry that is skipped when it comes up (its id no longer matches).
class OrderedEventQueue {
public:
  static OrderedEventQueue& Get() {
    // Never destroyed: the kernel may outlive any static destructor order.
    static OrderedEventQueue* queue = new OrderedEventQueue();
    return *queue;
  }

  void Post(OrderedEvent& e, uint64_t due) {
    if (e.pendingId != 0) {
      if (e.pendingDue <= due) return;
      e.pendingId = 0; // the earlier time replaces it
    }
    e.pendingId = ++lastId;
    e.pendingDue = due;
    entries.push(Entry{due, e.rank, e.pendingId, &e});
    if (armedAt == 0 || due < armedAt) Arm(due);
  }

private:
  struct Entry {
    uint64_t due;
    uint64_t rank;
    uint64_t id;
    OrderedEvent* event;
    // std::priority_queue keeps the greatest on top: the earliest due, then
    // the lowest rank, then the first posted.
    bool operator<(const Entry& o) const {
      if (due != o.due) return due > o.due;
      if (rank != o.rank) return rank > o.rank;
      return id > o.id;
    }
  };

  OrderedEventQueue() {
    Spawn([this] { Fire(); }, wake, "quor2_ordered_events");
    Spawn([this] { Step(); }, next[0], "quor2_ordered_events_a");
    Spawn([this] { Step(); }, next[1], "quor2_ordered_events_b");
  }

  template <typename F>
  static void Spawn(F body, sc_core::sc_event& on, const char* name) {
    sc_core::sc_spawn_options options;
    options.spawn_method();
    options.set_sensitivity(&on);
    options.dont_initialize();
    sc_core::sc_spawn(body, name, &options);
  }

  void Arm(uint64_t due) {
    armedAt = due;
    wake.notify(sc_core::sc_time::from_value(due - sc_core::sc_time_stamp().value()));
  }

  static bool Stale(const Entry& e) { return e.event->pendingId != e.id; }

  void Fire() {
    armedAt = 0;
    Step();
  }

  // The next event due now, notified at once, and after it one of the two step
  // methods again. The kernel runs the processes an immediate notification
  // wakes before a method notified after them, whether they are methods or
  // threads; so each event's processes have run before the next event is
  // notified, and the order is the rank order whatever kinds the processes
  // are. (Two step methods: a method cannot wake itself.)
  void Step() {
    const uint64_t now = sc_core::sc_time_stamp().value();
    while (!entries.empty() && entries.top().due <= now) {
      const Entry e = entries.top();
      entries.pop();
      if (Stale(e)) continue;
      e.event->pendingId = 0;
      e.event->sc_core::sc_event::notify();
      next[nextStep].notify();
      nextStep ^= 1;
      return;
    }
    while (!entries.empty() && Stale(entries.top())) entries.pop();
    if (!entries.empty()) Arm(entries.top().due);
  }

  sc_core::sc_event wake{"quor2_ordered_events_wake"};
  sc_core::sc_event next[2] = {sc_core::sc_event("quor2_ordered_events_next_a"),
                               sc_core::sc_event("quor2_ordered_events_next_b")};
  unsigned nextStep = 0;
  std::priority_queue<Entry> entries;
  uint64_t lastId = 0;
  uint64_t armedAt = 0; // 0: the kernel event is not pending
};

void OrderedEvent::notify() {
  pendingId = 0;
  deltaPendingIn = 0;
  sc_core::sc_event::notify();
}

void OrderedEvent::notify(const sc_core::sc_time& delay) {
  if (delay == sc_core::SC_ZERO_TIME) {
    pendingId = 0;
    deltaPendingIn = sc_core::sc_delta_count() + 1;
    sc_core::sc_event::notify(sc_core::SC_ZERO_TIME);
    return;
  }
  // A delta notification still pending is earlier than any timed one.
  if (deltaPendingIn == sc_core::sc_delta_count() + 1) return;
  OrderedEventQueue::Get().Post(*this, sc_core::sc_time_stamp().value() + delay.value());
}

void OrderedEvent::cancel() {
  pendingId = 0;
  deltaPendingIn = 0;
  sc_core::sc_event::cancel();
}

void AssignRanks(Stage stage, uint64_t instance, std::initializer_list<OrderedEvent*> events) {
  uint64_t ordinal = 0;
  for (OrderedEvent* e : events) e->SetRank(RankOf(stage, instance, ordinal++));
}

void WaitFor(OrderedEvent& wake, const sc_core::sc_time& delay) {
  if (delay == sc_core::SC_ZERO_TIME) {
    sc_core::wait(sc_core::SC_ZERO_TIME);
    return;
  }
  wake.notify(delay);
  sc_core::wait(wake);
}

void WaitForOr(OrderedEvent& wake, const sc_core::sc_time& delay, const sc_core::sc_event& other) {
  wake.notify(delay);
  sc_core::wait(wake | other);
  wake.cancel();
}

bool ClockTicks::FindClock() {
  if (looked) return periodic;
  looked = true;
  auto* clock = dynamic_cast<sc_core::sc_clock*>(clk.get_interface());
  if (clock == nullptr) return periodic = false;
  period = clock->period().value();
  const sc_core::sc_time low = clock->period() - clock->period() * clock->duty_cycle();
  firstEdge = (clock->posedge_first() ? clock->start_time() : clock->start_time() + low).value();
  return periodic = period != 0;
}

void ClockTicks::WaitFirst() {
  if (!FindClock()) return sc_core::wait(clk.posedge_event());
  const uint64_t now = sc_core::sc_time_stamp().value();
  if (now > firstEdge) return WaitNext();
  // At the edge itself one delta cycle, as a clocked thread's first start.
  if (now == firstEdge) return sc_core::wait(sc_core::SC_ZERO_TIME);
  WaitFor(tick, sc_core::sc_time::from_value(firstEdge - now));
}

void ClockTicks::WaitNext() {
  if (!FindClock()) return sc_core::wait(clk.posedge_event());
  const uint64_t now = sc_core::sc_time_stamp().value();
  uint64_t next = firstEdge;
  if (now >= firstEdge) next = firstEdge + ((now - firstEdge) / period + 1) * period;
  WaitFor(tick, sc_core::sc_time::from_value(next - now));
}

} // namespace Orvane::Internal::QUOR2
