// Configuration record, configuration file reader, statistics keeper and the
// small string and arithmetic helpers they share. Every module receives the one
// Config and the one StatsKeeper of a run by reference.
#ifndef QUOR2_UTILS_H
#define QUOR2_UTILS_H

#include <systemc>

#include <cstdint>
#include <functional>
#include <istream>
#include <list>
#include <map>
#include <ostream>
#include <string>
#include <utility>
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
  // Computes every derived key (BUFFER_PRIORITY_*, DRAM_tCK, BL, tCMD, tRC,
  // tCCD*, the turnarounds) from the keys in force, in dependency order, except
  // the keys for which `keep` returns true. With nothing kept on the defaults it
  // reproduces the defaults.
  void Derive(const std::function<bool(const std::string&)>& keep);
  // The derived keys, each with the keys its formula names.
  struct DerivedKey {
    const char* key;
    std::vector<const char*> from;
  };
  static const std::vector<DerivedKey>& DerivedKeys();

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
// The host puts a flit on each request link after every flit period, every
// third one `adjusted` instead of `flit` long, and a link takes in at each
// core-clock edge what arrived in the cycle before it. The most flits any one
// cycle brings (exact, on kernel time values): where the core period is not a
// whole number of flit periods, some cycles bring one more than others.
unsigned MostFlitsInACoreCycle(const sc_time& core, const sc_time& flit, const sc_time& adjusted);
// The same for the configured cube: the host paces every link at link 0's rate.
unsigned MostHostFlitsPerCoreCycle(const Config& cfg);
// LINK_0_WIDTH .. LINK_3_WIDTH by link number (0 to 3).
unsigned ConfiguredLinkWidth(const Config& cfg, unsigned link);

// Ceiling base-2 logarithm: 0 for 0 and 1, else the smallest k with 2^k >= v.
unsigned log2(uint64_t value);

std::string strip(std::string s, std::string chars);
std::list<std::string> split(std::string s, std::string chars, unsigned long maxsplit);
void confirm_directory_exists(std::string path);

// Reads one line of text that ends at "\n", "\r\n" or a lone "\r" (or at the
// end of the stream); the end is not part of the line. False when nothing is
// left. Like std::getline, it sets eof when the last line has no end.
bool ReadTextLine(std::istream& in, std::string& line);

// Edit distance, for suggesting the known key closest to a misspelt one.
unsigned EditDistance(const std::string& a, const std::string& b);

// One configuration line, split as the reader does: everything from the first
// ";" on is a comment, then one run of "=" separates key and value.
struct IniLine {
  enum Kind { Blank, Pair, NoSeparator, ManySeparators };
  Kind kind = Blank;
  std::string key;
  std::string value;
};
IniLine ParseIniLine(const std::string& line);

// The typed reading of one raw value. Accepted: converted as written.
// Warned: converted, but `note` says how (text after a number, an unusual bool
// spelling); Ignored: nothing converts, the default is kept and `note` says why;
// Refused: the value cannot be meant (a negative count, a value out of range).
struct Conversion {
  enum Status { Accepted, Warned, Ignored, Refused };
  Status status = Accepted;
  std::string note;
};
Conversion ConvertValue(const std::string& raw, unsigned& value);
Conversion ConvertValue(const std::string& raw, float& value);
// A time: a number and one of the units ps, ns, us, ms; a bare number is in
// ns. With a unit it must be a whole number of ps, or it is refused.
Conversion ConvertValue(const std::string& raw, sc_time& value);
// A time kept as a whole number of ns (EPOCH_NS): with a unit it must convert
// to whole ns exactly; a bare number is read as a count.
Conversion ConvertWholeNanoseconds(const std::string& raw, unsigned& value);
// The keys that hold a time as a whole number of ns in an unsigned.
bool IsWholeNanosecondKey(const std::string& key);
Conversion ConvertValue(const std::string& raw, bool& value);
Conversion ConvertValue(const std::string& raw, std::string& value);
void convert_uint64_t(uint64_t& var, std::string value, std::string infostring);

// The "ERROR - " lines of every validation rule the configuration breaks, in
// the order they are checked; empty when it breaks none. A rule that needs a
// value an earlier rule refused is not checked. IniReader::CustomerSafetyCheck
// prints them and ends the run.
std::vector<std::string> ValidationErrors(const Config& cfg);

// The origin LoadConfiguration gives the values typed on the command line.
inline constexpr const char* kCommandLineOrigin = "command line";

class IniReader {
public:
  std::map<std::string, std::string> allOptions;
  bool warnOnUnused;
  bool errorOnUnset;

  IniReader(bool warnOnUnused, bool errorOnUnset);

