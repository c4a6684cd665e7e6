#include "quor2_flit.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace Orvane::Internal::QUOR2;

namespace {
std::string Text(const Flit& f) {
  std::ostringstream os;
  os << f;
  return os.str();
}
} // namespace

TEST(FlitText, ReadRequestPrintsHeaderAddressAndTail) {
  Flit f(5, 0x1A40, READ_REQUEST, 64, true, true, 1);
  EXPECT_EQ(Text(f), "[HEAD cmd:RD64 tag:5 addr:0x00001a40 #:1 tokens:0 TAIL]");
}

TEST(FlitText, MiddleAndTailFlitsOfAWrite) {
  Flit second(5, 0x1A40, WRITE_REQUEST, 64, false, false, 2);
  EXPECT_EQ(Text(second), "      cmd:WR64 tag:5 addr:0x00001a40 #:2 tokens:0");
  Flit last(5, 0x1A40, WRITE_REQUEST, 64, false, true, 5);
  EXPECT_EQ(Text(last), "      cmd:WR64 tag:5 addr:0x00001a40 #:5 tokens:0 TAIL]");
}

TEST(FlitText, TokenReturnNullAndUnknown) {
  Flit tr(3, ~0ull, TOKEN_RETURN, 0, true, true, 1);
  tr.returnTokens = 8;
  EXPECT_EQ(Text(tr), "[HEAD cmd:TOKEN_RETURN tag:3 tokens:8 TAIL]");
  Flit null(0xFFFFFFFF, ~0ull, NULL_COMMAND, 0, true, true, 1);
  EXPECT_EQ(Text(null), "[HEAD cmd:NULL_COMMAND tokens:0 TAIL]");
  Flit bad(1, 0, static_cast<QUORCommand>(13), 0, false, false, 1);
  EXPECT_EQ(Text(bad), "      Unknown Command!!! tokens:0");
  Flit wide(7, 0x123456789ull, ATOMIC_ADD16, 16, true, false, 1);
  EXPECT_EQ(Text(wide), "[HEAD cmd:ADD16 tag:7 addr:0x123456789 #:1 tokens:0");
}

TEST(FlitHandle, IdentityDecidesEquality) {
  Flit_P a(1, 0, READ_REQUEST, 64, true, true, 1);
  Flit_P b(1, 0, READ_REQUEST, 64, true, true, 1);
  EXPECT_FALSE(a == b);
  EXPECT_TRUE(*a == *b);
  Flit_P copy = a;
  EXPECT_TRUE(copy == a);
  EXPECT_EQ(b.uniqueID, a.uniqueID + 1);
  delete a.flit;
  delete b.flit;
}

TEST(FlitRecord, EqualityIgnoresRoutingFieldsAndTimestamps) {
  Flit a(1, 0x40, WRITE_REQUEST, 32, true, false, 1);
  Flit b = a;
  b.sourceLink = 3;
  b.destinationField = 9;
  b.leadingNullFlits = 4;
  b.startTimeLSW_L = sc_core::sc_time(5, sc_core::SC_NS);
  EXPECT_TRUE(a == b);
  b.currentLane = 2;
  EXPECT_FALSE(a == b);
}

TEST(FlitPacket, FlitCountsBySize) {
  EXPECT_EQ(PacketFlitCount(WRITE_REQUEST, 128, 16), 9u);
  EXPECT_EQ(PacketFlitCount(WRITE_REQUEST, 16, 16), 2u);
  EXPECT_EQ(PacketFlitCount(READ_REQUEST, 128, 16), 1u);
  EXPECT_EQ(PacketFlitCount(READ_RESPONSE, 64, 16), 5u);
  EXPECT_EQ(PacketFlitCount(ATOMIC_P_ADD16, 16, 16), 2u);
}
