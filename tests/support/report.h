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
  uint64_t reads = 0, readResponses = 0, writes = 0, writeResponses = 0;
  double requestBandwidth = 0, responseBandwidth = 0;  // GB/s of the utilization lines
  uint64_t bytes = 0, readBytes = 0, writeBytes = 0;
  double readBandwidth = 0, writeBandwidth = 0;        // GB/s
  bool hasLatency = false;                             // false: the "-" lines
  double avgLatency = 0, maxLatency = 0, minLatency = 0;  // ns
};

struct VaultFigures {
  uint64_t reads = 0;
  uint64_t writes = 0;
  std::vector<uint64_t> bankCounts;
  double bandwidth = 0;  // GB/s of the Vault BW line
};

struct Report {
  std::map<std::string, std::string> settings;  // the configuration listing
  unsigned expectedSources = 0;
  unsigned doneSources = 0;
  bool postedWrites = false;
  double endTimeNs = 0;
  uint64_t issuedReads = 0, issuedWrites = 0, issuedAtomics = 0;
  uint64_t readResponses = 0, writeResponses = 0;
  uint64_t totalRequests = 0;
  std::vector<std::pair<uint64_t, uint64_t>> requestsBySize;  // (reads, writes), 16 B up
  double dataBandwidth = 0;  // GB/s of the host controller
  uint64_t bytesMoved = 0;
  double totalVaultBandwidth = 0;
  uint64_t totalVaultBytes = 0;
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