  bool readFile(const std::string& filename, Config& cfg);
  // Takes the KEY = value lines of `in`, warning on standard error with `name`
  // and the line number.
  void readText(std::istream& in, const std::string& name, const Config& cfg);
  // A value from another place than a file (a command-line override): read
  // and validated like a file line, and it wins over the file; from
  // kCommandLineOrigin, what a file line would be warned about is an error.
  // Refused (false, `error` set) when the key is not one of the record's.
  bool setOption(const std::string& key, const std::string& value, const std::string& origin,
                 const Config& cfg, std::string& error);
  std::string* getValue(const std::string& key);

  template <typename T>
  bool read(const std::string& key, T& value);
  bool read(const std::string& key, sc_time& value);
  bool read(const std::string& key, bool& value);

  void markAsUpdated(Config& cfg, const std::map<std::string, std::string>& options);
  bool finish(Config& cfg);
  // What finish does without ending the run: reads the keys into cfg, derives
  // and validates, and returns the "ERROR - " lines (empty when all is well).
  // Under STRICT every warning of the reading is one of those lines, and a
  // value from the command line is never read with a warning.
  std::vector<std::string> load(Config& cfg);
  void CustomerSafetyCheck(Config& cfg);

private:
  // Where each stored value came from ("file:line" or "command line"), for
  // warnings and errors.
  std::map<std::string, std::string> origins;
  // Values that cannot be meant, collected by the typed reads; finish refuses
  // the configuration when there is any.
  std::vector<std::string> refused;
  // What readText found about its lines, (origin, text): given by load, once
  // it knows whether the run is strict.
  std::vector<std::pair<std::string, std::string>> lineNotes;
  // The warnings that strict mode or the command line turned into errors.
  std::vector<std::pair<std::string, std::string>> strictErrors;  // (origin, line)
  bool strict = false;
  bool allRead = true;

  const std::string* lookUp(const std::string& key);
  template <typename T>
  bool readTyped(const std::string& key, T& value);
  void warn(const std::string& key, const std::string& note);
  // A warning, or an error when the run is strict or it came from the command line.
  void report(const std::string& origin, const std::string& text);
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
  // Bytes of posted writes taken in by each vault: delivered, though never
  // answered. Only the statistics file reports it.
  std::vector<u64> perVaultPostedWriteBytes;
  // The same delivered bytes by the link they took: those of answered reads
  // and writes as the host hands each response to its source, and those of
  // posted writes as a vault takes them in. Only the statistics file and the
  // time series report them.
  std::vector<u64> perLinkDeliveredBytes;
  std::vector<u64> perLinkPostedWriteBytes;
  // DRAM commands per bank as the vault controller issues them, banks in the
  // order of perVaultPerBankCounters. A refresh (one row's activate, read and
  // precharge) counts as one refresh, not as its three commands. A bank is
  // busy from an activate to tRP after its precharge.
  struct BankCommands {
    u64 activates = 0, reads = 0, writes = 0, precharges = 0, refreshes = 0;
    u64 busyTicks = 0;
  };
  std::vector<std::vector<BankCommands>> perVaultBankCommands;
  // Time each vault spent refreshing: its refreshes' busy time.
  std::vector<u64> perVaultRefreshTicks;
  // The links' read latency extremes over the responses from WARMUP_NS on
  // (the whole run without a warm-up). Only the statistics file reports them.
  std::vector<u32> perLinkWindowMaxLatency;
  std::vector<u32> perLinkWindowMinLatency;
  const Config& cfg;

  explicit StatsKeeper(const Config& cfg);

  // False when the report file was asked for but could not be written; the
  // standard-output report is complete either way.
  bool DumpStats(sc_time endTime);

  // The report on any stream; toFile selects the file layout.
  void WriteReport(std::ostream& os, const sc_time& endTime, bool toFile) const;
};

// The command line of quorsim: [--help | --version | [-f=]<config file>]
// followed by KEY=VALUE overrides and options. Parsed without side effects.
// What a person typed is never read with a guess: an unknown --option or an
// argument that is neither an option nor KEY=VALUE is an Error.
struct CommandLine {
  enum Action { Usage, Help, Version, Run, Error };
  Action action = Usage;
  std::string configFile;  // empty: defaults only
  std::vector<std::pair<std::string, std::string>> overrides;
  // --check: read and validate everything, build the model, but simulate
  // nothing and write no file (a sweep checks its points so).
  bool check = false;
  std::string error;
};
CommandLine ParseCommandLine(int argc, const char* const* argv);

// Loads the configuration a command line of action Run names: the defaults,
// the file (when given), the overrides and options, then the derived keys and
// the validation. An override that is refused or would be read with a warning
// ends the program with an ERROR line and exit status 1; under STRICT so does
// every warning of the file and of the traces.
void LoadConfiguration(const CommandLine& cl, Config& cfg);

// The short help text of --help, and the version line of --version.
std::string HelpText();
std::string VersionText();

// Loads a validated configuration: defaults, then the file (when given), then
// the validation rules. The record belongs to the caller.
Config* GetConfig(std::string* configFileName);
Config* GetConfig(std::string configFileName);

} // namespace Orvane::Internal::QUOR2

#endif
