// One link between a host double, a link switch double and a vault switch
// double. Every simulation runs in a child process (one elaboration each).
#include "doubles/link_doubles.h"
#include "support/scenario.h"

#include "quor2_clock.h"
#include "quor2_link.h"

#include <gtest/gtest.h>

#include <csignal>
#include <initializer_list>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

using namespace Orvane::Internal::QUOR2;
using quortest::LinkBench;
using quortest::MakeFlit;
using quortest::MakeLinkBench;
using quortest::MakeNullFlit;
using quortest::MakePacket;
using quortest::MakeTokenReturn;
using quortest::RunScenario;
using quortest::SeenFlit;
using sc_core::sc_time;

namespace {

sc_time Ps(uint64_t v) { return sc_time(static_cast<double>(v), sc_core::SC_PS); }

// The regular expression that matches the given lines literally, each ended by
// an end of line.
std::string Lines(std::initializer_list<std::string> lines) {
  std::string re;
  for (const std::string& line : lines) {
    for (char c : line) {
      if (std::string("\\.[](){}*+?^$|").find(c) != std::string::npos) re += '\\';
      re += c;
    }
    re += '\n';
  }
  return re;
}

// Standard output captured inside a scenario; Stop() gives it back before checks
// (whose failure lines go to standard output too).
class CoutCapture {
public:
  CoutCapture() : old(std::cout.rdbuf(buffer.rdbuf())) {}
  ~CoutCapture() { Stop(); }
  std::string Stop() {
    if (old) std::cout.rdbuf(old);
    old = nullptr;
    return buffer.str();
  }

private:
  std::ostringstream buffer;
  std::streambuf* old;
};

// Host flits one flit period apart, the first at one flit period.
void SendAtRate(LinkBench& b, const std::vector<Flit*>& flits, uint64_t firstPs = 533,
                uint64_t gapPs = 533) {
  uint64_t t = firstPs;
  for (Flit* f : flits) {
    b.host.At(Ps(t), f);
    t += gapPs;
  }
}

std::vector<Flit*> Concat(std::initializer_list<std::vector<Flit*>> parts) {
  std::vector<Flit*> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

void CheckSeen(const SeenFlit& s, uint64_t atPs, unsigned lane, uint32_t tag, uint32_t number,
               const char* file, int line) {
  std::ostringstream where;
  where << " (flit tag " << s.tag << " #" << s.flitNumber << " at " << s.at << ", from " << file
        << ":" << line << ")";
  if (s.at != Ps(atPs)) quortest::ReportFailure("time " + std::to_string(atPs) + where.str(), file, line);
  if (s.lane != lane) quortest::ReportFailure("lane " + std::to_string(lane) + where.str(), file, line);
  if (s.tag != tag) quortest::ReportFailure("tag " + std::to_string(tag) + where.str(), file, line);
  if (s.flitNumber != number)
    quortest::ReportFailure("flit number " + std::to_string(number) + where.str(), file, line);
}
#define CHECK_SEEN(s, at, lane, tag, number) CheckSeen((s), (at), (lane), (tag), (number), __FILE__, __LINE__)

// Runs a request-link scenario that must abort with the given lines.
void ExpectAbort(const std::function<void(LinkBench&)>& script, const std::string& regex,
                 const std::function<void(Config&)>& tweak = {}) {
  EXPECT_EXIT(RunScenario([&] {
                LinkBench& b = MakeLinkBench(tweak);
                script(b);
                sc_core::sc_start(Ps(100000));
              }),
              ::testing::KilledBySignal(SIGABRT), regex);
}

const std::string kFlit = "           Flit : ";

} // namespace

// ---------------------------------------------------------------------------
// Plain rules

TEST(LinkRules, FlitPeriodFromWidthAndSpeed) {
  EXPECT_EQ(LinkFlitPeriod(16, 16, 15.0f), Ps(533));
  EXPECT_EQ(LinkFlitPeriod(16, 16, 12.5f), Ps(640));
  EXPECT_EQ(LinkFlitPeriod(16, 16, 10.0f), Ps(800));
  EXPECT_EQ(LinkFlitPeriod(16, 8, 15.0f), Ps(1067));
  EXPECT_EQ(LinkFlitPeriod(16, 8, 10.0f), Ps(1600));
}

TEST(LinkRules, RatioJustAboveAWholeNumberRoundsDown) {
  EXPECT_EQ(FlitsPerCoreCycle(2.5), 3u);
  EXPECT_EQ(FlitsPerCoreCycle(2.03), 2u);            // ceil - ratio = 0.97 > 0.95
  EXPECT_EQ(FlitsPerCoreCycle(2.06), 3u);            // 0.94: rounded up
  EXPECT_EQ(FlitsPerCoreCycle(1600.0 / 533.0), 3u);  // the default link
  EXPECT_EQ(FlitsPerCoreCycle(3.0), 3u);
  EXPECT_EQ(FlitsPerCoreCycle(1.0), 1u);
}

TEST(LinkRules, ConsecutiveBlocksGoToConsecutiveVaults) {
  const unsigned shift = Orvane::Internal::QUOR2::log2(uint64_t{128});
  EXPECT_EQ(VaultOfAddress(0x7F, shift, 16), 0u);
  EXPECT_EQ(VaultOfAddress(0x80, shift, 16), 1u);
  EXPECT_EQ(VaultOfAddress(0x780, shift, 16), 15u);
  EXPECT_EQ(VaultOfAddress(0x800, shift, 16), 0u);  // wraps after NUM_VAULTS blocks
  EXPECT_EQ(VaultOfAddress(0x7FFFFFFF, shift, 16), 15u);
  EXPECT_EQ(VaultOfAddress(0x40, Orvane::Internal::QUOR2::log2(uint64_t{64}), 16), 1u);
}

// ---------------------------------------------------------------------------
// Request side: rate, batches, forwarding

TEST(LinkRequest, DefaultRateGivesBatchesOfThreeEveryCoreCycle) {
  EXPECT_EXIT(RunScenario([] {
                LinkBench& b = MakeLinkBench();
                SCN_CHECK_EQ(b.link.flitRate, Ps(533));
                SCN_CHECK_EQ(b.link.maxFlitsPerCycle, 3u);
                for (uint32_t tag = 1; tag <= 9; ++tag)
                  b.host.Enqueue(MakePacket(tag, uint64_t{tag} * 128, READ_REQUEST, 64));
                // The host controller's pattern: 533, 533, 534 ps.
                b.host.StartStream(Ps(0), {Ps(533), Ps(533), Ps(534)});
                CoutCapture out;
                sc_core::sc_start(Ps(20000));
                const std::string text = out.Stop();
                SCN_CHECK_EQ(text, "");
                const auto& r = b.lsw.received;
                SCN_CHECK_EQ(r.size(), 9u);
                if (r.size() != 9) return;
                // Flits at 533, 1066 batch at 1600; the one written at 1600 goes with
                // the next edge. Each batch reaches the switch 4 core cycles later.
                CHECK_SEEN(r[0], 8000, 0, 1, 1);
                CHECK_SEEN(r[1], 8000, 1, 2, 1);
                CHECK_SEEN(r[2], 9600, 0, 3, 1);
                CHECK_SEEN(r[3], 9600, 1, 4, 1);
                CHECK_SEEN(r[4], 9600, 2, 5, 1);
                CHECK_SEEN(r[5], 11200, 0, 6, 1);
                CHECK_SEEN(r[6], 11200, 1, 7, 1);
                CHECK_SEEN(r[7], 11200, 2, 8, 1);
                CHECK_SEEN(r[8], 12800, 0, 9, 1);
                for (const SeenFlit& s : r) {
                  SCN_CHECK_EQ(s.sourceLink, 0u);
                  SCN_CHECK_EQ(s.destinationField, s.tag);
                  SCN_CHECK_EQ(s.currentLane, static_cast<int32_t>(s.lane));
                }
                SCN_CHECK_EQ(b.stats.perLinkAcceptedFlits[0], 9u);
                SCN_CHECK_EQ(b.stats.perLinkReads[0], 9u);
                SCN_CHECK_EQ(b.stats.perLinkWrites[0], 0u);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(LinkRequest, FlitAtFlitRateMinusOnePsIsAccepted) {
  EXPECT_EXIT(RunScenario([] {
                LinkBench& b = MakeLinkBench();
                // 532 ps after time 0, then 532 ps after that.
                b.host.At(Ps(532), MakeNullFlit());
                b.host.At(Ps(1064), MakeFlit(1, 0x80, READ_REQUEST, 64, true, true, 1));
                sc_core::sc_start(Ps(20000));
                SCN_CHECK_EQ(b.lsw.received.size(), 1u);
                SCN_CHECK_EQ(b.stats.perLinkAcceptedFlits[0], 1u);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(LinkRequest, FirstFlitBeforeTheFlitRateAborts) {
  ExpectAbort([](LinkBench& b) { b.host.At(Ps(531), MakeNullFlit()); },
              Lines({"== ERROR - Receive flit at a rate that does not match link config",
                     "           Flit rate currently : 533 ps"}) + "$");
}

TEST(LinkRequest, FlitCloserThanTheFlitRateAborts) {
  ExpectAbort(
      [](LinkBench& b) {
        b.host.At(Ps(533), MakeNullFlit());
        b.host.At(Ps(1064), MakeNullFlit());
      },
      Lines({"== ERROR - Receive flit at a rate that does not match link config",
             "           Flit rate currently : 533 ps"}) + "$");
}

TEST(LinkRequest, FourFlitsInOneCoreCycleOverflowAndTheLastWaitsACycle) {
  EXPECT_EXIT(RunScenario([] {
                LinkBench& b = MakeLinkBench();
                const uint64_t times[] = {532, 1064, 1601, 2133, 2665, 3197};
                for (uint32_t i = 0; i < 6; ++i)
                  b.host.At(Ps(times[i]), MakeFlit(i + 1, 0, READ_REQUEST, 16, true, true, 1));
                CoutCapture out;
                sc_core::sc_start(Ps(20000));
                const std::string text = out.Stop();
                SCN_CHECK_EQ(text,
                             "==ERROR - Ring-Buffer overflow in link.  Received too many flits "
                             "this core cycle (3200 ps)\n");
                const auto& r = b.lsw.received;
                SCN_CHECK_EQ(r.size(), 6u);
                if (r.size() != 6) return;
                CHECK_SEEN(r[2], 9600, 0, 3, 1);
                CHECK_SEEN(r[4], 9600, 2, 5, 1);
                CHECK_SEEN(r[5], 11200, 0, 6, 1);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(LinkRequest, NullFlitsTakeBatchAndForwardingSlotsButNeverReachTheSwitch) {
  EXPECT_EXIT(RunScenario([] {
                LinkBench& b = MakeLinkBench([](Config& c) { c.FLITS_PER_CYCLE_LSW = 2; });
                auto rd = [](uint32_t tag) { return MakeFlit(tag, 0, READ_REQUEST, 32, true, true, 1); };
                // Batches: [null R1 R2] at 1600, [R3 null R4] at 3200, [null null] at 4800.
                SendAtRate(b, {MakeNullFlit(), rd(1), rd(2), rd(3), MakeNullFlit(), rd(4),
                               MakeNullFlit(), MakeNullFlit()});
                sc_core::sc_start(Ps(30000));
                const auto& r = b.lsw.received;
                SCN_CHECK_EQ(r.size(), 4u);
                if (r.size() != 4) return;
                // Two forwarding slots per batch, the null flit using one of them.
                CHECK_SEEN(r[0], 8000, 1, 1, 1);
                // R2 (left over) and R3 go together, on lanes in arrival order: the
                // switch reads its lanes upward.
                CHECK_SEEN(r[1], 9600, 0, 2, 1);
                CHECK_SEEN(r[2], 9600, 1, 3, 1);
                // R4 goes with the next batch, first again.
                CHECK_SEEN(r[3], 11200, 0, 4, 1);
                SCN_CHECK_EQ(b.stats.perLinkAcceptedFlits[0], 4u);
                SCN_CHECK_EQ(b.stats.perLinkReads[0], 4u);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(LinkRequest, AddressJustBelowTheDeviceSizeIsAccepted) {
  EXPECT_EXIT(RunScenario([] {
                LinkBench& b = MakeLinkBench();
                SendAtRate(b, {MakeFlit(1, 0x7FFFFFFF, READ_REQUEST, 16, true, true, 1)});
                sc_core::sc_start(Ps(20000));
                SCN_CHECK_EQ(b.lsw.received.size(), 1u);
                if (!b.lsw.received.empty()) SCN_CHECK_EQ(b.lsw.received[0].destinationField, 15u);
              }),
              ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(RunScenario([] {
                LinkBench& b = MakeLinkBench([](Config& c) { c.NUM_PARTITIONS = 4; });
                SendAtRate(b, {MakeFlit(1, 0x80000000, READ_REQUEST, 16, true, true, 1),
                               MakeFlit(2, 0xFFFFFFFF, READ_REQUEST, 16, true, true, 1)});
                sc_core::sc_start(Ps(20000));
                SCN_CHECK_EQ(b.lsw.received.size(), 2u);
              }),
              ::testing::ExitedWithCode(0), "");
  // Other partition counts have no limit.
  EXPECT_EXIT(RunScenario([] {
                LinkBench& b = MakeLinkBench([](Config& c) { c.NUM_PARTITIONS = 8; });
                SendAtRate(b, {MakeFlit(1, 0x100000000, READ_REQUEST, 16, true, true, 1)});
                sc_core::sc_start(Ps(20000));
                SCN_CHECK_EQ(b.lsw.received.size(), 1u);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(LinkRequest, AtomicsAreForcedToSixteenBytes) {
  EXPECT_EXIT(RunScenario([] {
                LinkBench& b = MakeLinkBench();
                SendAtRate(b, {MakeFlit(4, 0x100, ATOMIC_ADD16, 64, true, false, 1),
                               MakeFlit(4, 0x100, ATOMIC_ADD16, 64, false, true, 2)});
                sc_core::sc_start(Ps(20000));
                const auto& r = b.lsw.received;
                SCN_CHECK_EQ(r.size(), 2u);
                for (const SeenFlit& s : r) SCN_CHECK_EQ(s.requestLength, 16u);
                SCN_CHECK_EQ(b.stats.perLinkWrites[0], 1u);
                // Only plain writes count as moved write data.
                SCN_CHECK_EQ(b.stats.perLinkDataMovementWrite[0], 0u);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(LinkRequest, ResponseCommandOnTheRequestLinkIsReportedAndPassedOn) {
  EXPECT_EXIT(RunScenario([] {
                LinkBench& b = MakeLinkBench({}, 2);
                SendAtRate(b, {MakeFlit(3, 0x180, READ_RESPONSE, 64, true, true, 1)});
                sc_core::sc_start(Ps(20000));
                SCN_CHECK_EQ(b.lsw.received.size(), 1u);
                if (!b.lsw.received.empty()) SCN_CHECK_EQ(b.lsw.received[0].sourceLink, 2u);
                SCN_CHECK_EQ(b.stats.perLinkAcceptedFlits[2], 1u);
              }),
              ::testing::ExitedWithCode(0),
              Lines({"== ERROR - Incorrect command type received on Link 2",
                     kFlit + "[HEAD cmd:RD_RSP64 tag:3 addr:0x00000180 #:1 tokens:0 TAIL]"}));
}

TEST(LinkRequest, UnknownMappingSchemeGivesAllOnesDestination) {
  EXPECT_EXIT(RunScenario([] {
                LinkBench& b = MakeLinkBench([](Config& c) { c.MAPPING_SCHEME = 1; });
                SendAtRate(b, {MakeFlit(1, 0x80, READ_REQUEST, 16, true, true, 1)});
                sc_core::sc_start(Ps(20000));
                SCN_CHECK_EQ(b.lsw.received.size(), 1u);
                if (!b.lsw.received.empty())
                  SCN_CHECK_EQ(b.lsw.received[0].destinationField, 0xFFFFFFFFu);
              }),
              ::testing::ExitedWithCode(0),
              Lines({"=[8 ns]= ERROR - Wrong unknown address mapping scheme when computing "
                     "destination field in link"}));
}

// ---------------------------------------------------------------------------
// Request side: protocol violations end the run

TEST(LinkProtocol, NonStandardRequestSizeAborts) {
  ExpectAbort([](LinkBench& b) { SendAtRate(b, {MakeFlit(1, 0x100, READ_REQUEST, 24, true, true, 1)}); },
              Lines({"== ERROR - Request size not acceptable : 24",
                     "           Please use one of the standard request sizes",
                     kFlit + "[HEAD cmd:RD24 tag:1 addr:0x00000100 #:1 tokens:0 TAIL]"}));
}

TEST(LinkProtocol, AddressAtTwoGigabytesAborts) {
  ExpectAbort([](LinkBench& b) { SendAtRate(b, {MakeFlit(1, 0x80000000, READ_REQUEST, 64, true, true, 1)}); },
              Lines({"== ERROR - Address (0x80000000) outside of address space for 2GB QUOR",
                     kFlit + "[HEAD cmd:RD64 tag:1 addr:0x80000000 #:1 tokens:0 TAIL]"}));
}

TEST(LinkProtocol, AddressAtFourGigabytesAbortsWithFourPartitions) {
  ExpectAbort(
      [](LinkBench& b) {
        SendAtRate(b, {MakeFlit(1, 0x100000000, WRITE_REQUEST, 16, true, false, 1)});
      },
      Lines({"== ERROR - Address (0x100000000) outside of address space for 4GB QUOR",
             kFlit + "[HEAD cmd:WR16 tag:1 addr:0x100000000 #:1 tokens:0"}),
      [](Config& c) { c.NUM_PARTITIONS = 4; });
}

TEST(LinkProtocol, TokenReturnWithoutTokensAborts) {
  ExpectAbort([](LinkBench& b) { SendAtRate(b, {MakeTokenReturn(0, 0)}); },
              Lines({"== ERROR - Token return packet with 0 tokens attached is not allowed",
                     kFlit + "[HEAD cmd:TOKEN_RETURN tag:0 tokens:0 TAIL]"}));
}

TEST(LinkProtocol, SingleFlitCommandWithoutTailAborts) {
  ExpectAbort([](LinkBench& b) { SendAtRate(b, {MakeFlit(1, 0, READ_REQUEST, 64, true, false, 1)}); },
              Lines({"== ERROR - Packet header and tail improperly set for this command type",
                     kFlit + "[HEAD cmd:RD64 tag:1 addr:0x00000000 #:1 tokens:0"}));
}

TEST(LinkProtocol, WriteFlitWithHeaderAndTailAborts) {
  ExpectAbort([](LinkBench& b) { SendAtRate(b, {MakeFlit(1, 0, WRITE_REQUEST, 16, true, true, 1)}); },
              Lines({"== ERROR - Packet should not be both header and tail",
                     kFlit + "[HEAD cmd:WR16 tag:1 addr:0x00000000 #:1 tokens:0 TAIL]"}));
}

TEST(LinkProtocol, NullFlitInsideAPacketIsNonContiguous) {
  ExpectAbort(
      [](LinkBench& b) {
        SendAtRate(b, {MakeFlit(7, 0, WRITE_REQUEST, 32, true, false, 1), MakeNullFlit()});
      },
      Lines({"== ERROR - Received non-contiguous packet - Expecting the rest of packet with tag 7",
             kFlit + "[HEAD cmd:NULL_COMMAND tokens:0 TAIL]"}));
}

TEST(LinkProtocol, CommandChangeInsideAPacketAborts) {
  ExpectAbort(
      [](LinkBench& b) {
        SendAtRate(b, {MakeFlit(1, 0, WRITE_REQUEST, 32, true, false, 1),
                       MakeFlit(1, 0, P_WRITE_REQUEST, 32, false, false, 2)});
      },
      Lines({"== ERROR - Command type changed mid packet",
             kFlit + "      cmd:P_WR32 tag:1 addr:0x00000000 #:2 tokens:0"}));
}

TEST(LinkProtocol, TokensOnANonTailFlitAbort) {
  ExpectAbort(
      [](LinkBench& b) { SendAtRate(b, {MakeFlit(1, 0, WRITE_REQUEST, 32, true, false, 1, 3)}); },
      Lines({"== ERROR - Return tokens should only be attached to tail flits",
             kFlit + "[HEAD cmd:WR32 tag:1 addr:0x00000000 #:1 tokens:3"}));
}

TEST(LinkProtocol, SizeChangeInsideAPacketAborts) {
  ExpectAbort(
      [](LinkBench& b) {
        SendAtRate(b, {MakeFlit(1, 0, WRITE_REQUEST, 32, true, false, 1),
                       MakeFlit(1, 0, WRITE_REQUEST, 64, false, false, 2)});
      },
      Lines({"== ERROR - Request size changed mid-packet - Expecting 32",
             kFlit + "      cmd:WR64 tag:1 addr:0x00000000 #:2 tokens:0"}));
}

TEST(LinkProtocol, WrongFlitNumberAborts) {
  ExpectAbort(
      [](LinkBench& b) { SendAtRate(b, {MakeFlit(1, 0, WRITE_REQUEST, 32, true, false, 2)}); },
      Lines({"== ERROR - Expected flit number 1 of incoming packet",
             kFlit + "[HEAD cmd:WR32 tag:1 addr:0x00000000 #:2 tokens:0"}));
}

TEST(LinkProtocol, NinthFlitOfA128ByteWriteMustBeTheTail) {
  ExpectAbort(
      [](LinkBench& b) {
        std::vector<Flit*> packet = MakePacket(1, 0, WRITE_REQUEST, 128);
        SCN_CHECK_EQ(packet.size(), 9u);
        packet.back()->tail = false;
        SendAtRate(b, packet);
      },
      Lines({"== ERROR - Expected tail of 128B packet",
             kFlit + "      cmd:WR128 tag:1 addr:0x00000000 #:9 tokens:0"}));
}

TEST(LinkProtocol, AtomicOfThreeFlitsAborts) {
  ExpectAbort(
      [](LinkBench& b) {
        SendAtRate(b, {MakeFlit(1, 0, ATOMIC_ADD16, 64, true, false, 1),
                       MakeFlit(1, 0, ATOMIC_ADD16, 64, false, false, 2)});
      },
      Lines({"== ERROR - Expected tail of 16B packet",
             kFlit + "      cmd:ADD16 tag:1 addr:0x00000000 #:2 tokens:0"}));
}

TEST(LinkProtocol, TailBeyondThePacketLengthIsTooManyFlits) {
  // A token return with the open packet's tag reopens and closes a packet of
  // 0 bytes at flit number 2.
  ExpectAbort(
      [](LinkBench& b) {
        Flit* tr = MakeTokenReturn(5, 3);
        tr->flitNumber = 2;
        SendAtRate(b, {MakeFlit(5, 0, WRITE_REQUEST, 32, true, false, 1), tr});
      },
      Lines({"== ERROR - Too many flits (2) in a 0B packet",
             kFlit + "[HEAD cmd:TOKEN_RETURN tag:5 tokens:3 TAIL]"}));
}

// ---------------------------------------------------------------------------
// Request side: host tokens and the busy signal

TEST(LinkTokens, HostTokensAreCreditedWhenTheirBatchPassesTheInputDelay) {
  EXPECT_EXIT(RunScenario([] {
                LinkBench& b = MakeLinkBench();
                // One batch at 1600 ps: a token return of 5, then a write whose tail
                // carries 7.
                SendAtRate(b, {MakeTokenReturn(0, 5), MakeFlit(2, 0x80, WRITE_REQUEST, 16, true, false, 1),
                               MakeFlit(2, 0x80, WRITE_REQUEST, 16, false, true, 2, 7)});
                CoutCapture out;
                sc_core::sc_start(Ps(7999));
                SCN_CHECK_EQ(b.link.tokenCount, 100u);
                sc_core::sc_start(Ps(2));
                const uint32_t credited = b.link.tokenCount;
                sc_core::sc_start(Ps(20000));
                const std::string text = out.Stop();
                SCN_CHECK_EQ(credited, 112u);
                SCN_CHECK_EQ(text,
                             "=[8 ns]= ERROR - To many tokens in link0 from token return packet : 105\n"
                             "=[8 ns]= ERROR - To many tokens in link0 from tail of packet : 112\n");
                const auto& r = b.lsw.received;
                SCN_CHECK_EQ(r.size(), 2u);
                if (r.size() != 2) return;
                CHECK_SEEN(r[0], 8000, 1, 2, 1);
                CHECK_SEEN(r[1], 8000, 2, 2, 2);
                SCN_CHECK_EQ(r[1].returnTokens, 0u);
                SCN_CHECK_EQ(b.stats.perLinkAcceptedFlits[0], 2u);
                SCN_CHECK_EQ(b.stats.perLinkWrites[0], 1u);
                SCN_CHECK_EQ(b.stats.perLinkDataMovementWrite[0], 16u);
                SCN_CHECK_EQ(b.stats.perLinkDataMovement[0], 16u);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(LinkBusy, PacketStartedBeforeBusyFinishesAndTheNextWaitsUntilOneCycleAfterBusyFalls) {
  EXPECT_EXIT(RunScenario([] {
                LinkBench& b = MakeLinkBench();
                SendAtRate(b, Concat({MakePacket(1, 0, WRITE_REQUEST, 128),
                                      MakePacket(2, 0x80, READ_REQUEST, 64)}));
                b.lsw.busyScript = {{Ps(8800), true}, {Ps(16000), false}};
                sc_core::sc_start(Ps(40000));
                const auto& r = b.lsw.received;
                SCN_CHECK_EQ(r.size(), 10u);
                if (r.size() != 10) return;
                for (uint32_t i = 0; i < 9; ++i)
                  CHECK_SEEN(r[i], 8000 + 1600 * (i / 3), i % 3, 1, i + 1);
                CHECK_SEEN(r[9], 17600, 0, 2, 1);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(LinkBusy, InputBufferPassesEndAtTheLastLane) {
  EXPECT_EXIT(RunScenario([] {
                LinkBench& b = MakeLinkBench();
                auto rd = [](uint32_t tag) { return MakePacket(tag, 0, READ_REQUEST, 16); };
                // In the input buffer: R1:0 R2:1 Wh:2 W2:0 Wt:1 R3:2 R4:0 R5:1.
                SendAtRate(b, Concat({rd(1), rd(2), MakePacket(9, 0, WRITE_REQUEST, 32), rd(3), rd(4),
                                      rd(5)}));
                b.lsw.busyScript = {{Ps(1600), true},
                                    {Ps(16000), false},
                                    {Ps(17600), true},
                                    {Ps(24000), false}};
                sc_core::sc_start(Ps(40000));
                const auto& r = b.lsw.received;
                SCN_CHECK_EQ(r.size(), 8u);
                if (r.size() != 8) return;
                CHECK_SEEN(r[0], 17600, 0, 1, 1);
                CHECK_SEEN(r[1], 17600, 1, 2, 1);
                CHECK_SEEN(r[2], 17600, 2, 9, 1);
                // The open write finishes under busy, and the pass stops at its tail.
                CHECK_SEEN(r[3], 19200, 0, 9, 2);
                CHECK_SEEN(r[4], 19200, 1, 9, 3);
                // A pass starting at the last lane carries one flit.
                CHECK_SEEN(r[5], 25600, 2, 3, 1);
                CHECK_SEEN(r[6], 27200, 0, 4, 1);
                CHECK_SEEN(r[7], 27200, 1, 5, 1);
              }),
              ::testing::ExitedWithCode(0), "");
}

// ---------------------------------------------------------------------------
// Response side

TEST(LinkResponse, EachFlitSentReturnsAHalfPeriodCreditPulseTwoFlitPeriodsLater) {
  EXPECT_EXIT(RunScenario([] {
                LinkBench& b = MakeLinkBench();
                std::vector<Flit*> rsp = MakePacket(6, 0x300, READ_RESPONSE, 32);
                for (unsigned i = 0; i < 3; ++i) b.vsw.At(Ps(1600), i, rsp[i]);
                sc_core::sc_start(Ps(30000));
                // Taken in one core cycle after the write (3200), sent from the next
                // flit boundary (3731) once per flit period.
                const auto& h = b.host.received;
                SCN_CHECK_EQ(h.size(), 3u);
                for (unsigned i = 0; i < h.size() && i < 3; ++i) {
                  SCN_CHECK_EQ(h[i].at, Ps(11731 + 533 * i));
                  SCN_CHECK_EQ(h[i].flitNumber, i + 1);
                  SCN_CHECK_EQ(h[i].command, READ_RESPONSE);
                }
                const auto& p = b.vsw.pulses;
                SCN_CHECK_EQ(p.size(), 3u);
                for (unsigned i = 0; i < p.size() && i < 3; ++i) {
                  SCN_CHECK_EQ(p[i].start, Ps(4797 + 533 * i));
                  SCN_CHECK_EQ(p[i].amount, 1);
                  SCN_CHECK_EQ(p[i].width, Ps(267));
                }
                SCN_CHECK_EQ(b.link.tokenCount, 97u);
                SCN_CHECK_EQ(b.stats.perLinkSentFlits[0], 3u);
                SCN_CHECK_EQ(b.stats.perLinkDataMovementRead[0], 32u);
                SCN_CHECK_EQ(b.stats.perLinkDataMovement[0], 32u);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(LinkResponse, PacketWithoutItsTailIsNeverStarted) {
  EXPECT_EXIT(RunScenario([] {
                LinkBench& b = MakeLinkBench();
                std::vector<Flit*> rsp = MakePacket(6, 0x300, READ_RESPONSE, 32);
                b.vsw.At(Ps(1600), 0, rsp[0]);
                b.vsw.At(Ps(1600), 1, rsp[1]);
                b.vsw.At(Ps(8000), 0, rsp[2]);
                sc_core::sc_start(Ps(30000));
                const auto& h = b.host.received;
                SCN_CHECK_EQ(h.size(), 3u);
                // Tail taken in at 9600; the next flit boundary is 10127.
                if (!h.empty()) SCN_CHECK_EQ(h[0].at, Ps(18127));
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(LinkResponse, ReadResponseWaitsForTokensForAllItsFlitsWhileATokenReturnGoes) {
  EXPECT_EXIT(RunScenario([] {
                LinkBench& b = MakeLinkBench([](Config& c) { c.TOKENS_PER_LINK = 5; });
                // A write response spends one of the five tokens.
                b.vsw.At(Ps(1600), 0, MakePacket(9, 0, WRITE_RESPONSE, 16)[0]);
                std::vector<Flit*> rsp = MakePacket(6, 0x300, READ_RESPONSE, 64);
                for (unsigned i = 0; i < 3; ++i) b.vsw.At(Ps(3200), i, rsp[i]);
                b.vsw.At(Ps(4800), 0, rsp[3]);
                b.vsw.At(Ps(4800), 1, rsp[4]);
                // Three tokens freed by the link switch, owed from 8000 ps.
                b.lsw.tokenScript = {{Ps(1600), 3}};
                // The host returns one token: credited at 11200 ps.
                b.host.At(Ps(4264), MakeTokenReturn(0, 1));
                CoutCapture out;
                sc_core::sc_start(Ps(40000));
                const std::string text = out.Stop();
                SCN_CHECK_EQ(text, "");
                const auto& h = b.host.received;
                SCN_CHECK_EQ(h.size(), 7u);
                if (h.size() != 7) return;
                SCN_CHECK_EQ(h[0].command, WRITE_RESPONSE);
                SCN_CHECK_EQ(h[0].at, Ps(11731));
                SCN_CHECK_EQ(h[1].command, TOKEN_RETURN);
                SCN_CHECK_EQ(h[1].at, Ps(16528));
                SCN_CHECK_EQ(h[1].returnTokens, 3u);
                SCN_CHECK_EQ(h[1].address, ~uint64_t{0});
                SCN_CHECK_EQ(h[1].requestLength, 0u);
                SCN_CHECK(h[1].header && h[1].tail);
                for (unsigned i = 0; i < 5; ++i) {
                  SCN_CHECK_EQ(h[2 + i].command, READ_RESPONSE);
                  SCN_CHECK_EQ(h[2 + i].flitNumber, i + 1);
                  SCN_CHECK_EQ(h[2 + i].at, Ps(19726 + 533 * i));
                }
                SCN_CHECK_EQ(h[6].returnTokens, 0u);
                SCN_CHECK_EQ(b.link.tokenCount, 0u);
                SCN_CHECK_EQ(b.link.returnTokens, 0u);
                // A token return is no response flit and returns no credit.
                SCN_CHECK_EQ(b.stats.perLinkSentFlits[0], 6u);
                SCN_CHECK_EQ(b.vsw.pulses.size(), 6u);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(LinkResponse, FortyOwedTokensGoAsThirtyOneThenNineInTokenReturns) {
  EXPECT_EXIT(RunScenario([] {
                LinkBench& b = MakeLinkBench();
                b.lsw.tokenScript = {{Ps(1600), 40}};
                sc_core::sc_start(Ps(30000));
                const auto& h = b.host.received;
                SCN_CHECK_EQ(h.size(), 2u);
                if (h.size() != 2) return;
                SCN_CHECK_EQ(h[0].at, Ps(16528));
                SCN_CHECK_EQ(h[0].returnTokens, 31u);
                SCN_CHECK_EQ(h[0].tag, 0u);
                SCN_CHECK_EQ(h[1].at, Ps(17061));
                SCN_CHECK_EQ(h[1].returnTokens, 9u);
                SCN_CHECK_EQ(h[1].tag, 1u);
                SCN_CHECK_EQ(b.link.tokenReturnTag, 2u);
                SCN_CHECK_EQ(b.link.tokenCount, 100u);
                SCN_CHECK_EQ(b.stats.perLinkSentFlits[0], 0u);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(LinkResponse, FortyOwedTokensGoThirtyOneOnTheTailThenNineInATokenReturn) {
  EXPECT_EXIT(RunScenario([] {
                LinkBench& b = MakeLinkBench();
                b.lsw.tokenScript = {{Ps(1600), 40}};
                b.vsw.At(Ps(6400), 0, MakePacket(9, 0, WRITE_RESPONSE, 16)[0]);
                sc_core::sc_start(Ps(30000));
                const auto& h = b.host.received;
                SCN_CHECK_EQ(h.size(), 2u);
                if (h.size() != 2) return;
                SCN_CHECK_EQ(h[0].command, WRITE_RESPONSE);
                SCN_CHECK_EQ(h[0].at, Ps(16528));
                SCN_CHECK_EQ(h[0].returnTokens, 31u);
                SCN_CHECK_EQ(h[1].command, TOKEN_RETURN);
                SCN_CHECK_EQ(h[1].at, Ps(17061));
                SCN_CHECK_EQ(h[1].returnTokens, 9u);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(LinkResponse, OpenLoopSendsWithoutTokens) {
  EXPECT_EXIT(RunScenario([] {
                LinkBench& b = MakeLinkBench([](Config& c) {
                  c.RESPONSE_OPEN_LOOP = true;
                  c.TOKENS_PER_LINK = 2;
                });
                std::vector<Flit*> rsp = MakePacket(6, 0, READ_RESPONSE, 64);
                for (unsigned i = 0; i < 3; ++i) b.vsw.At(Ps(1600), i, rsp[i]);
                b.vsw.At(Ps(3200), 0, rsp[3]);
                b.vsw.At(Ps(3200), 1, rsp[4]);
                sc_core::sc_start(Ps(30000));
                SCN_CHECK_EQ(b.host.received.size(), 5u);
                SCN_CHECK_EQ(b.link.tokenCount, 2u);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(LinkResponse, OverfullBufferIsReportedAndTheFlitKept) {
  EXPECT_EXIT(RunScenario([] {
                LinkBench& b = MakeLinkBench([](Config& c) { c.LINK_MASTER_BUFFER_SIZE = 2; });
                std::vector<Flit*> rsp = MakePacket(6, 0, READ_RESPONSE, 32);
                for (unsigned i = 0; i < 3; ++i) b.vsw.At(Ps(1600), i, rsp[i]);
                sc_core::sc_start(Ps(30000));
                SCN_CHECK_EQ(b.host.received.size(), 3u);
              }),
              ::testing::ExitedWithCode(0),
              Lines({"=[3200 ps]= ERROR - Link Master 0 buffer exceeded capacity"}));
}

TEST(LinkResponse, TooManyOwedTokensAreReportedAndStillReturned) {
  EXPECT_EXIT(RunScenario([] {
                LinkBench& b = MakeLinkBench();
                b.lsw.tokenScript = {{Ps(1600), 101}};
                sc_core::sc_start(Ps(30000));
                SCN_CHECK_EQ(b.host.tokensReceived, 101u);
                SCN_CHECK_EQ(b.host.tokenReturnPackets, 4u);
              }),
              ::testing::ExitedWithCode(0), Lines({"=[8 ns]= ERROR - Somehow have too many tokens"}));
}

TEST(LinkResponse, OtherTagBeforeTheTailAborts) {
  EXPECT_EXIT(RunScenario([] {
                LinkBench& b = MakeLinkBench({}, 3);
                b.vsw.At(Ps(1600), 0, MakeFlit(1, 0, READ_RESPONSE, 32, true, false, 1));
                b.vsw.At(Ps(1600), 1, MakeFlit(2, 0, READ_RESPONSE, 32, true, false, 1));
                sc_core::sc_start(Ps(30000));
              }),
              ::testing::KilledBySignal(SIGABRT), Lines({"== ERROR - Non-contiguous packet in LM3"}));
}

// ---------------------------------------------------------------------------
// State dump and a long two-way run

TEST(LinkState, DumpShowsCountersAndBuffers) {
  EXPECT_EXIT(RunScenario([] {
                LinkBench& b = MakeLinkBench();
                b.lsw.busyScript = {{Ps(1600), true}};
                b.host.At(Ps(533), MakeFlit(1, 0x80, READ_REQUEST, 64, true, true, 1));
                b.host.At(Ps(1066), MakeFlit(2, 0x100, READ_REQUEST, 64, true, true, 1));
                b.host.At(Ps(9000), MakeNullFlit());
                b.vsw.At(Ps(1600), 0, MakeFlit(7, 0, READ_RESPONSE, 32, true, false, 1));
                // 7 tokens go in a token return at 8528 ps; 5 more are in their delay.
                b.lsw.tokenScript = {{Ps(1600), 7}, {Ps(8000), 5}};
                sc_core::sc_start(Ps(9100));
                CoutCapture out;
                b.link.DumpState();
                const std::string text = out.Stop();
                SCN_CHECK_EQ(text,
                             "== Link0\n"
                             "\t\tToken Count\t\t\t : 100\n"
                             "\t\tReturn Tokens\t\t : 0\n"
                             "      ReturnTokenQ  : 1\n"
                             "\t\tToken Return Tag : 1\n"
                             "   Block Boundary : 1\n"
                             "\t\tLS Input Buffer :\n"
                             "\t\t 0] [HEAD cmd:RD64 tag:1 addr:0x00000080 #:1 tokens:0 TAIL]\n"
                             "\t\t 1] [HEAD cmd:RD64 tag:2 addr:0x00000100 #:1 tokens:0 TAIL]\n"
                             "\t\tLM Output Buffer :\n"
                             "\t\t 0] [HEAD cmd:RD_RSP32 tag:7 addr:0x00000000 #:1 tokens:0\n");
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(LinkStream, LongMixedTrafficBothWaysAccountsForEveryTokenAndCredit) {
  EXPECT_EXIT(RunScenario([] {
                LinkBench& b = MakeLinkBench();
                const Config& cfg = b.cfg;
                // Requests: reads, writes of every size, posted writes, atomics.
                const QUORCommand atomics[] = {ATOMIC_BWR, ATOMIC_P_BWR, ATOMIC_DADD8,
                                               ATOMIC_P_DADD8, ATOMIC_ADD16, ATOMIC_P_ADD16};
                std::vector<SeenFlit> expected;
                uint64_t requestFlits = 0;
                for (uint32_t i = 0; i < 300; ++i) {
                  const uint64_t addr = (uint64_t{i} * 0x9E3779B1u) % 0x80000000u & ~uint64_t{15};
                  const uint32_t size = 16 * (1 + i % 8);
                  std::vector<Flit*> p;
                  switch (i % 4) {
                  case 0: p = MakePacket(i, addr, READ_REQUEST, size); break;
                  case 1: p = MakePacket(i, addr, WRITE_REQUEST, size); break;
                  case 2: p = MakePacket(i, addr, P_WRITE_REQUEST, size); break;
                  default: p = MakePacket(i, addr, atomics[i % 6], 16); break;
                  }
                  for (Flit* f : p) {
                    SeenFlit s;
                    s.tag = f->tag;
                    s.flitNumber = f->flitNumber;
                    s.destinationField = static_cast<uint32_t>((addr >> 7) & 15);
                    expected.push_back(s);
                  }
                  requestFlits += p.size();
                  b.host.Enqueue(p);
                }
                b.host.spendTokens = true;
                b.host.autoReturnTokens = true;
                b.host.hostTokens = cfg.TOKENS_PER_LINK;
                b.host.StartStream(Ps(0), {Ps(533), Ps(533), Ps(534)});
                b.lsw.autoFreeTokens = true;
                for (uint64_t t = 6400; t < 2000000; t += 16000) {
                  b.lsw.busyScript.push_back({Ps(t), true});
                  b.lsw.busyScript.push_back({Ps(t + 4800), false});
                }
                // Responses: reads of every size and write responses.
                uint64_t responseFlits = 0;
                for (uint32_t i = 0; i < 200; ++i) {
                  std::vector<Flit*> p = i % 3 == 0
                                             ? MakePacket(1000 + i, 0, WRITE_RESPONSE, 16)
                                             : MakePacket(1000 + i, 0, READ_RESPONSE, 16 * (1 + i % 8));
                  responseFlits += p.size();
                  b.vsw.Enqueue(p);
                }
                b.vsw.StartStream(Ps(1600));
                CoutCapture out;
                sc_core::sc_start(Ps(5000000));
                const std::string text = out.Stop();
                SCN_CHECK_EQ(text, "");
                // Requests outlast the responses, so owed tokens also leave in
                // token-return packets.
                SCN_CHECK(b.lsw.received.back().at > Ps(700000));
                SCN_CHECK(b.host.tokenReturnPackets > 0);

                // Requests: all delivered, in order, none absorbed flit among them.
                SCN_CHECK_EQ(b.host.queued(), 0u);
                const auto& r = b.lsw.received;
                SCN_CHECK_EQ(r.size(), requestFlits);
                for (size_t i = 0; i < r.size() && i < expected.size(); ++i) {
                  SCN_CHECK_EQ(r[i].tag, expected[i].tag);
                  SCN_CHECK_EQ(r[i].flitNumber, expected[i].flitNumber);
                  SCN_CHECK_EQ(r[i].destinationField, expected[i].destinationField);
                  SCN_CHECK_EQ(r[i].sourceLink, 0u);
                }
                SCN_CHECK_EQ(b.stats.perLinkAcceptedFlits[0], requestFlits);
                // Responses: all delivered, each credited back to the vault switch
                // with a half-period pulse.
                SCN_CHECK_EQ(b.vsw.queued(), 0u);
                SCN_CHECK_EQ(b.host.responseFlits, responseFlits);
                SCN_CHECK_EQ(b.stats.perLinkSentFlits[0], responseFlits);
                SCN_CHECK_EQ(b.vsw.pulses.size(), responseFlits);
                SCN_CHECK_EQ(b.vsw.credits, static_cast<int64_t>(cfg.LINK_MASTER_BUFFER_SIZE));
                bool widths = true;
                for (const auto& p : b.vsw.pulses) widths = widths && p.width == Ps(267);
                SCN_CHECK(widths);
                // Tokens: every freed request flit went back to the host, and every
                // consumed response flit came back to the link.
                SCN_CHECK_EQ(b.lsw.tokensFreed, requestFlits);
                SCN_CHECK_EQ(b.host.tokensReceived, requestFlits);
                SCN_CHECK_EQ(b.host.hostTokens, cfg.TOKENS_PER_LINK);
                SCN_CHECK_EQ(b.link.returnTokens, 0u);
                SCN_CHECK(b.link.tokenDelayQueue.empty());
                SCN_CHECK_EQ(b.host.owedTokens, 0u);
                SCN_CHECK_EQ(b.host.tokensReturned, responseFlits);
                SCN_CHECK_EQ(b.link.tokenCount, cfg.TOKENS_PER_LINK);
                SCN_CHECK(b.link.inputBuffer.empty());
                SCN_CHECK(b.link.outputBuffer.empty());
              }),
              ::testing::ExitedWithCode(0), "");
}
