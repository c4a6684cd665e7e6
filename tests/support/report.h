// Reads the quorsim report, the configuration listing and the state dumps back
// into numbers, for the system tests.
#ifndef QUORSIM_TEST_REPORT_H
#define QUORSIM_TEST_REPORT_H

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace quortest {

struct LinkFigures {
  unsigned id = 0;
  double peak = 0;                 // GB/s of the link header line
  double requestUtilization = 0;   // percent
  double responseUtilization = 0;  // percent
  double effectiveBandwidth = 0;   // GB/s
};

struct VaultFigures {
  uint64_t reads = 0;
  uint64_t writes = 0;
};

struct Report {
  std::map<std::string, std::string> settings;  // the configuration listing
  unsigned expectedSources = 0;
  unsigned doneSources = 0;
  bool postedWrites = false;
  double endTimeNs = 0;
  uint64_t issuedReads = 0, issuedWrites = 0, issuedAtomics = 0;
  uint64_t readResponses = 0, writeResponses = 0;
  std::vector<LinkFigures> links;
  std::vector<VaultFigures> vaults;
  // From the state dumps (DUMP_STATE).
  bool allTagsFree = false;
  bool hostRequestBuffersEmpty = false;
  uint64_t flitsLeftInCube = 0;
  bool cubeCreditsAtRest = false;
  std::string creditMismatch;

  unsigned Setting(const std::string& key) const;
};

Report ParseReport(const std::string& out);

// The report alone: from the "======= Dumping stats at" line to the last vault total.
std::string ReportSection(const std::string& out);

struct TraceSummary {
  uint64_t reads = 0, writes = 0;
  std::map<unsigned, uint64_t> perVault;
  std::map<std::pair<unsigned, unsigned>, uint64_t> perVaultBank;  // (vault, bank in vault)
  bool empty() const { return reads + writes == 0; }
};

// The requests a trace file asks for, as the trace reader would read them.
TraceSummary TraceAccesses(const std::string& path);

// ACT commands per (vault, partition x NUM_BANKS + bank) in a DRAM command trace.
std::map<std::pair<unsigned, unsigned>, uint64_t> DramTraceActivates(
    const std::filesystem::path& path, unsigned banksPerPartition = 4);

} // namespace quortest

#endif
