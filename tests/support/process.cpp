#include "support/process.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <signal.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace quortest {

std::vector<std::string> ProgramRun::OutLines() const {
  std::vector<std::string> lines;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

namespace {
std::string Slurp(const std::filesystem::path& p) {
  std::ifstream in(p);
  std::ostringstream os;
  os << in.rdbuf();
  return os.str();
}
} // namespace

namespace {
pid_t Start(const std::string& program, const std::vector<std::string>& args,
            const std::filesystem::path& workDir) {
  const auto outPath = workDir / ".stdout";
  const auto errPath = workDir / ".stderr";
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(workDir.c_str()) != 0) _exit(127);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0) _exit(127);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

ProgramRun Finish(pid_t pid, const std::filesystem::path& workDir) {
  const auto outPath = workDir / ".stdout";
  const auto errPath = workDir / ".stderr";
  ProgramRun run;
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  run.out = Slurp(outPath);
  run.err = Slurp(errPath);
  std::error_code ec;
  std::filesystem::remove(outPath, ec);
  std::filesystem::remove(errPath, ec);
  return run;
}

// Whether the process has a handler of its own for `signal` (Linux /proc).
bool Catches(pid_t pid, int signal) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("SigCgt:", 0) != 0) continue;
    const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
    return (mask >> (signal - 1)) & 1u;
  }
  return false;
}
} // namespace

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::filesystem::path& workDir) {
  return Finish(Start(program, args, workDir), workDir);
}

ProgramRun RunProgramAndSignal(const std::string& program, const std::vector<std::string>& args,
                               const std::filesystem::path& workDir, int signal,
                               unsigned afterMs) {
  const pid_t pid = Start(program, args, workDir);
  for (int waited = 0; waited < 2000 && !Catches(pid, signal); ++waited) usleep(10000);
  usleep(afterMs * 1000);  // let it simulate a while
  kill(pid, signal);
  return Finish(pid, workDir);
}

std::string QuorsimProgram() { return std::string(QUORSIM_BINARY_DIR) + "/quorsim"; }
std::string QuorbenchProgram() { return std::string(QUORSIM_BINARY_DIR) + "/quorbench"; }
std::string InertHostProgram() { return std::string(QUORSIM_BINARY_DIR) + "/tests/inert_host"; }
std::string SourceDir() { return QUORSIM_SOURCE_DIR; }

} // namespace quortest
