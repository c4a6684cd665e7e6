#define SC_INCLUDE_DYNAMIC_PROCESSES
#include "quor2_ordered_event.h"

#include <algorithm>
#include <array>
#include <vector>

namespace Orvane::Internal::QUOR2 {

// The events given a rank before the run: the queue gives each a slot in rank
// order at the run's first timed notification (see OrderedEventQueue::FixSlots).
std::vector<OrderedEvent*>& RankedEvents() {
  static auto* events = new std::vector<OrderedEvent*>();
  return *events;
}
bool slotsFixed = false;

// The one queue of the model's timed notifications, behind one kernel event.
// Notifications are kept per due time: a notification is never due at the
// instant it is made, so an instant's set is complete when it comes up.
// The ranked events have slots in rank order, fixed when the run starts,
// and a due time keeps a bitset of slots: walked in slot order it is the rank
// order, with no sort. Events without a slot (unranked, or ranked later, or
// sharing a rank) are entries sorted by rank once per instant and merged in.
// Nothing is removed early: a cancelled or replaced notification is skipped
// when it comes up (its event is no longer pending for this time, or for an
// entry, its id no longer matches).
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
    if (!slotsFixed && sc_core::sc_is_running()) FixSlots();
    e.pendingId = ++lastId;
    e.pendingDue = due;
    Bucket& b = BucketFor(due);
    if (e.slot >= 0) {
      const auto word = static_cast<uint32_t>(e.slot >> 6);
      b.bits[word] |= uint64_t{1} << (e.slot & 63);
      if (word < b.lo) b.lo = word;
      if (word > b.hi || b.hi == kNone) b.hi = word;
    } else {
      b.others.push_back(Entry{e.rank, e.pendingId, &e});
    }
    // Inside the chain of steps the kernel event is armed once, at its end.
    if (!stepping && (armedAt == 0 || due < armedAt)) Arm(due);
  }

  // An event going away: it must not be met in a bitset again.
  void Forget(const OrderedEvent& e) {
    if (e.slot >= 0) slotEvents[e.slot] = nullptr;
  }

