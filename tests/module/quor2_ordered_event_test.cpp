// The model's order of same-instant work: events due at one instant wake their
// processes in rank order, whatever kind the processes are and whichever was
// notified first; of two pending times the earlier stands, as with sc_event.
#define SC_INCLUDE_DYNAMIC_PROCESSES
#include "support/scenario.h"

#include "quor2_ordered_event.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <vector>

using namespace Orvane::Internal::QUOR2;
using quortest::RunScenario;
using sc_core::SC_NS;
using sc_core::sc_time;

namespace {

// Four steps due at 10 ns, two methods and two threads, ranked 0..3 by the
// permutation given; each notes its name and the time when it runs.
class Steps : public sc_core::sc_module {
public:
  SC_HAS_PROCESS(Steps);
  Steps(sc_core::sc_module_name name, const std::vector<unsigned>& ranks)
      : sc_core::sc_module(name) {
    for (unsigned i = 0; i < 4; ++i) events[i].SetRank(RankOf(Stage::Link, 0, ranks[i]));
    SC_METHOD(MethodA);
    sensitive << events[0];
    dont_initialize();
    SC_THREAD(ThreadB);
    sensitive << events[1];
    SC_METHOD(MethodC);
    sensitive << events[2];
    dont_initialize();
    SC_THREAD(ThreadD);
    sensitive << events[3];
    SC_THREAD(Notify);
  }
  OrderedEvent events[4];
  std::vector<std::string> ran;

private:
  void Note(const char* who) { ran.push_back(std::string(who) + "@" + sc_core::sc_time_stamp().to_string()); }
  void MethodA() { Note("A"); }
  void ThreadB() { for (;;) { sc_core::wait(); Note("B"); } }
  void MethodC() { Note("C"); }
  void ThreadD() { for (;;) { sc_core::wait(); Note("D"); } }
  // Notified in an order of its own, with a later and an earlier time for A,
  // an earlier then a later one for C, a cancelled one for D's second.
  void Notify() {
    events[3].notify(sc_time(10, SC_NS));
    events[0].notify(sc_time(12, SC_NS));
    events[0].notify(sc_time(10, SC_NS));
    events[2].notify(sc_time(10, SC_NS));
    events[2].notify(sc_time(11, SC_NS));
    events[1].notify(sc_time(10, SC_NS));
    sc_core::wait(sc_time(15, SC_NS));
    events[3].notify(sc_time(5, SC_NS));
    events[3].cancel();
    events[1].notify(sc_core::SC_ZERO_TIME);
    events[1].notify(sc_time(1, SC_NS)); // the pending delta notification stands
  }
};

} // namespace

TEST(OrderedEvents, SameInstantStepsRunInRankOrderWhateverTheirKindAndNotifyOrder) {
  const std::vector<std::vector<unsigned>> orders = {{0, 1, 2, 3}, {3, 2, 1, 0}, {1, 3, 0, 2}, {2, 0, 3, 1}};
  for (const auto& ranks : orders) {
    EXPECT_EXIT(RunScenario([ranks] {
                  Steps steps("steps", ranks);
                  sc_core::sc_start(sc_time(30, SC_NS));
                  const char* names[4] = {"A", "B", "C", "D"};
                  std::vector<std::string> expected(4);
                  for (unsigned i = 0; i < 4; ++i) expected[ranks[i]] = std::string(names[i]) + "@10 ns";
                  expected.push_back("B@15 ns"); // the delta notification made at 15 ns
                  SCN_CHECK_EQ(steps.ran.size(), expected.size());
                  for (size_t k = 0; k < std::min(steps.ran.size(), expected.size()); ++k)
                    SCN_CHECK_EQ(steps.ran[k], expected[k]);
                }),
                ::testing::ExitedWithCode(0), "");
  }
}

namespace {

// Steps due at one instant, ranked in the order given: "M" a method, "T" a
// thread, "N" a method that at once notifies X, whose method W runs in turn.
// With runDirect the methods are declared with DueRuns, so the queue may run
// them itself: the order must be the one the kernel gives without it.
class DirectSteps : public sc_core::sc_module {
public:
  SC_HAS_PROCESS(DirectSteps);
  DirectSteps(sc_core::sc_module_name name, const std::string& kinds, bool runDirect)
      : sc_core::sc_module(name), kinds(kinds), events(kinds.size()), owners(kinds.size()) {
    for (unsigned i = 0; i < kinds.size(); ++i) {
      events[i].SetRank(RankOf(Stage::Link, 0, i));
      sc_core::sc_spawn_options options;
      options.set_sensitivity(&events[i]);
      if (kinds[i] == 'T') {
        sc_core::sc_spawn([this, i] { for (;;) { sc_core::wait(); Run(i); } }, nullptr, &options);
      } else {
        options.spawn_method();
        options.dont_initialize();
        sc_core::sc_spawn([this, i] { Run(i); }, nullptr, &options);
      }
    }
    for (unsigned i = 0; i < kinds.size(); ++i) {
      owners[i] = {this, i};
      if (runDirect && kinds[i] != 'T') events[i].DueRuns<&Owner::Run>(&owners[i]);
    }
    SC_METHOD(W);
    sensitive << x;
    dont_initialize();
    SC_THREAD(Notify);
  }
  std::string ran;

private:
  void Run(unsigned i) {
    ran += kinds[i] + std::to_string(i) + " ";
    if (kinds[i] == 'N') x.notify();
  }
  void W() { ran += "W "; }
  void Notify() {
    for (auto& e : events) e.notify(sc_time(10, SC_NS));
  }
  std::string kinds;
  std::vector<OrderedEvent> events;
  struct Owner {
    DirectSteps* steps;
    unsigned index;
    void Run() { steps->Run(index); }
  };
  std::vector<Owner> owners;
  OrderedEvent x;
};

} // namespace

