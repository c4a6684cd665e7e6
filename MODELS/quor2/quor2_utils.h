// Configuration record, configuration file reader, statistics keeper and the
// small string and arithmetic helpers they share. Every module receives the one
// Config and the one StatsKeeper of a run by reference.
#ifndef QUOR2_UTILS_H
#define QUOR2_UTILS_H

#include <systemc>

#include <cstdint>
#include <list>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace Orvane::Internal::QUOR2 {

using sc_core::sc_time;
using string = std::string;

using OptionMap = std::map<std::string, uint64_t>;

class Config {
public:
  unsigned psScaleFactor;
  OptionMap optionMap;

#define QUOR_KEY(type, name, def) type name;
#include "config.h"
#undef QUOR_KEY

  Config();
  Config(const Config&) = delete;
  Config& operator=(const Config&) = delete;

  void print(std::ostream& os, bool onlyNonDefault) const;
  bool hasOption(const std::string& key) const;
  void markUpdated(const std::string& key);

  // Time from t to the next multiple of period strictly after t, in whole ps.
  sc_time delayUntilNextPeriod(const sc_time& t, const sc_time& period) const;

  bool isOnPeriodBoundary(const sc_time& t, const sc_time& period) const;
  bool isOnClockCycleBoundary(const sc_time& t) const;
  sc_time delayUntilNextClock(const sc_time& t) const;
};

// Serial link timing, as both ends of a link compute it.
// Period of one flit on a link of the given width (lanes) and lane rate (Gb/s):
// unit intervals per flit times the unit interval, in single precision, rounded
// to the kernel's resolution (16-byte flits on 16 lanes at 15 Gb/s: 533 ps).
sc_time LinkFlitPeriod(unsigned flitSize, unsigned width, float linkSpeed);
sc_time LinkFlitRate(const Config& cfg, unsigned width);
// Flits taken per core cycle for a ratio core period / flit period: the ratio
// rounded up, but rounded down when it lies just above a whole number (the
// rounded-up value exceeds it by more than 0.95).
unsigned FlitsPerCoreCycle(double ratio);
unsigned LinkFlitsPerCycle(const Config& cfg, const sc_time& flitRate);
// LINK_0_WIDTH .. LINK_3_WIDTH by link number (0 to 3).
unsigned ConfiguredLinkWidth(const Config& cfg, unsigned link);

// Ceiling base-2 logarithm: 0 for 0 and 1, else the smallest k with 2^k >= v.
unsigned log2(uint64_t value);

std::string strip(std::string s, std::string chars);
std::list<std::string> split(std::string s, std::string chars, unsigned long maxsplit);
void confirm_directory_exists(std::string path);
void convert_uint64_t(uint64_t& var, std::string value, std::string infostring);

class IniReader {
public:
  std::map<std::string, std::string> allOptions;
  bool warnOnUnused;
  bool errorOnUnset;

  IniReader(bool warnOnUnused, bool errorOnUnset);

  bool readFile(const std::string& filename, Config& cfg);
  std::string* getValue(const std::string& key);

  template <typename T>
  bool read(const std::string& key, T& value);
  bool read(const std::string& key, sc_time& value);
  bool read(const std::string& key, bool& value);

  void markAsUpdated(Config& cfg, const std::map<std::string, std::string>& options);
  bool finish(Config& cfg);
  void CustomerSafetyCheck(Config& cfg);

private:
  const std::string* lookUp(const std::string& key);
};

template <> bool IniReader::read<unsigned int>(const std::string& key, unsigned int& value);
template <> bool IniReader::read<float>(const std::string& key, float& value);
template <> bool IniReader::read<std::string>(const std::string& key, std::string& value);

// The public counters of a run and the end-of-run report.
class StatsKeeper {
public:
  using u64 = uint64_t;
  using u32 = uint32_t;

  std::vector<u64> readRequestSizeCounter;
  std::vector<u64> writeRequestSizeCounter;
  std::vector<u64> perVaultReads;
  std::vector<u64> perVaultWrites;
  std::vector<u64> perVaultCASs;
  std::vector<u64> perVaultDataCount;
  std::vector<u64> perVaultRefresh;
  std::vector<u64> perVaultAvgRespCredits;
  std::vector<std::vector<u32>> perVaultPerBankCounters;
  std::vector<u64> perVaultOpenBanks;
  std::vector<u64> perVaultTransQAvg;
  std::vector<u64> perVaultReqQAvg;
  std::vector<sc_time> perVaultTSVUse;
  std::vector<u64> perLinkReads;
  std::vector<u64> perLinkWrites;
  std::vector<u64> perLinkReadResponses;
  std::vector<u64> perLinkWriteResponses;
  std::vector<u64> perLinkDataMovement;
  std::vector<u64> perLinkDataMovementRead;
  std::vector<u64> perLinkDataMovementWrite;
  std::vector<u32> perLinkHostTokens;
  std::vector<u64> perLinkAcceptedFlits;
  std::vector<u64> perLinkSentFlits;
  std::vector<std::vector<u64>> perQuadResponse;
  std::vector<std::vector<u64>> perQuadAvgLatency;
  std::vector<u64> perLinkAvgLatency;
  std::vector<u64> perLinkAvgLocalLatency;
  std::vector<u64> perLinkAvgRemoteLatency;
  std::vector<u32> perLinkMaxLatency;
  std::vector<u32> perLinkMinLatency;
  std::vector<sc_time> perLinkAvgReqLinkLat_Local;
  std::vector<sc_time> perLinkAvgLSWLat_Local;
  std::vector<sc_time> perLinkAvgTransQLat_Local;
  std::vector<sc_time> perLinkAvgReqQLat_Local;
  std::vector<sc_time> perLinkAvgVSWLat_Local;
  std::vector<sc_time> perLinkAvgRspLinkLat_Local;
  std::vector<sc_time> perLinkAvgReqLinkLat_Remote;
  std::vector<sc_time> perLinkAvgLSWLat_L_Remote;
  std::vector<sc_time> perLinkAvgLSWLat_R_Remote;
  std::vector<sc_time> perLinkAvgTransQLat_Remote;
  std::vector<sc_time> perLinkAvgReqQLat_Remote;
  std::vector<sc_time> perLinkAvgVSWLat_L_Remote;
  std::vector<sc_time> perLinkAvgVSWLat_R_Remote;
  std::vector<sc_time> perLinkAvgRspLinkLat_Remote;
  u64 QUORControllerIssuedReads = 0;
  u64 QUORControllerIssuedWrites = 0;
  u64 QUORControllerIssuedAtomics = 0;
  u64 QUORControllerMovedData = 0;
  std::vector<u64> QUORContPerLinkReadRespLocal;
  std::vector<u64> QUORContPerLinkReadRespRemote;
  std::vector<u64> QUORContPerLinkWriteResponses;
  std::vector<std::vector<u64>> perVSWSourceBufferAvg;
  std::vector<std::vector<u64>> perLSWSourceBufferAvg;
  std::vector<u64> perLSWFlitBandwidth;
  const Config& cfg;

  explicit StatsKeeper(const Config& cfg);

  void DumpStats(sc_time endTime);

  // The report on any stream; toFile selects the file layout.
  void WriteReport(std::ostream& os, const sc_time& endTime, bool toFile) const;
};

// Loads a validated configuration: defaults, then the file (when given), then
// the validation rules. The record belongs to the caller.
Config* GetConfig(std::string* configFileName);
Config* GetConfig(std::string configFileName);

} // namespace Orvane::Internal::QUOR2

#endif
