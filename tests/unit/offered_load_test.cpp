// The open-loop keys and address-trace lines, read on their own: what the
// validation refuses, what an address line becomes, and the arrival times.
#include "quor2_offered_load.h"
#include "quor2_trace_reader.h"

#include <gtest/gtest.h>

#include <functional>

using namespace Orvane::Internal::QUOR2;

TEST(OfferedLoad, ValidationRefusesWhatCannotBeModelledNamingTheKey) {
  struct Case {
    std::function<void(Config&)> set;
    const char* error;  // the start of the one line expected; nullptr: none
  };
  const Case cases[] = {
      {[](Config&) {}, nullptr},
      {[](Config& c) { c.INJECTION_RATE = 25.5f; }, nullptr},
      {[](Config& c) { c.INJECTION_RATE = -1.0f; }, "ERROR - INJECTION_RATE must be at least 0"},
      {[](Config& c) { c.INJECTION_RATE = 1e9f; }, "ERROR - INJECTION_RATE must be at most 64000"},
      {[](Config& c) { c.INJECTION_PROCESS = "poisson"; }, nullptr},
      {[](Config& c) { c.INJECTION_PROCESS = "bursty"; }, "ERROR - INJECTION_PROCESS must be"},
      {[](Config& c) { c.TRACE_FORMAT = "address"; }, nullptr},
      {[](Config& c) { c.TRACE_FORMAT = "csv"; }, "ERROR - TRACE_FORMAT must be"},
      {[](Config& c) { c.TRACE_TIMING = "as_fast_as_possible"; }, nullptr},
      {[](Config& c) { c.TRACE_TIMING = "fast"; }, "ERROR - TRACE_TIMING must be"},
  };
  for (const auto& c : cases) {
    Config cfg;
    c.set(cfg);
    const auto lines = ValidationErrors(cfg);
    if (c.error == nullptr) {
      EXPECT_TRUE(lines.empty()) << lines.front();
    } else {
      ASSERT_EQ(lines.size(), 1u) << c.error;
      EXPECT_EQ(lines[0].rfind(c.error, 0), 0u) << lines[0];
    }
  }
}

TEST(OfferedLoad, FixedGapsAreExactAndPoissonGapsHaveTheirMeanAndRepeatWithTheSeed) {
  Config cfg;
  cfg.INJECTION_RATE = 8.0f;  // 64-byte requests: one per 8 ns
  ArrivalStream fixed(cfg, 0);
  EXPECT_EQ(fixed.NextPs(), 8000u);
  EXPECT_EQ(fixed.NextPs(), 16000u);
  cfg.INJECTION_PROCESS = "poisson";
  ArrivalStream a(cfg, 1), b(cfg, 1), other(cfg, 2);
  uint64_t last = 0;
  bool differs = false;
  constexpr unsigned n = 20000;
  for (unsigned k = 0; k < n; ++k) {
    last = a.NextPs();
    EXPECT_EQ(last, b.NextPs());
    differs |= last != other.NextPs();
  }
  EXPECT_TRUE(differs);
  EXPECT_NEAR(static_cast<double>(last) / n, 8000.0, 8000.0 * 0.03);
}

TEST(AddressTrace, LinesBecomeRequestsOrAreRefusedNamingTheField) {
  struct Case {
    const char* line;
    bool cycles;
    TraceLine::Kind kind;
    uint64_t timePs;  // or, for a refused line, unused
    bool read;
    uint64_t address;
    unsigned size;
    const char* field;  // of a refused line
  };
  const Case cases[] = {
      {"0 R 0x0", false, TraceLine::Request, 0, true, 0, 64, ""},
      {"12.5 W 0x1F80 128", false, TraceLine::Request, 12500, false, 0x1F80, 128, ""},
      {"  7\tr 4096 16  ", false, TraceLine::Request, 7000, true, 4096, 16, ""},
      {"10 R 0x40", true, TraceLine::Request, 16000, true, 0x40, 64, ""},
      {"# a comment", false, TraceLine::Skip, 0, false, 0, 0, ""},
      {"// another", false, TraceLine::Skip, 0, false, 0, 0, ""},
      {"   ", false, TraceLine::Skip, 0, false, 0, 0, ""},
      {"-1 R 0x0", false, TraceLine::Refused, 0, false, 0, 0, "time"},
      {"1.5 R 0x0", true, TraceLine::Refused, 0, false, 0, 0, "time"},
      {"ten R 0x0", false, TraceLine::Refused, 0, false, 0, 0, "time"},
      {"1 X 0x0", false, TraceLine::Refused, 0, false, 0, 0, "cmd"},
      {"1 R", false, TraceLine::Refused, 0, false, 0, 0, "address"},
      {"1 R 0xZZ", false, TraceLine::Refused, 0, false, 0, 0, "address"},
      {"1 R 12ab", false, TraceLine::Refused, 0, false, 0, 0, "address"},
      {"1 R 0x80000000", false, TraceLine::Refused, 0, false, 0, 0, "address"},
      {"1 R 0x0 72", false, TraceLine::Refused, 0, false, 0, 0, "bytes"},
      {"1 R 0x0 0", false, TraceLine::Refused, 0, false, 0, 0, "bytes"},
      {"1 R 0x0 256", false, TraceLine::Refused, 0, false, 0, 0, "bytes"},
  };
  Config cfg;
  for (const auto& c : cases) {
    const TraceLine t = ParseAddressLine(c.line, cfg, c.cycles);
    ASSERT_EQ(t.kind, c.kind) << c.line << ": " << t.error;
    if (c.kind == TraceLine::Refused) {
      EXPECT_EQ(t.field, c.field) << c.line;
      EXPECT_FALSE(t.error.empty()) << c.line;
    } else if (c.kind == TraceLine::Request) {
      EXPECT_EQ(t.timePs, c.timePs) << c.line;
      EXPECT_EQ(t.read, c.read) << c.line;
      EXPECT_EQ(t.address, c.address) << c.line;
      EXPECT_EQ(t.size, c.size) << c.line;
    }
  }
}

TEST(AddressTrace, TheFormatComesFromTheKeyOrTheHeader) {
  struct Case {
    const char* key;
    const char* first;
    bool address;
    bool cycles;
    bool error;
  };
  const Case cases[] = {
      {"auto", "id:1,lnk:0,cmd:enu_read,vlt:0,bnk:0,dram:0,dbytes:64,nop:0", false, false, false},
      {"auto", "# quorsim address trace", true, false, false},
      {"auto", "# quorsim address trace ns", true, false, false},
      {"auto", "# quorsim address trace cycles", true, true, false},
      {"auto", "# quorsim address trace weeks", true, false, true},
      {"address", "0 R 0x0", true, false, false},
      {"model", "# quorsim address trace", false, false, false},
  };
  for (const auto& c : cases) {
    Config cfg;
    cfg.TRACE_FORMAT = c.key;
    const TraceFormat f = FormatOfTrace(c.first, cfg);
    EXPECT_EQ(f.address, c.address) << c.key << " " << c.first;
    EXPECT_EQ(f.cycles, c.cycles) << c.first;
    EXPECT_EQ(!f.error.empty(), c.error) << c.first;
  }
}
