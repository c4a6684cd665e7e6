// Golden outputs: every shipped configuration and every configuration under
// tests/golden/ prints exactly the standard output committed for it. A change
// that must not alter results is checked here; tools/update-goldens rewrites
// the expected files when a change is meant to.
#include "support/process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace quortest;
namespace fs = std::filesystem;

namespace {

struct Golden {
  std::string name;    // expected/<name>.out
  fs::path config;
};

void PrintTo(const Golden& g, std::ostream* os) { *os << g.name; }

std::vector<Golden> Goldens() {
  std::vector<Golden> all;
  const fs::path source = SourceDir();
  for (const auto& [dir, prefix] : {std::pair{source / "configs", "configs-"},
                                    std::pair{source / "tests" / "golden", ""}}) {
    for (const auto& entry : fs::directory_iterator(dir))
      if (entry.path().extension() == ".ini")
        all.push_back({prefix + entry.path().stem().string(), entry.path()});
  }
  std::sort(all.begin(), all.end(), [](const Golden& a, const Golden& b) { return a.name < b.name; });
  return all;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The first line where two outputs part, for a readable failure.
std::string FirstDifference(const std::string& expected, const std::string& actual) {
  std::istringstream e(expected), a(actual);
  std::string le, la;
  for (unsigned line = 1;; ++line) {
    const bool moreE = static_cast<bool>(std::getline(e, le));
    const bool moreA = static_cast<bool>(std::getline(a, la));
    if (!moreE && !moreA) return "same lines, different line ends";
    if (le != la || moreE != moreA)
      return "line " + std::to_string(line) + ":\n  expected: " + le + "\n  actual:   " + la;
  }
}

class GoldenOutput : public ::testing::TestWithParam<Golden> {};

TEST_P(GoldenOutput, StandardOutputIsByteIdentical) {
  const Golden& g = GetParam();
  const fs::path expectedPath = fs::path(SourceDir()) / "tests" / "golden" / "expected" / (g.name + ".out");
  ASSERT_TRUE(fs::exists(expectedPath)) << "no expected output; run tools/update-goldens";
  // Each run has a directory of its own; relative trace paths in the
  // configurations resolve there as in the source tree.
  TempDir dir;
  fs::create_directory_symlink(fs::path(SourceDir()) / "traces", fs::path(dir.path) / "traces");
  const ProgramRun run = RunProgram(QuorsimProgram(), {g.config.string()}, dir.path);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  const std::string expected = ReadFile(expectedPath);
  EXPECT_TRUE(run.out == expected) << FirstDifference(expected, run.out);
}

INSTANTIATE_TEST_SUITE_P(Configurations, GoldenOutput, ::testing::ValuesIn(Goldens()),
                         [](const ::testing::TestParamInfo<Golden>& info) {
                           std::string name = info.param.name;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

} // namespace
