// Timed notifications in an order of the model's own.
//
// The kernel runs processes due at one instant in an order it picks itself (for
// timed notifications, the shape of its heap), and any other process of the
// host changes that order. Every timed notification and timed wait of the model
// therefore goes through one queue ordered by (due time, rank): at each instant
// the events due are notified at once, in rank order, so the model's processes
// run in the same order whatever else the host runs.
// A rank says where the event's module stands in the pipeline, which instance
// it is and which of the module's events (see docs/model-timing.md).
#ifndef QUOR2_ORDERED_EVENT_H
#define QUOR2_ORDERED_EVENT_H

#include <systemc>

#include <cstdint>
#include <cstring>
#include <initializer_list>

namespace Orvane::Internal::QUOR2 {

// Where a module stands, the first key of a rank after the due time: from the
// banks back to the sources, downstream first (see docs/model-timing.md).
enum class Stage : uint64_t {
  Bank,
  Vault,
  VaultController,
  VaultSwitch,
  LinkSwitch,
  Link,
  HostController,
  Source,
  Unranked
};

constexpr uint64_t RankOf(Stage stage, uint64_t instance, uint64_t ordinal) {
  return (static_cast<uint64_t>(stage) << 48) | ((instance & 0xffffffu) << 24) | (ordinal & 0xffffffu);
}

// The kernel's current time without a call into its library each time: the
// kernel keeps it in one member for the whole run, and sc_time_stamp() hands
// out a reference to it.
inline const sc_core::sc_time* simNow = nullptr;
inline const sc_core::sc_time& SimNow() {
  if (simNow == nullptr) simNow = &sc_core::sc_time_stamp();
  return *simNow;
}

// sc_time::from_value without its call into the kernel library, on every
// notification's path: an sc_time is its count of resolution units and nothing
// else, and the model's own times have fixed the resolution before any run.
inline sc_core::sc_time TimeOfValue(uint64_t value) {
  static_assert(sizeof(sc_core::sc_time) == sizeof(uint64_t));
  sc_core::sc_time t;
  std::memcpy(static_cast<void*>(&t), &value, sizeof value);
  return t;
}

// Counts the model's immediate notifications and its calls out to a host, the
// ways it makes a process runnable at once: the ordered queue runs a method
// directly only while no other process is waiting to run (see Step).
inline uint64_t immediateWork = 0;
inline void NoteImmediateWork() { ++immediateWork; }

// An sc_event whose timed notifications are ordered by rank. Static
// sensitivity, wait() and event lists take it as the sc_event it is; only its
// own notify() and cancel() must be used (not sc_event's, through a base
// reference), or a notification would escape the order.
class OrderedEvent : public sc_core::sc_event {
public:
  OrderedEvent() = default;
  explicit OrderedEvent(const char* name) : sc_core::sc_event(name) {}
  ~OrderedEvent();
  OrderedEvent(const OrderedEvent&) = delete;
  OrderedEvent& operator=(const OrderedEvent&) = delete;

  // Immediate: as sc_event, drops a pending notification and triggers now.
  void notify();
  // Zero: a delta notification, as sc_event. Later: at now + delay in rank
  // order; as with sc_event, of two pending times the earlier one stands.
  void notify(const sc_core::sc_time& delay) {
    // Most notifications find one pending at the same or an earlier time.
    if (pendingId != 0 && delay.value() != 0 && pendingDue <= SimNow().value() + delay.value()) return;
    NotifyLater(delay);
  }
  void cancel();

  void SetRank(uint64_t r);
  // Declares Method of owner the one process sensitive to this event, a method
  // process (it must not be sensitive to anything else that fires at the same
  // instants, nothing may wait on the event, and the method must not ask
  // whether the event triggered: run so, it did not). When a timed notification
  // comes due and no other process of the model is waiting to run, the queue
  // then runs the method itself, where the kernel would have run it next.
  // Immediate and delta notifications still wake the method process.
  template <auto Method, typename T>
  void DueRuns(T* owner) {
    runs = [](void* o) { (static_cast<T*>(o)->*Method)(); };
    runsArg = owner;
  }
  // Called each time a timed notification comes due, just after the event is
  // notified (so before any process it wakes has run).
  void OnDue(void (*hook)(void*), void* arg) {
    onDue = hook;
    onDueArg = arg;
  }
  uint64_t Rank() const { return rank; }

private:
  friend class OrderedEventQueue;
  void NotifyLater(const sc_core::sc_time& delay);
  uint64_t rank = RankOf(Stage::Unranked, 0, 0);
  int64_t slot = -1; // its place among the ranked events, once the queue has fixed them
  bool ranked = false; // listed for a slot
  uint64_t pendingId = 0; // 0: nothing pending in the queue
  uint64_t pendingDue = 0;
  uint64_t deltaPendingIn = 0; // the delta cycle a pending delta notification fires in
  void (*onDue)(void*) = nullptr;
  void* onDueArg = nullptr;
  void (*runs)(void*) = nullptr;
  void* runsArg = nullptr;
};

// Gives the events of one module their ranks, in the order listed.
void AssignRanks(Stage stage, uint64_t instance, std::initializer_list<OrderedEvent*> events);

// wait(delay) for a thread, through the order: wake is the thread's own event.
void WaitFor(OrderedEvent& wake, const sc_core::sc_time& delay);

// wait(delay, other) for a thread: whichever comes first.
void WaitForOr(OrderedEvent& wake, const sc_core::sc_time& delay, const sc_core::sc_event& other);

// The rising edges of a source's clock, taken from the sc_clock bound to its
// port and met through the order; a port bound to anything else is waited on
// directly.
class ClockTicks {
public:
  explicit ClockTicks(sc_core::sc_in<bool>& clk) : clk(clk) {}
  // The first rising edge at or after now, as a clocked thread's first start.
  void WaitFirst();
  // The next rising edge after now.
  void WaitNext();
  OrderedEvent& Event() { return tick; }

private:
  bool FindClock();
  sc_core::sc_in<bool>& clk;
  OrderedEvent tick;
  bool looked = false;
  bool periodic = false;
  uint64_t firstEdge = 0;
  uint64_t period = 0;
};

} // namespace Orvane::Internal::QUOR2

#endif
