#define SC_INCLUDE_DYNAMIC_PROCESSES
#include "quor2_ordered_event.h"

#include <algorithm>
#include <vector>

namespace Orvane::Internal::QUOR2 {

// The one queue of the model's timed notifications, behind one kernel event.
// Notifications are kept per due time: a notification is never due at the
// instant it is made, so an instant's set is complete when it comes up and is
// sorted once by rank then. Entries are never removed early: a cancelled or
// replaced notification leaves a stale entry that is skipped when it comes up
// (its id no longer matches).
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
    BucketFor(due).push_back(Entry{e.rank, e.pendingId, &e});
    // Inside the chain of steps the kernel event is armed once, at its end.
    if (!stepping && (armedAt == 0 || due < armedAt)) Arm(due);
  }

private:
  struct Entry {
    uint64_t rank;
    uint64_t id;
    OrderedEvent* event;
    // The lowest rank first, then the first posted.
    bool operator<(const Entry& o) const { return rank != o.rank ? rank < o.rank : id < o.id; }
  };
  using Bucket = std::vector<Entry>;

  OrderedEventQueue() {
    Spawn([this] { Fire(); }, wake, "quor2_ordered_events");
    Spawn([this] { Step(false); }, next[0], "quor2_ordered_events_a");
    Spawn([this] { Step(false); }, next[1], "quor2_ordered_events_b");
  }

  template <typename F>
  static void Spawn(F body, sc_core::sc_event& on, const char* name) {
    sc_core::sc_spawn_options options;
    options.spawn_method();
    options.set_sensitivity(&on);
    options.dont_initialize();
    sc_core::sc_spawn(body, name, &options);
  }

  // The bucket of a due time, made when it is the first notification for it.
  // Runs of notifications mostly share a due time (one clock period ahead),
  // and only a few due times are pending at once, so a sorted vector serves.
  Bucket& BucketFor(uint64_t due) {
    if (due == lastDue) return buckets[lastBucket];
    // Latest first: the earliest due time is at the back.
    auto at = std::lower_bound(dues.begin(), dues.end(), due,
                               [](const Due& d, uint64_t t) { return d.due > t; });
    uint32_t index;
    if (at != dues.end() && at->due == due) {
      index = at->bucket;
    } else {
      if (spare.empty()) {
        index = static_cast<uint32_t>(buckets.size());
        buckets.emplace_back();
      } else {
        index = spare.back();
        spare.pop_back();
      }
      dues.insert(at, Due{due, index});
    }
    lastDue = due;
    lastBucket = index;
    return buckets[index];
  }

  void Arm(uint64_t due) {
    armedAt = due;
    wake.notify(TimeOfValue(due - SimNow().value()));
  }

  static bool Stale(const Entry& e) { return e.event->pendingId != e.id; }

  void Fire() {
    armedAt = 0;
    stepping = true;
    Step(true);
  }

  // The earliest bucket (frontBucket), when it is due now, sorted by rank on
  // first use.
  Bucket* DueNow() {
    if (!inInstant) {
      if (dues.empty() || dues.back().due > SimNow().value()) return nullptr;
      inInstant = true;
      frontBucket = dues.back().bucket;
      std::sort(buckets[frontBucket].begin(), buckets[frontBucket].end());
      position = 0;
    }
    return &buckets[frontBucket];
  }

  void DropFront() {
    const uint32_t index = dues.back().bucket;
    buckets[index].clear();
    spare.push_back(index);
    if (lastDue == dues.back().due) lastDue = 0;
    dues.pop_back();
  }

  // Arms the kernel event for the earliest time that still has a notification.
  void ArmNext() {
    stepping = false;
    while (!dues.empty()) {
      const Bucket& b = buckets[dues.back().bucket];
      if (std::any_of(b.begin(), b.end(), [](const Entry& e) { return !Stale(e); })) {
        Arm(dues.back().due);
        return;
      }
      DropFront();
    }
  }

  // The next event due now, notified at once, and after it one of the two step
  // methods again. The kernel runs the processes an immediate notification
  // wakes before a method notified after them, whether they are methods or
  // threads; so each event's processes have run before the next event is
  // notified, and the order is the rank order whatever kinds the processes
  // are. (Two step methods: a method cannot wake itself.)
  //
  // An event whose one process is a method (DueRuns) needs no turn of its own
  // while nothing else is waiting to run: the method would run next, and the
  // step after it, so the step runs it itself and goes on. As soon as a method
  // run so has made a process runnable (NoteImmediateWork), or when the step
  // starts with processes made runnable since it handed on, the kernel's turns
  // take over again, in the same order.
  void Step(bool fromWake) {
    bool alone = fromWake || immediateWork == workAtHandOn;
    // The bucket is looked up again for each entry: a method run here may
    // add buckets for later times, which can move this one.
    while (DueNow() != nullptr) {
      while (position < buckets[frontBucket].size()) {
        const Entry e = buckets[frontBucket][position++];
        if (Stale(e)) continue;
        OrderedEvent& event = *e.event;
        event.pendingId = 0;
        if (alone && event.runs != nullptr) {
          const uint64_t before = immediateWork;
          if (event.onDue != nullptr) event.onDue(event.onDueArg);
          event.runs(event.runsArg);
          alone = immediateWork == before;
          continue;
        }
        event.sc_core::sc_event::notify();
        if (event.onDue != nullptr) event.onDue(event.onDueArg);
        next[nextStep].notify();
        nextStep ^= 1;
        workAtHandOn = immediateWork;
        return;
      }
      DropFront();
      inInstant = false;
    }
    ArmNext();
  }

  sc_core::sc_event wake{"quor2_ordered_events_wake"};
  sc_core::sc_event next[2] = {sc_core::sc_event("quor2_ordered_events_next_a"),
                               sc_core::sc_event("quor2_ordered_events_next_b")};
  unsigned nextStep = 0;
  // The due times that have a bucket, latest first, and their buckets.
  struct Due {
    uint64_t due;
    uint32_t bucket;
  };
  std::vector<Due> dues;
  std::vector<Bucket> buckets;
  std::vector<uint32_t> spare; // buckets not in use
  uint64_t lastDue = 0; // the last bucket found (0: none; nothing is due at time 0)
  uint32_t lastBucket = 0;
  uint32_t frontBucket = 0;
  bool inInstant = false; // the front bucket is due now and sorted
  std::size_t position = 0; // its next entry
  uint64_t lastId = 0;
  uint64_t armedAt = 0; // 0: the kernel event is not pending
  bool stepping = false; // a chain of steps is under way: it arms the kernel event when done
  uint64_t workAtHandOn = 0; // immediateWork when a step last handed on
};

