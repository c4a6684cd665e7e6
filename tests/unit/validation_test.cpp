// Validation of a loaded configuration: every rule's exact lines and exit
// status, the order in which rules are tested, and values at their limits that
// must pass. Each check runs in a child process, since a failing rule ends it.
#include "quor2_utils.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace Orvane::Internal::QUOR2;
using sc_core::SC_NS;
using sc_core::SC_PS;
using sc_core::sc_time;

namespace {

using Change = std::function<void(Config&)>;

// In the child: the check's lines go to standard error, where the death test
// looks; a configuration that passes prints a marker and exits 0.
[[noreturn]] void Check(const Change& change) {
  std::cout.flush();
  dup2(STDERR_FILENO, STDOUT_FILENO);
  Config cfg;
  change(cfg);
  IniReader reader(true, false);
  reader.CustomerSafetyCheck(cfg);
  std::cout << "VALID" << std::endl;
  std::exit(0);
}

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (std::string(".[]()*+?{}|^$\\").find(c) != std::string::npos) out += '\\';
    out += c;
  }
  return out;
}

// The lines exactly, as the last output of the child.
std::string Exactly(const std::vector<std::string>& lines) {
  std::string re = "(^|\n)";
  for (const auto& l : lines) re += Escape(l) + "\n";
  return re + "$";
}

struct Rule {
  const char* name;
  Change change;
  std::vector<std::string> lines;
};

const std::string kPleaseWidth = "        Please use a width outlined in the spec";

// The seventeen published rules, in their order.
const std::vector<Rule>& PublishedRules() {
  static const std::vector<Rule> rules = {
      {"1 no generators", [](Config& c) { c.NUM_GENERATORS = 0; },
       {"ERROR - Please use between 1 and 4 traffic generators"}},
      {"1 five generators", [](Config& c) { c.NUM_GENERATORS = 5; },
       {"ERROR - Please use between 1 and 4 traffic generators"}},
      {"2 zero requests", [](Config& c) { c.NUM_REQUESTS = 0; },
       {"ERROR - No point in simulating with 0 requests"}},
      {"3 request stream", [](Config& c) { c.REQUEST_STREAM = 5; },
       {"ERROR - Please pick a valid request stream"}},
      {"4 read percentage", [](Config& c) { c.PERCENTAGE_READ = 150; },
       {"ERROR - Read percentage should be between 0 and 100"}},
      {"5 read sizes", [](Config& c) { c.PERCENTAGE_RD_16B = 1; },
       {"ERROR - Read request size percentages don't equal 100%"}},
      {"5 write sizes", [](Config& c) { c.PERCENTAGE_WR_64B = 90; },
       {"ERROR - Read request size percentages don't equal 100%"}},
      {"6 link rate", [](Config& c) { c.LINK_SPEED = 12.50001f; },
       {"ERROR - Unknown link rate : 12.5", "        Please use a rate outlined in the spec"}},
      {"6 link rate 20", [](Config& c) { c.LINK_SPEED = 20.0f; },
       {"ERROR - Unknown link rate : 20", "        Please use a rate outlined in the spec"}},
      {"7 link 0 width", [](Config& c) { c.LINK_0_WIDTH = 4; },
       {"ERROR - Unknown link 0 width :4", kPleaseWidth}},
      {"8 link 1 width", [](Config& c) { c.LINK_1_WIDTH = 32; },
       {"ERROR - Unknown link 1 width :32", kPleaseWidth}},
      {"9 link 2 width", [](Config& c) { c.LINK_2_WIDTH = 0; },
       {"ERROR - Unknown link 2 width :0", kPleaseWidth}},
      {"10 link 3 width, even with one link", [](Config& c) {
         c.NUM_LINKS = 1;
         c.LINK_3_WIDTH = 12;
       },
       {"ERROR - Unknown link 3 width :12", kPleaseWidth,
        "ERROR - NUM_LINKS must equal NUM_QUADS (each quad owns one link)"}},
      {"11 request buffer", [](Config& c) { c.REQUEST_BUFFER_SIZE = 8; },
       {"ERROR - Request buffer size must be large enough to hold largest packet size - 9 flits"}},
      {"12 no tags", [](Config& c) { c.TAGS_PER_LINK = 0; },
       {"ERROR - Each link must have between 1 and 512 tags"}},
      {"12 too many tags", [](Config& c) { c.TAGS_PER_LINK = 513; },
       {"ERROR - Each link must have between 1 and 512 tags"}},
      {"13 too few tokens", [](Config& c) { c.TOKENS_PER_LINK = 8; },
       {"ERROR - Each link must have between 9 and 219 tokens"}},
      {"13 too many tokens", [](Config& c) { c.TOKENS_PER_LINK = 220; },
       {"ERROR - Each link must have between 9 and 219 tokens"}},
      {"14 host mapping", [](Config& c) { c.HOST_MAPPING = 3; },
       {"ERROR - Unknown host mapping - please pick between from below : ",
        "        0 - random link assignment", "        1 - assign to link for local access",
        "        2 - use generator or trace reader index"}},
      {"15 partitions", [](Config& c) { c.NUM_PARTITIONS = 3; },
       {"ERROR - Number of partitions (stack height) must be 2 or 4"}},
      {"16 block size", [](Config& c) { c.MAX_BLOCK_SIZE = 256; },
       {"ERROR - Max block size must be 32, 64, or 128"}},
      {"17 Tj", [](Config& c) { c.Tj = 106; },
       {"ERROR - Tj must be less than or equal to 105 C"}},
  };
  return rules;
}