private:
  static constexpr uint32_t kNone = ~uint32_t{0};
  struct Entry {
    uint64_t rank;
    uint64_t id;
    OrderedEvent* event;
    // The lowest rank first, then the first posted.
    bool operator<(const Entry& o) const { return rank != o.rank ? rank < o.rank : id < o.id; }
  };
  struct Bucket {
    std::vector<uint64_t> bits; // one bit per slot
    uint32_t lo = kNone, hi = kNone; // the words that may hold a bit
    std::vector<Entry> others;
  };

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

  // Slots in rank order for the events ranked so far; an event that shares its
  // rank with another gets none, so the order of posting still decides between
  // them.
  void FixSlots() {
    slotsFixed = true;
    std::vector<OrderedEvent*>& events = RankedEvents();
    std::sort(events.begin(), events.end(),
              [](const OrderedEvent* a, const OrderedEvent* b) { return a->rank < b->rank; });
    for (std::size_t i = 0; i < events.size(); ++i) {
      const bool shared = (i > 0 && events[i - 1]->rank == events[i]->rank) ||
                          (i + 1 < events.size() && events[i + 1]->rank == events[i]->rank);
      if (shared) continue;
      events[i]->slot = static_cast<int64_t>(slotEvents.size());
      slotEvents.push_back(events[i]);
    }
    events.clear();
    events.shrink_to_fit();
    words = static_cast<uint32_t>(slotEvents.size() / 64 + 1);
    for (Bucket& b : buckets) b.bits.resize(words, 0); // those made before
  }

  // The bucket of a due time, made when it is the first notification for it.
  // Runs of notifications mostly share a due time (one clock period ahead),
  // and only a few due times are pending at once, so a sorted vector serves.
  Bucket& BucketFor(uint64_t due) {
    Recent& recent = recentDues[RecentSlot(due)];
    if (recent.due == due) return buckets[recent.bucket];
    // Latest first: the earliest due time is at the back, and most
    // notifications are due within a few periods, so the search starts there.
    auto at = dues.end();
    while (at != dues.begin() && (at - 1)->due <= due) --at;
    uint32_t index;
    if (at != dues.end() && at->due == due) {
      index = at->bucket;
    } else {
      if (spare.empty()) {
        index = static_cast<uint32_t>(buckets.size());
        buckets.emplace_back();
        buckets.back().bits.assign(words, 0);
      } else {
        index = spare.back();
        spare.pop_back();
      }
      dues.insert(at, Due{due, index});
    }
    recent = Recent{due, index};
    return buckets[index];
  }

  void Arm(uint64_t due) {
    armedAt = due;
    wake.notify(TimeOfValue(due - SimNow().value()));
  }

  static bool Stale(const Entry& e) { return e.event->pendingId != e.id; }
  static bool PendingAt(const OrderedEvent* e, uint64_t due) {
    return e != nullptr && e->pendingId != 0 && e->pendingDue == due;
  }

  void Fire() {
    armedAt = 0;
    stepping = true;
    Step(true);
  }

  // The earliest bucket (frontBucket), when it is due now, its walk begun.
  bool DueNow() {
    if (!inInstant) {
      if (dues.empty() || dues.back().due > SimNow().value()) return false;
      inInstant = true;
      frontBucket = dues.back().bucket;
      Bucket& b = buckets[frontBucket];
      std::sort(b.others.begin(), b.others.end());
      position = 0;
      word = b.lo;
      bitsLeft = b.lo == kNone ? 0 : b.bits[b.lo];
    }
    return true;
  }

  // The slot the walk of the front bucket meets next, or -1.
  int64_t PeekSlot() {
    const Bucket& b = buckets[frontBucket];
    while (bitsLeft == 0) {
      if (word == kNone || word >= b.hi) return -1;
      bitsLeft = b.bits[++word];
    }
    return (int64_t{word} << 6) | __builtin_ctzll(bitsLeft);
  }

  // The next event of the front bucket in rank order (pending or not), or null.
  OrderedEvent* TakeNext(bool& live) {
    const Bucket& b = buckets[frontBucket];
    const int64_t slot = PeekSlot();
    const bool haveEntry = position < b.others.size();
    if (slot < 0 && !haveEntry) return nullptr;
    OrderedEvent* fromSlot = slot < 0 ? nullptr : slotEvents[slot];
    bool takeSlot = slot >= 0;
    if (takeSlot && haveEntry) {
      const Entry& e = b.others[position];
      const uint64_t rank = SlotRank(slot);
      takeSlot = rank != e.rank ? rank < e.rank
                                : fromSlot == nullptr || fromSlot->pendingId < e.id;
    }
    if (takeSlot) {
      bitsLeft &= bitsLeft - 1;
      live = PendingAt(fromSlot, dues.back().due);
      return fromSlot;
    }
    const Entry e = b.others[position++];
    live = !Stale(e);
    return e.event;
  }

  uint64_t SlotRank(int64_t slot) const {
    return slotEvents[slot] != nullptr ? slotEvents[slot]->rank : 0;
  }

  void DropFront() {
    Bucket& b = buckets[dues.back().bucket];
    if (b.lo != kNone)
      std::fill(b.bits.begin() + b.lo, b.bits.begin() + b.hi + 1, 0);
    b.lo = b.hi = kNone;
    b.others.clear();
    spare.push_back(dues.back().bucket);
    Recent& recent = recentDues[RecentSlot(dues.back().due)];
    if (recent.due == dues.back().due) recent.due = 0;
    dues.pop_back();
  }

  bool AnyPending(const Bucket& b, uint64_t due) const {
    if (std::any_of(b.others.begin(), b.others.end(), [](const Entry& e) { return !Stale(e); }))
      return true;
    if (b.lo == kNone) return false;
    for (uint32_t w = b.lo; w <= b.hi; ++w)
      for (uint64_t bits = b.bits[w]; bits != 0; bits &= bits - 1)
        if (PendingAt(slotEvents[(uint64_t{w} << 6) | __builtin_ctzll(bits)], due)) return true;
    return false;
  }

  // Arms the kernel event for the earliest time that still has a notification.
  void ArmNext() {
    stepping = false;
    while (!dues.empty()) {
      if (AnyPending(buckets[dues.back().bucket], dues.back().due)) {
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
    // A method run here may add buckets for later times, which can move this
    // one: it is looked up by index each time.
    while (DueNow()) {
      bool live = false;
      while (OrderedEvent* taken = TakeNext(live)) {
        if (!live) continue;
        OrderedEvent& event = *taken;
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
  std::vector<OrderedEvent*> slotEvents; // by slot; null once an event is gone
  uint32_t words = 1; // of a bucket's bitset
  // The due times that have a bucket, latest first, and their buckets.
  struct Due {
    uint64_t due;
    uint32_t bucket;
  };
  std::vector<Due> dues;
  std::vector<Bucket> buckets;
  std::vector<uint32_t> spare; // buckets not in use
  // The buckets of due times met lately, by a hash of the time: notifications
  // come for a handful of times (flit periods and core cycles ahead) in turn.
  struct Recent {
    uint64_t due = 0; // 0: none (nothing is due at time 0)
    uint32_t bucket = 0;
  };
  std::array<Recent, 16> recentDues{};
  static unsigned RecentSlot(uint64_t due) {
    return static_cast<unsigned>((due * 0x9E3779B97F4A7C15ull) >> 60);
  }
  uint32_t frontBucket = 0;
  bool inInstant = false; // the front bucket is due now and its walk begun
  std::size_t position = 0; // its next entry
  uint32_t word = kNone; // the word of its bitset being walked
  uint64_t bitsLeft = 0; // the bits of that word not yet taken
  uint64_t lastId = 0;
  uint64_t armedAt = 0; // 0: the kernel event is not pending
  bool stepping = false; // a chain of steps is under way: it arms the kernel event when done
  uint64_t workAtHandOn = 0; // immediateWork when a step last handed on
};

OrderedEvent::~OrderedEvent() {
  if (slot >= 0) OrderedEventQueue::Get().Forget(*this);
  if (ranked && !slotsFixed) {
    auto& events = RankedEvents();
    events.erase(std::remove(events.begin(), events.end(), this), events.end());
  }
}

void OrderedEvent::SetRank(uint64_t r) {
  rank = r;
  if (!ranked && !slotsFixed) {
    ranked = true;
    RankedEvents().push_back(this);
  }
}

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
  if (deltaPendingIn != 0 && deltaPendingIn == sc_core::sc_delta_count() + 1) return;
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
