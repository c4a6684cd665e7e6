// The TSV bus record: its text form in messages and the equality that decides
// whether a bus write is a change.
#include "quor2_dram_bus_packet.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace Orvane::Internal::QUOR2;
using sc_core::sc_time;

namespace {
std::string Text(const DRAMBusPacket& p) {
  std::ostringstream os;
  os << p;
  return os.str();
}

DRAMBusPacket Sample(DRAMCommand c) {
  return DRAMBusPacket(c, 1, 3, 4095, 12, 77, sc_time(5, sc_core::SC_NS));
}
} // namespace

TEST(DRAMBusPacketText, CommandPacketsPrintAllFiveFields) {
  EXPECT_EQ(Text(Sample(ACTIVATE)), "ACT prt:1 bnk:3 row:4095 col:12 tag:77");
  EXPECT_EQ(Text(Sample(PRECHARGE)), "PRE prt:1 bnk:3 row:4095 col:12 tag:77");
  EXPECT_EQ(Text(Sample(READ)), "READ prt:1 bnk:3 row:4095 col:12 tag:77");
  EXPECT_EQ(Text(Sample(WRITE)), "WRITE prt:1 bnk:3 row:4095 col:12 tag:77");
}

TEST(DRAMBusPacketText, RefreshPrintsPartitionAndBankOnly) {
  EXPECT_EQ(Text(Sample(REFRESH)), "REF prt:1 bnk:3");
}

TEST(DRAMBusPacketText, DataShowsEvenAsOneOrZeroBeforeTheTag) {
  DRAMBusPacket d = Sample(DATA);
  EXPECT_EQ(Text(d), "DATA prt:1 bnk:3 row:4095 col:12 (1) tag:77");
  d.even = false;
  EXPECT_EQ(Text(d), "DATA prt:1 bnk:3 row:4095 col:12 (0) tag:77");
}

TEST(DRAMBusPacketText, UnknownCommandPrintsOnlyTheErrorLine) {
  DRAMBusPacket p = Sample(ACTIVATE);
  p.command = static_cast<DRAMCommand>(6);
  EXPECT_EQ(Text(p), "EVEN BIGGER ERROR!!!!!!!!!!!!!!!!!!!\n");
}

TEST(DRAMBusPacketText, NumbersAreDecimalWhateverTheStreamMode) {
  std::ostringstream os;
  os << std::hex << Sample(ACTIVATE);
  EXPECT_EQ(os.str(), "ACT prt:1 bnk:3 row:4095 col:12 tag:77");
}

TEST(DRAMBusPacketRecord, DefaultIsDataToNoBankWithEvenSet) {
  DRAMBusPacket p;
  EXPECT_EQ(p.command, DATA);
  EXPECT_EQ(p.partition, 0xFFFFFFFFu);
  EXPECT_EQ(p.bank, 0xFFFFFFFFu);
  EXPECT_EQ(p.row, 0xFFFFFFFFu);
  EXPECT_EQ(p.col, 0xFFFFFFFFu);
  EXPECT_TRUE(p.even);
  EXPECT_EQ(p.readyTime, sc_core::SC_ZERO_TIME);
}

TEST(DRAMBusPacketRecord, FullConstructorSetsEvenTrue) {
  const DRAMBusPacket p = Sample(WRITE);
  EXPECT_EQ(p.command, WRITE);
  EXPECT_EQ(p.partition, 1u);
  EXPECT_EQ(p.bank, 3u);
  EXPECT_EQ(p.row, 4095u);
  EXPECT_EQ(p.col, 12u);
  EXPECT_EQ(p.tag, 77u);
  EXPECT_TRUE(p.even);
  EXPECT_EQ(p.readyTime, sc_time(5, sc_core::SC_NS));
}

TEST(DRAMBusPacketRecord, EqualityComparesEveryFieldIncludingEvenAndReadyTime) {
  const DRAMBusPacket a = Sample(DATA);
  EXPECT_TRUE(a == Sample(DATA));
  DRAMBusPacket b = a;
  EXPECT_TRUE(a == b);
  b.even = false;
  EXPECT_FALSE(a == b) << "the two halves of a read must be distinct bus values";
  b = a;
  b.readyTime = sc_time(6, sc_core::SC_NS);
  EXPECT_FALSE(a == b);
  for (int field = 0; field < 6; ++field) {
    b = a;
    switch (field) {
    case 0: b.command = READ; break;
    case 1: b.partition = 0; break;
    case 2: b.bank = 0; break;
    case 3: b.row = 0; break;
    case 4: b.col = 0; break;
    case 5: b.tag = 0; break;
    }
    EXPECT_FALSE(a == b) << "field " << field;
  }
}