TEST(OrderedEvents, MethodsTheQueueRunsItselfKeepTheKernelsOrder) {
  // A thread whose turn comes right after an immediate notification runs
  // before the method it woke; a method after it, after that method.
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"MMMM", "M0 M1 M2 M3 "},
      {"MNMTM", "M0 N1 W M2 T3 M4 "},
      {"MNTM", "M0 N1 T2 W M3 "},
      {"TNMM", "T0 N1 W M2 M3 "},
      {"NNT", "N0 W N1 T2 W "},
  };
  for (const auto& [kinds, expected] : cases) {
    for (bool runDirect : {false, true}) {
      EXPECT_EXIT(RunScenario([kinds = kinds, expected = expected, runDirect] {
                    DirectSteps steps("steps", kinds, runDirect);
                    sc_core::sc_start(sc_time(20, SC_NS));
                    SCN_CHECK_EQ(steps.ran, expected);
                  }),
                  ::testing::ExitedWithCode(0), "")
          << kinds << (runDirect ? " run directly" : " through the kernel");
    }
  }
}

namespace {

// Many events (several words of the queue's slots), ranked at random with
// repeats, some left unranked and one ranked only once the run is under way,
// notified at random with replacements and cancels. Every firing is noted and
// compared with a plain model of the order: due time, then rank, then the
// notification that stands first.
class ManySteps : public sc_core::sc_module {
public:
  SC_HAS_PROCESS(ManySteps);
  static constexpr unsigned kEvents = 150;
  ManySteps(sc_core::sc_module_name name, unsigned seed)
      : sc_core::sc_module(name), random(seed), events(kEvents), owners(kEvents), ranks(kEvents) {
    for (unsigned i = 0; i < kEvents; ++i) {
      ranks[i] = RankOf(Stage::Unranked, 0, 0);
      // The last two share a rank no other has; the last gets it late.
      if (i == kEvents - 2) ranks[i] = RankOf(Stage::Link, 0, 100);
      if (i < kEvents - 2 && random() % 8 != 0) ranks[i] = RankOf(Stage::Link, 0, random() % 100);
      if (i != kEvents - 1 && ranks[i] != RankOf(Stage::Unranked, 0, 0)) {
        events[i].SetRank(ranks[i]);
      }
      sc_core::sc_spawn_options options;
      options.set_sensitivity(&events[i]);
      options.spawn_method();
      options.dont_initialize();
      sc_core::sc_spawn([this, i] { Fired(i); }, nullptr, &options);
      owners[i] = {this, i};
      if (i % 2 == 0) events[i].DueRuns<&Owner::Run>(&owners[i]);
    }
    SC_THREAD(Notify);
  }
  std::vector<std::pair<uint64_t, unsigned>> fired, expected;

private:
  struct Owner {
    ManySteps* steps;
    unsigned index;
    void Run() { steps->Fired(index); }
  };
  struct Pending {
    uint64_t due = 0, seq = 0;
  };
  void Fired(unsigned i) { fired.emplace_back(sc_core::sc_time_stamp().value(), i); }
  // Notifies in rounds 10 ns apart, every firing of a round before the next.
  void Notify() {
    const uint64_t ns = sc_time(1, SC_NS).value();
    uint64_t seq = 0;
    for (unsigned round = 0; round < 40; ++round) {
      if (round == 5) {
        ranks[kEvents - 1] = RankOf(Stage::Link, 0, 100);
        events[kEvents - 1].SetRank(ranks[kEvents - 1]);
      }
      std::vector<Pending> pending(kEvents);
      const uint64_t now = sc_core::sc_time_stamp().value();
      for (unsigned n = 0; n < 200; ++n) {
        const unsigned i = random() % kEvents;
        if (random() % 10 == 0) {
          events[i].cancel();
          pending[i] = Pending{};
          continue;
        }
        const uint64_t delay = (1 + random() % 8) * ns;
        events[i].notify(sc_time::from_value(delay));
        if (pending[i].seq == 0 || now + delay < pending[i].due) pending[i] = Pending{now + delay, ++seq};
      }
      std::vector<std::tuple<uint64_t, uint64_t, uint64_t, unsigned>> order;
      for (unsigned i = 0; i < kEvents; ++i)
        if (pending[i].seq != 0) order.emplace_back(pending[i].due, ranks[i], pending[i].seq, i);
      std::sort(order.begin(), order.end());
      for (const auto& [due, rank, s, i] : order) expected.emplace_back(due, i);
      sc_core::wait(sc_time(10, SC_NS));
    }
  }
  std::mt19937 random;
  std::vector<OrderedEvent> events;
  std::vector<Owner> owners;
  std::vector<uint64_t> ranks;
};

} // namespace

TEST(OrderedEvents, ManyEventsRunInDueRankAndNotificationOrder) {
  for (unsigned seed : {1u, 2u, 3u}) {
    EXPECT_EXIT(RunScenario([seed] {
                  ManySteps steps("steps", seed);
                  sc_core::sc_start(sc_time(500, SC_NS));
                  SCN_CHECK_EQ(steps.fired.size(), steps.expected.size());
                  SCN_CHECK(steps.fired == steps.expected);
                }),
                ::testing::ExitedWithCode(0), "")
        << "seed " << seed;
  }
}