// Geometry of one quad with one vault (used to reach rules behind the
// quad/vault ones).
void OneQuad(Config& c, unsigned vaults) {
  c.NUM_QUADS = 1;
  c.NUM_LINKS = 1;
  c.VAULTS_PER_QUAD = vaults;
  c.NUM_VAULTS = vaults;
}

// Rules added after the seventeen: values that would crash, hang or index
// outside the model's tables.
const std::vector<Rule>& ModelLimitRules() {
  static const std::vector<Rule> rules = {
      {"warm-up as long as the run",
       [](Config& c) { c.WARMUP_NS = c.SIM_TIME; },
       {"ERROR - WARMUP_NS (100 us) must be shorter than SIM_TIME (100 us): the statistics would "
        "cover no time"}},
      {"size share wrapping to 100",
       [](Config& c) {
         c.PERCENTAGE_RD_16B = 0x80000000u;
         c.PERCENTAGE_RD_32B = 0x80000000u;
       },
       {"ERROR - Request size percentages must each be between 0 and 100"}},
      {"core clock zero", [](Config& c) { c.CORE_CLK = sc_core::SC_ZERO_TIME; },
       {"ERROR - CORE_CLK must be greater than 0"}},
      {"no quads", [](Config& c) { c.NUM_QUADS = 0; },
       {"ERROR - NUM_QUADS must be between 1 and 4"}},
      {"five quads", [](Config& c) { c.NUM_QUADS = 5; },
       {"ERROR - NUM_QUADS must be between 1 and 4"}},
      {"links differ from quads", [](Config& c) { c.NUM_LINKS = 3; },
       {"ERROR - NUM_LINKS must equal NUM_QUADS (each quad owns one link)"}},
      {"vaults per quad not a power of two", [](Config& c) { c.VAULTS_PER_QUAD = 3; },
       {"ERROR - VAULTS_PER_QUAD must be a power of two"}},
      {"no vaults per quad", [](Config& c) { c.VAULTS_PER_QUAD = 0; },
       {"ERROR - VAULTS_PER_QUAD must be a power of two"}},
      {"vault count mismatch", [](Config& c) { c.NUM_VAULTS = 8; },
       {"ERROR - NUM_VAULTS must equal NUM_QUADS x VAULTS_PER_QUAD"}},
      {"vault count not a power of two", [](Config& c) {
         c.NUM_QUADS = 3;
         c.NUM_LINKS = 3;
         c.NUM_VAULTS = 12;
       },
       {"ERROR - NUM_VAULTS must be a power of two"}},
      {"vault switch sources", [](Config& c) {
         c.NUM_QUADS = 2;
         c.NUM_LINKS = 2;
         c.VAULTS_PER_QUAD = 32;
         c.NUM_VAULTS = 64;
       },
       {"ERROR - A vault switch serves at most 32 sources (VAULTS_PER_QUAD + NUM_QUADS - 1)"}},
      {"banks", [](Config& c) { c.NUM_BANKS = 3; }, {"ERROR - NUM_BANKS must be a power of two"}},
      {"no banks", [](Config& c) { c.NUM_BANKS = 0; }, {"ERROR - NUM_BANKS must be a power of two"}},
      {"rows", [](Config& c) { c.NUM_ROWS = 1000; }, {"ERROR - NUM_ROWS must be a power of two"}},
      {"cols", [](Config& c) { c.NUM_COLS = 48; }, {"ERROR - NUM_COLS must be a power of two"}},
      {"byte offset", [](Config& c) { c.BYTE_OFFSET = 24; },
       {"ERROR - BYTE_OFFSET must be a power of two"}},
      {"byte offset above block", [](Config& c) { c.BYTE_OFFSET = 256; },
       {"ERROR - A row must hold whole blocks: BYTE_OFFSET <= MAX_BLOCK_SIZE <= NUM_COLS x "
        "BYTE_OFFSET"}},
      {"row shorter than a block", [](Config& c) { c.NUM_COLS = 4; },
       {"ERROR - A row must hold whole blocks: BYTE_OFFSET <= MAX_BLOCK_SIZE <= NUM_COLS x "
        "BYTE_OFFSET"}},
      {"2GB device", [](Config& c) { c.NUM_ROWS = 1u << 15; },
       {"ERROR - The vault geometry addresses more than the 2GB device holds"}},
      {"4GB device", [](Config& c) {
         c.NUM_PARTITIONS = 4;
         c.NUM_ROWS = 1u << 15;
       },
       {"ERROR - The vault geometry addresses more than the 4GB device holds"}},
      {"flit size", [](Config& c) { c.FLIT_SIZE = 32; }, {"ERROR - FLIT_SIZE must be 16 bytes"}},
      {"mapping scheme", [](Config& c) { c.MAPPING_SCHEME = 1; },
       {"ERROR - Only address mapping scheme 0 is supported"}},
      {"column access zero", [](Config& c) { c.COLUMN_ACCESS_LENGTH = 0; },
       {"ERROR - COLUMN_ACCESS_LENGTH must be between 1 and 32 bytes"}},
      {"column access 33", [](Config& c) { c.COLUMN_ACCESS_LENGTH = 33; },
       {"ERROR - COLUMN_ACCESS_LENGTH must be between 1 and 32 bytes"}},
      {"link flits zero", [](Config& c) { c.FLITS_PER_CYCLE_LINK = 0; },
       {"ERROR - FLITS_PER_CYCLE_LINK must be at least 1"}},
      {"lsw flits zero", [](Config& c) { c.FLITS_PER_CYCLE_LSW = 0; },
       {"ERROR - FLITS_PER_CYCLE_LSW must be at least 1"}},
      {"remote flits zero", [](Config& c) { c.FLITS_PER_CYCLE_LSW_REMOTE = 0; },
       {"ERROR - FLITS_PER_CYCLE_LSW_REMOTE must be at least 1"}},
      {"vsw flits zero", [](Config& c) { c.FLITS_PER_CYCLE_VSW = 0; },
       {"ERROR - FLITS_PER_CYCLE_VSW must be at least 1"}},
      {"vc in flits zero", [](Config& c) { c.FLITS_IN_PER_CYCLE_VC = 0; },
       {"ERROR - FLITS_IN_PER_CYCLE_VC must be at least 1"}},
      {"vc out flits one", [](Config& c) { c.FLITS_OUT_PER_CYCLE_VC = 1; },
       {"ERROR - FLITS_OUT_PER_CYCLE_VC must be at least 2"}},
      {"write credits zero", [](Config& c) { c.WRITE_CREDITS_PER_CYCLE = 0; },
       {"ERROR - WRITE_CREDITS_PER_CYCLE must be at least 1"}},
      {"token return zero", [](Config& c) { c.MAX_TOKEN_RETURN = 0; },
       {"ERROR - MAX_TOKEN_RETURN must be at least 1"}},
      {"lsw above link", [](Config& c) { c.FLITS_PER_CYCLE_LSW = 4; },
       {"ERROR - FLITS_PER_CYCLE_LSW must not exceed FLITS_PER_CYCLE_LINK"}},
      {"remote above lsw", [](Config& c) { c.FLITS_PER_CYCLE_LSW = 2; },
       {"ERROR - FLITS_PER_CYCLE_LSW_REMOTE must not exceed FLITS_PER_CYCLE_LSW"}},
      {"link delivers more than its rate", [](Config& c) {
         c.FLITS_PER_CYCLE_LINK = 2;
         c.FLITS_PER_CYCLE_LSW = 2;
         c.FLITS_PER_CYCLE_LSW_REMOTE = 2;
       },
       {"ERROR - FLITS_PER_CYCLE_LINK must be at least 3, the flits link 0 delivers per core "
        "cycle"}},
      {"host's flits bring one more in some core cycles", [](Config& c) {
         c.CORE_CLK = sc_time(3750, SC_PS);
         c.tCMD = sc_time(625, SC_PS);
         c.FLITS_PER_CYCLE_LINK = 7;
       },
       {"ERROR - FLITS_PER_CYCLE_LINK must be at least 8: the host's flits reach a link 8 in some "
        "core cycles (the core period is not a whole number of flit periods)"}},
      {"tCMD zero", [](Config& c) { c.tCMD = sc_core::SC_ZERO_TIME; },
       {"ERROR - tCMD must be greater than 0"}},
      {"core clock not a multiple of tCMD", [](Config& c) { c.tCMD = sc_time(700, SC_PS); },
       {"ERROR - CORE_CLK must be a whole multiple of tCMD, at least 2"}},
      {"core clock one tCMD", [](Config& c) { c.tCMD = sc_time(1600, SC_PS); },
       {"ERROR - CORE_CLK must be a whole multiple of tCMD, at least 2"}},
      {"tRP short", [](Config& c) { c.tRP = sc_time(4799, SC_PS); },
       {"ERROR - tRP must be at least 3 core clock cycles"}},
      {"refresh interval", [](Config& c) {
         OneQuad(c, 1);
         c.NUM_PARTITIONS = 4;
         c.NUM_BANKS = 8;
         c.NUM_ROWS = 1u << 20;
         c.NUM_COLS = 2;
         c.MAX_BLOCK_SIZE = 32;
       },
       {"ERROR - The refresh interval would be shorter than a core clock cycle"}},
      {"refresh interval hot", [](Config& c) {
         OneQuad(c, 1);
         c.NUM_PARTITIONS = 4;
         c.NUM_BANKS = 4;
         c.NUM_ROWS = 1u << 20;
         c.NUM_COLS = 2;
         c.MAX_BLOCK_SIZE = 32;
         c.Tj = 95;
       },
       {"ERROR - The refresh interval would be shorter than a core clock cycle"}},
      {"transaction queue", [](Config& c) { c.TRANSACTION_Q_CAPACITY = 0; },
       {"ERROR - TRANSACTION_Q_CAPACITY must be at least 1"}},
      {"request queue", [](Config& c) { c.REQUEST_Q_CAPACITY = 0; },
       {"ERROR - REQUEST_Q_CAPACITY must be at least 1"}},
      {"lsw interquad buffer", [](Config& c) { c.LSW_INTERQUAD_BUFFER_SIZE = 0; },
       {"ERROR - LSW_INTERQUAD_BUFFER_SIZE must be at least 1"}},
      {"smoothing lm", [](Config& c) { c.SMOOTHING_BUFFER_LM_SIZE = 0; },
       {"ERROR - SMOOTHING_BUFFER_LM_SIZE must be at least 1"}},
      {"smoothing q", [](Config& c) { c.SMOOTHING_BUFFER_Q_SIZE = 0; },
       {"ERROR - SMOOTHING_BUFFER_Q_SIZE must be at least 1"}},
      {"vsw interquad buffer", [](Config& c) { c.VSW_INTERQUAD_BUFFER_SIZE = 0; },
       {"ERROR - VSW_INTERQUAD_BUFFER_SIZE must be at least 1"}},
      {"data queue", [](Config& c) { c.DATA_Q_CAPACITY = 9; },
       {"ERROR - DATA_Q_CAPACITY must be at least 10"}},
      {"link master buffer", [](Config& c) { c.LINK_MASTER_BUFFER_SIZE = 8; },
       {"ERROR - LINK_MASTER_BUFFER_SIZE must be at least 9"}},
      {"processing credits", [](Config& c) { c.CREDITS_FOR_PROCESSING = 8; },
       {"ERROR - CREDITS_FOR_PROCESSING must be at least 9"}},
      {"lsw input buffer", [](Config& c) { c.LSW_INPUT_BUFFER_SIZE = 10; },
       {"ERROR - LSW_INPUT_BUFFER_SIZE must be at least 11 (FLITS_PER_CYCLE_LSW + 8): the link "
        "may open that many lines after it is held back, finishing a 9-flit packet"}},
      {"vsw response buffer", [](Config& c) { c.VSW_RESPONSE_BUFFER_SIZE = 8; },
       {"ERROR - VSW_RESPONSE_BUFFER_SIZE must be at least CREDITS_FOR_PROCESSING"}},
      {"streams 1 and 2 need quads", [](Config& c) {
         c.NUM_QUADS = 2;
         c.NUM_LINKS = 2;
         c.NUM_VAULTS = 8;
         c.REQUEST_STREAM = 2;
       },
       {"ERROR - Request streams 1 and 2 need a quad for every generator"}},
      {"streams 3 and 4 need 4 quads", [](Config& c) {
         c.NUM_QUADS = 2;
         c.NUM_LINKS = 2;
         c.NUM_VAULTS = 8;
         c.NUM_GENERATORS = 2;
         c.REQUEST_STREAM = 3;
       },
       {"ERROR - Request streams 3 and 4 need 4 quads"}},
      {"streams 3 and 4 need 2 generators", [](Config& c) { c.REQUEST_STREAM = 4; },
       {"ERROR - Request streams 3 and 4 are for 2-Link simulations only",
        "        Please set NUM_GENERATORS to 2"}},
      {"mixed link widths", [](Config& c) { c.LINK_2_WIDTH = 8; },
       {"ERROR - LINK_0_WIDTH to LINK_3_WIDTH must all be equal: the host controller drives "
        "every link at one width"}},
  };
  return rules;
}

} // namespace