void OrderedEvent::notify() {
  NoteImmediateWork();
  pendingId = 0;
  deltaPendingIn = 0;
  sc_core::sc_event::notify();
}

void OrderedEvent::NotifyLater(const sc_core::sc_time& delay) {
  if (delay == sc_core::SC_ZERO_TIME) {
    pendingId = 0;
    deltaPendingIn = sc_core::sc_delta_count() + 1;
    sc_core::sc_event::notify(sc_core::SC_ZERO_TIME);
    return;
  }
  // A delta notification still pending is earlier than any timed one.
  if (deltaPendingIn == sc_core::sc_delta_count() + 1) return;
  OrderedEventQueue::Get().Post(*this, SimNow().value() + delay.value());
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
  const uint64_t now = SimNow().value();
  if (now > firstEdge) return WaitNext();
  // At the edge itself one delta cycle, as a clocked thread's first start.
  if (now == firstEdge) return sc_core::wait(sc_core::SC_ZERO_TIME);
  WaitFor(tick, TimeOfValue(firstEdge - now));
}

void ClockTicks::WaitNext() {
  if (!FindClock()) return sc_core::wait(clk.posedge_event());
  const uint64_t now = SimNow().value();
  uint64_t next = firstEdge;
  if (now >= firstEdge) next = firstEdge + ((now - firstEdge) / period + 1) * period;
  WaitFor(tick, TimeOfValue(next - now));
}

} // namespace Orvane::Internal::QUOR2
