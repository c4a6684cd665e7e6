// Trace lines read on their own: what is a request, what is skipped with or
// without a word, and what is refused, naming the field.
#include "quor2_trace_reader.h"

#include <gtest/gtest.h>

#include <random>

using namespace Orvane::Internal::QUOR2;

namespace {
// The model's example line, with a dram value that fits a 2 GB device.
const char* const kExample = "id:0005,lnk:1,cmd:enu_write,vlt:8,bnk:4,dram:0x1E60,dbytes:128,nop:3";

// The example line with one field's value replaced.
std::string With(const std::string& field, const std::string& value) {
  std::string line = kExample;
  const auto at = line.find(field + ":");
  const auto end = line.find(',', at);
  return line.replace(at, (end == std::string::npos ? line.size() : end) - at, field + ":" + value);
}
} // namespace

TEST(TraceLine, RequestsAreReadAsTheFileSaysWithAWarningForTextAfterANumber) {
  const Config cfg;
  const struct {
    std::string line;
    uint64_t address;
    unsigned size;
    unsigned nops;
    size_t warnings;
  } cases[] = {
      {kExample, 0x7982400u, 128, 3, 0},
      {With("dram", "1E60"), 0x7982400u, 128, 3, 0},
      {With("dbytes", "64B"), 0x7982400u, 64, 3, 1},
      {With("nop", "0"), 0x7982400u, 128, 0, 0},
      {std::string(kExample) + ",more:1", 0x7982400u, 128, 3, 1},
      {With("dram", "0x7FFF"), (((0x7FFFull << 3 | 4) << 4) | 8) << 7, 128, 3, 0},
  };
  for (const auto& c : cases) {
    const TraceLine t = ParseTraceLine(c.line, cfg);
    ASSERT_EQ(t.kind, TraceLine::Request) << c.line << ": " << t.error;
    EXPECT_EQ(t.address, c.address) << c.line;
    EXPECT_EQ(t.size, c.size) << c.line;
    EXPECT_EQ(t.nops, c.nops) << c.line;
    EXPECT_EQ(t.warnings.size(), c.warnings) << c.line;
  }
}

TEST(TraceLine, CommentsAndOnePieceLinesAreSkippedAndTextIsNotSkippedSilently) {
  const Config cfg;
  const std::pair<const char*, size_t> cases[] = {
      {"", 0}, {"   ", 0}, {"// id:1,lnk:0", 0}, {"hello world", 1}, {"id:1", 1}};
  for (const auto& [line, warnings] : cases) {
    const TraceLine t = ParseTraceLine(line, cfg);
    EXPECT_EQ(t.kind, TraceLine::Skip) << line;
    EXPECT_EQ(t.warnings.size(), warnings) << line;
  }
}

TEST(TraceLine, WhatTheModelCannotHonourIsRefusedNamingTheField) {
  const Config cfg;
  const struct {
    std::string line;
    const char* field;
    const char* message; // the model's own first message line, or ""
  } cases[] = {
      {"id:1,lnk:0", "cmd", "Malformed"},
      {With("lnk", "4"), "lnk", "ERROR = Link address 4 not supported"},
      {With("lnk", "-1"), "lnk", "ERROR = Link address -1 not supported"},
      {With("lnk", ""), "lnk", ""},
      {With("cmd", "ENU_READ"), "cmd", "ERROR = Unknown command : ENU_READ"},
      {With("vlt", "abc"), "vlt", ""},
      {With("vlt", "16"), "vlt", "ERROR = Incorrect vault address : 16"},
      {With("vlt", "-2"), "vlt", "ERROR = Incorrect vault address : -2"},
      {With("bnk", "8"), "bnk", "ERROR = Incorrect bank address : 8"},
      // The model's own example asks for an address beyond 2 GB.
      {With("dram", "0x91E60"), "dram",
       "== ERROR - Address (0x247982400) outside of address space for 2GB QUOR"},
      {With("dram", "0x20000"), "dram",
       "== ERROR - Address (0x80002400) outside of address space for 2GB QUOR"},
      {With("dram", "0xFFFFFFFF"), "dram",
       "== ERROR - Address (0x3fffffffe400) outside of address space for 2GB QUOR"},
      {With("dram", "-5"), "dram", ""},
      {With("dram", "zz"), "dram", ""},
      {With("dram", "0xFFFFFFFFFFFFFFFFFF"), "dram", ""},
      {With("dbytes", "256"), "dbytes", "ERROR - Unsupported data size : 256"},
      {With("dbytes", "0"), "dbytes", "ERROR - Unsupported data size : 0"},
      {With("dbytes", "17"), "dbytes", "ERROR - Unsupported data size : 17"},
      {With("dbytes", "100"), "dbytes", "ERROR - Unsupported data size : 100"},
      {With("dbytes", "-64"), "dbytes", ""},
      {With("dbytes", ""), "dbytes", ""},
      {With("nop", "-1"), "nop", ""},
      {With("nop", "4294967295"), "nop", ""},
  };
  for (const auto& c : cases) {
    const TraceLine t = ParseTraceLine(c.line, cfg);
    ASSERT_EQ(t.kind, TraceLine::Refused) << c.line;
    EXPECT_EQ(t.field, c.field) << c.line;
    EXPECT_FALSE(t.error.empty()) << c.line;
    const std::string first = t.malformed ? "Malformed" : t.messages.empty() ? "" : t.messages[0];
    EXPECT_EQ(first, c.message) << c.line;
  }
}

// Any line, however damaged, is a valid request, a skip or a refusal: a
// request never carries a size, null count or address the model cannot take.
TEST(TraceLine, DamagedLinesNeverBecomeRequestsTheModelCannotTake) {
  Config cfg;
  std::mt19937 rng(7);
  const std::string alphabet = "0123456789abcdefxX:-,/ \t+.BzZ";
  for (unsigned i = 0; i < 20000; ++i) {
    std::string line = kExample;
    const unsigned edits = 1 + rng() % 4;
    for (unsigned e = 0; e < edits; ++e) {
      const size_t at = rng() % (line.size() + 1);
      switch (rng() % 3) {
      case 0: line.insert(at, 1, alphabet[rng() % alphabet.size()]); break;
      case 1:
        if (at < line.size()) line.erase(at, 1);
        break;
      default:
        if (at < line.size()) line[at] = alphabet[rng() % alphabet.size()];
      }
    }
    const TraceLine t = ParseTraceLine(line, cfg);
    if (t.kind != TraceLine::Request) continue;
    EXPECT_TRUE(t.size >= 16 && t.size <= 128 && t.size % 16 == 0) << line;
    EXPECT_LE(t.nops, kMaxTraceNops) << line;
    EXPECT_LT(t.address, uint64_t{1} << 31) << line;
    EXPECT_LT(t.link, cfg.NUM_LINKS) << line;
    EXPECT_LT(t.vault, cfg.NUM_VAULTS) << line;
  }
}