TEST(ValidationPublishedRules, EachFailingRulePrintsItsLinesAndExitsOne) {
  for (const auto& rule : PublishedRules()) {
    EXPECT_EXIT(Check(rule.change), ::testing::ExitedWithCode(1), Exactly(rule.lines))
        << "rule " << rule.name;
  }
}

TEST(ValidationModelLimits, EachFailingRulePrintsItsLineAndExitsOne) {
  for (const auto& rule : ModelLimitRules()) {
    EXPECT_EXIT(Check(rule.change), ::testing::ExitedWithCode(1), Exactly(rule.lines))
        << "rule " << rule.name;
  }
}

TEST(ValidationOrder, EveryFailingRuleIsReportedInTheOrderOfTheRules) {
  EXPECT_EXIT(Check([](Config& c) {
                c.Tj = 200;
                c.NUM_REQUESTS = 0;
                c.NUM_GENERATORS = 5;
              }),
              ::testing::ExitedWithCode(1),
              Exactly({"ERROR - Please use between 1 and 4 traffic generators",
                       "ERROR - No point in simulating with 0 requests",
                       "ERROR - Tj must be less than or equal to 105 C"}));
  EXPECT_EXIT(Check([](Config& c) {
                c.CORE_CLK = sc_core::SC_ZERO_TIME;
                c.Tj = 200;
              }),
              ::testing::ExitedWithCode(1),
              Exactly({"ERROR - Tj must be less than or equal to 105 C",
                       "ERROR - CORE_CLK must be greater than 0"}));
  EXPECT_EXIT(Check([](Config& c) {
                c.LINK_0_WIDTH = 4;
                c.LINK_2_WIDTH = 4;
              }),
              ::testing::ExitedWithCode(1),
              Exactly({"ERROR - Unknown link 0 width :4", kPleaseWidth,
                       "ERROR - Unknown link 2 width :4", kPleaseWidth}));
}

