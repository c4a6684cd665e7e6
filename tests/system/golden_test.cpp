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

fs::path ExpectedPath(const Golden& g) {
  return fs::path(SourceDir()) / "tests" / "golden" / "expected" / (g.name + ".out");
}

// Runs one configuration in a directory of its own, where relative trace paths
// resolve as in the source tree: `program [prefix...] <config> [options...]`.
ProgramRun RunConfiguration(const Golden& g, const std::string& program,
                            std::vector<std::string> args, const std::vector<std::string>& options) {
  TempDir dir;
  fs::create_directory_symlink(fs::path(SourceDir()) / "traces", fs::path(dir.path) / "traces");
  args.push_back(g.config.string());
  args.insert(args.end(), options.begin(), options.end());
  ProgramRun run = RunProgram(program, args, dir.path);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  return run;
}

TEST_P(GoldenOutput, StandardOutputIsByteIdentical) {
  const Golden& g = GetParam();
  ASSERT_TRUE(fs::exists(ExpectedPath(g))) << "no expected output; run tools/update-goldens";
  const std::string expected = ReadFile(ExpectedPath(g));
  const std::string out = RunConfiguration(g, QuorsimProgram(), {}, {}).out;
  EXPECT_TRUE(out == expected) << FirstDifference(expected, out);
}

// The figures are the model's alone: idle processes of a host, built before and
// after the model, reshape the kernel's queues and must change nothing. Every
// other configuration also writes waveforms (its listing then names VCD_FILE, so
// it is compared with quorsim's run with waveforms).
TEST_P(GoldenOutput, HostProcessesBesideTheModelChangeNothing) {
  const Golden& g = GetParam();
  const std::vector<Golden> all = Goldens();
  const auto index = std::find_if(all.begin(), all.end(), [&](const Golden& o) { return o.name == g.name; }) -
                     all.begin();
  const bool waves = index % 2 == 1;
  const std::vector<std::string> options =
      waves ? std::vector<std::string>{"--vcd", "waves.vcd"} : std::vector<std::string>{};
  const std::string expected =
      waves ? RunConfiguration(g, QuorsimProgram(), {}, options).out : ReadFile(ExpectedPath(g));
  const std::string out = RunConfiguration(g, InertHostProgram(), {waves ? "1" : "3"}, options).out;
  EXPECT_TRUE(out == expected) << FirstDifference(expected, out);
}

INSTANTIATE_TEST_SUITE_P(Configurations, GoldenOutput, ::testing::ValuesIn(Goldens()),
                         [](const ::testing::TestParamInfo<Golden>& info) {
                           std::string name = info.param.name;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

} // namespace