TEST(ValidationLimits, DefaultsAndValuesAtEveryLimitPass) {
  const std::vector<std::pair<const char*, Change>> valid = {
      {"defaults", [](Config&) {}},
      {"one generator", [](Config& c) { c.NUM_GENERATORS = 1; }},
      {"stream 4, all reads", [](Config& c) {
         c.REQUEST_STREAM = 4;
         c.NUM_GENERATORS = 2;
         c.PERCENTAGE_READ = 100;
       }},
      {"rates and widths", [](Config& c) {
         c.LINK_SPEED = 12.5f;
         c.LINK_0_WIDTH = 8;
         c.LINK_1_WIDTH = 8;
         c.LINK_2_WIDTH = 8;
         c.LINK_3_WIDTH = 8;
       }},
      {"rate 10", [](Config& c) { c.LINK_SPEED = 10.0f; }},
      {"warm-up 1 ps short of the run", [](Config& c) { c.WARMUP_NS = c.SIM_TIME - sc_time(1, SC_PS); }},
      {"lower limits", [](Config& c) {
         c.REQUEST_BUFFER_SIZE = 9;
         c.DATA_Q_CAPACITY = 10;
         c.LSW_INPUT_BUFFER_SIZE = 11;
         c.TAGS_PER_LINK = 1;
         c.TOKENS_PER_LINK = 9;
         c.Tj = 105;
         c.MAX_BLOCK_SIZE = 32;
         c.HOST_MAPPING = 0;
       }},
      {"upper limits", [](Config& c) {
         c.TAGS_PER_LINK = 512;
         c.TOKENS_PER_LINK = 219;
         c.NUM_PARTITIONS = 4;
         c.MAX_BLOCK_SIZE = 64;
       }},
      {"tRP three cycles", [](Config& c) { c.tRP = sc_time(4800, SC_PS); }},
      {"core clock two tCMD", [](Config& c) { c.tCMD = sc_time(800, SC_PS); }},
      {"one quad one vault", [](Config& c) {
         OneQuad(c, 1);
         c.NUM_GENERATORS = 1;
       }},
      {"trace sources ignore stream rules", [](Config& c) {
         OneQuad(c, 4);
         c.USE_TRACE = true;
         c.REQUEST_STREAM = 3;
       }},
      {"geometry at the 2GB limit", [](Config& c) { c.NUM_ROWS = 1u << 14; }},
      {"refresh off allows a huge geometry", [](Config& c) {
         OneQuad(c, 1);
         c.NUM_PARTITIONS = 4;
         c.NUM_BANKS = 8;
         c.NUM_ROWS = 1u << 20;
         c.NUM_COLS = 2;
         c.MAX_BLOCK_SIZE = 32;
         c.REFRESH_ENABLED = false;
       }},
  };
  for (const auto& v : valid)
    EXPECT_EXIT(Check(v.second), ::testing::ExitedWithCode(0), Exactly({"VALID"})) << v.first;
}

TEST(ValidationThroughTheReader, ReadPercentageFromAFileExitsOne) {
  const std::string path = ::testing::TempDir() + "/validation_rule4.ini";
  FILE* f = std::fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs("PERCENTAGE_READ = 150\n", f);
  std::fclose(f);
  EXPECT_EXIT(
      {
        std::cout.flush();
        dup2(STDERR_FILENO, STDOUT_FILENO);
        delete GetConfig(path);
      },
      ::testing::ExitedWithCode(1),
      Exactly({"ERROR - Read percentage should be between 0 and 100"}));
  std::remove(path.c_str());
}

TEST(ValidationReport, ReturnsTheLinesOfEveryBrokenRuleWithoutEndingTheProcess) {
  Config cfg;
  EXPECT_TRUE(ValidationErrors(cfg).empty());
  cfg.Tj = 200;
  cfg.LINK_1_WIDTH = 4;
  EXPECT_EQ(ValidationErrors(cfg),
            (std::vector<std::string>{"ERROR - Unknown link 1 width :4", kPleaseWidth,
                                      "ERROR - Tj must be less than or equal to 105 C"}));
}
