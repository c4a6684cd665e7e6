#include "quor2_utils.h"

#include "quor2_messages.h"
#include "quor2_offered_load.h"
#include "quor2_trace_reader.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <numeric>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <optional>
#include <sstream>

namespace Orvane::Internal::QUOR2 {

using sc_core::SC_NS;
using sc_core::SC_PS;

// ---------------------------------------------------------------------------
// Config

namespace {
#define QUOR_NS(v) sc_time((v), SC_NS)

const char* TypeName(const sc_time&) { return "sc_time"; }
const char* TypeName(const unsigned&) { return "unsigned"; }
const char* TypeName(const bool&) { return "bool"; }
const char* TypeName(const std::string&) { return "string"; }
const char* TypeName(const float&) { return "float"; }

void PrintValue(std::ostream& os, const sc_time& v) { os << v; }
void PrintValue(std::ostream& os, unsigned v) { os << v; }
void PrintValue(std::ostream& os, bool v) { os << (v ? 1 : 0); }
void PrintValue(std::ostream& os, const std::string& v) { os << v; }
void PrintValue(std::ostream& os, float v) { os << v; }

// A time multiplied by a count, rounded to the nearest tick.
sc_time Times(const sc_time& t, double n) { return t * n; }
} // namespace

Config::Config()
    : psScaleFactor(static_cast<unsigned>(static_cast<double>(sc_time(1, SC_PS).value()) /
                                          static_cast<double>(sc_core::sc_get_time_resolution().value())))
#define QUOR_KEY(type, name, def) , name(def)
#include "config.h"
#undef QUOR_KEY
{
  Derive([](const std::string&) { return false; });

#define QUOR_KEY(type, name, def) optionMap[#name] = 0;
#include "config.h"
#undef QUOR_KEY

  if (psScaleFactor == 0) {
    std::cerr << "Your time resolution of " << sc_core::sc_get_time_resolution()
              << " is below the required 1ps time resolution\n";
    AbortRun();
  }
}

const std::vector<Config::DerivedKey>& Config::DerivedKeys() {
  static const std::vector<DerivedKey> keys = {
      {"BUFFER_PRIORITY_TIME", {"CORE_CLK"}},
      {"BUFFER_PRIORITY_WAIT", {"CORE_CLK"}},
      {"DRAM_tCK", {"UI"}},
      {"BL", {"UI"}},
      {"tCMD", {"DRAM_tCK"}},
      {"tRC", {"tRAS", "tRP"}},
      {"tCCD", {"DRAM_tCK"}},
      {"tCCDRP", {"DRAM_tCK"}},
      {"tCCDWP", {"DRAM_tCK"}},
      {"RD_TO_WR_SAME", {"tAA", "BL", "tRTW", "tWL"}},
      {"RD_TO_WR_DIFF", {"tAA", "BL", "tRTW2D", "tWL"}},
      {"WR_TO_RD_SAME", {"tWL", "BL", "tWTR", "UI"}},
      {"WR_TO_RD_DIFF", {"tWL", "BL", "tWTR2D", "tAA"}}};
  return keys;
}

// In the order of DerivedKeys, so a key is computed after the keys it uses.
void Config::Derive(const std::function<bool(const std::string&)>& keep) {
  if (!keep("BUFFER_PRIORITY_TIME")) BUFFER_PRIORITY_TIME = Times(CORE_CLK, 256);
  if (!keep("BUFFER_PRIORITY_WAIT")) BUFFER_PRIORITY_WAIT = Times(CORE_CLK, 64);
  if (!keep("DRAM_tCK")) DRAM_tCK = Times(UI, 2);
  if (!keep("BL")) BL = Times(UI, 8);
  if (!keep("tCMD")) tCMD = DRAM_tCK;
  if (!keep("tRC")) tRC = tRAS + tRP;
  if (!keep("tCCD")) tCCD = Times(DRAM_tCK, 4);
  if (!keep("tCCDRP")) tCCDRP = Times(DRAM_tCK, 8);
  if (!keep("tCCDWP")) tCCDWP = Times(DRAM_tCK, 6);
  // A turnaround that would come out negative means no wait at all: 0.
  auto sum = [](std::initializer_list<sc_time> plus, const sc_time& minus) {
    sc_time total = sc_core::SC_ZERO_TIME;
    for (const auto& t : plus) total += t;
    return total >= minus ? total - minus : sc_core::SC_ZERO_TIME;
  };
  if (!keep("RD_TO_WR_SAME")) RD_TO_WR_SAME = sum({tAA, BL, tRTW}, tWL);
  if (!keep("RD_TO_WR_DIFF")) RD_TO_WR_DIFF = sum({tAA, BL, tRTW2D}, tWL);
  if (!keep("WR_TO_RD_SAME")) WR_TO_RD_SAME = sum({tWL, BL, tWTR}, UI);
  if (!keep("WR_TO_RD_DIFF")) WR_TO_RD_DIFF = sum({tWL, BL, tWTR2D}, tAA);
}

namespace {
template <typename T>
void PrintKey(std::ostream& os, const OptionMap& optionMap, const char* key, const T& value,
              bool onlyNonDefault) {
  const auto it = optionMap.find(key);
  const bool updated = it != optionMap.end() && it->second > 0;
  if (onlyNonDefault && !updated) return;
  os << (updated ? "[*] " : "") << "[" << TypeName(value) << "]: '" << key << "'=";
  PrintValue(os, value);
  os << "\n";
}
} // namespace

void Config::print(std::ostream& os, bool onlyNonDefault) const {
#define QUOR_KEY(type, name, def) PrintKey(os, optionMap, #name, name, onlyNonDefault);
#define QUOR_QUIET_KEY(type, name, def) PrintKey(os, optionMap, #name, name, true);
#include "config.h"
#undef QUOR_QUIET_KEY
#undef QUOR_KEY
}

bool Config::hasOption(const std::string& key) const { return optionMap.count(key) > 0; }

void Config::markUpdated(const std::string& key) {
  auto it = optionMap.find(key);
  if (it != optionMap.end()) ++it->second;
}

sc_time Config::delayUntilNextPeriod(const sc_time& t, const sc_time& period) const {
  const uint64_t r = period.value() - t.value() % period.value();
  return sc_time(static_cast<double>(r / psScaleFactor), SC_PS);
}

bool Config::isOnPeriodBoundary(const sc_time& t, const sc_time& period) const {
  return t.value() % period.value() == 0;
}

bool Config::isOnClockCycleBoundary(const sc_time& t) const {
  return isOnPeriodBoundary(t, CORE_CLK);
}

sc_time Config::delayUntilNextClock(const sc_time& t) const {
  return delayUntilNextPeriod(t, CORE_CLK);
}

// ---------------------------------------------------------------------------
// Link timing

sc_time LinkFlitPeriod(unsigned flitSize, unsigned width, float linkSpeed) {
  const unsigned uiPerFlit = (flitSize * 8) / width;
  const float ns = static_cast<float>(uiPerFlit) * (1.0f / linkSpeed);
  return sc_time(ns, SC_NS);
}

sc_time LinkFlitRate(const Config& cfg, unsigned width) {
  return LinkFlitPeriod(cfg.FLIT_SIZE, width, cfg.LINK_SPEED);
}

unsigned FlitsPerCoreCycle(double ratio) {
  const double up = std::ceil(ratio);
  return static_cast<unsigned>(up - ratio > 0.95 ? std::floor(ratio) : up);
}

unsigned LinkFlitsPerCycle(const Config& cfg, const sc_time& flitRate) {
  return FlitsPerCoreCycle(static_cast<double>(cfg.CORE_CLK.value()) /
                           static_cast<double>(flitRate.value()));
}

unsigned MostFlitsInACoreCycle(const sc_time& core, const sc_time& flit, const sc_time& adjusted) {
  using Wide = unsigned __int128; // three flit periods of any kernel time fit
  const Wide c = core.value(), f = flit.value();
  if (c == 0 || f == 0) return 0;
  if (f > c) return 1; // arrivals are at least one flit period apart
  // Arrivals at m * period + {0, f, 2f}. A cycle starting at phase p holds
  // 3 * (c / period) of them, plus those offsets that lie in [p, p + r) on the
  // circle of one period, r = c % period. Cycles start at every multiple of
  // g = gcd(c, period); a best start is the last such multiple at or before
  // one of the offsets (moving a start later up to its first arrival loses none).
  const Wide period = 2 * f + adjusted.value();
  const Wide r = c % period;
  const Wide g = std::gcd(core.value(), static_cast<uint64_t>(period % c));
  const Wide offsets[3] = {0, f, 2 * f};
  unsigned best = 0;
  for (Wide o : offsets) {
    const Wide start = o / g * g;
    unsigned n = 0;
    for (Wide p : offsets) n += (p + period - start) % period < r;
    best = std::max(best, n);
  }
  return static_cast<unsigned>(3 * (c / period)) + best;
}

unsigned MostHostFlitsPerCoreCycle(const Config& cfg) {
  const sc_time flit = LinkFlitRate(cfg, cfg.LINK_0_WIDTH);
  const sc_time adjusted = cfg.LINK_SPEED == 15.0f ? flit + sc_time(1, sc_core::SC_PS) : flit;
  return MostFlitsInACoreCycle(cfg.CORE_CLK, flit, adjusted);
}

unsigned ConfiguredLinkWidth(const Config& cfg, unsigned link) {
  const unsigned widths[4] = {cfg.LINK_0_WIDTH, cfg.LINK_1_WIDTH, cfg.LINK_2_WIDTH,
                              cfg.LINK_3_WIDTH};
  return widths[link < 4 ? link : 3];
}

// ---------------------------------------------------------------------------
// String and arithmetic helpers

unsigned log2(uint64_t value) {
  unsigned k = 0;
  while (k < 64 && (uint64_t{1} << k) < value) ++k;
  return k;
}

std::string strip(std::string s, std::string chars) {
  const auto first = s.find_first_not_of(chars);
  if (first == std::string::npos) return "";
  const auto last = s.find_last_not_of(chars);
  return s.substr(first, last - first + 1);
}

std::list<std::string> split(std::string s, std::string chars, unsigned long maxsplit) {
  std::list<std::string> pieces;
  const unsigned long limit = maxsplit == 0 ? 1 : maxsplit;
  std::string rest = s;
  bool foundSeparator = false;
  while (true) {
    if (rest.empty()) {
      if (foundSeparator || s.empty()) pieces.emplace_back();
      return pieces;
    }
    if (pieces.size() + 1 == limit) {
      pieces.push_back(rest);
      return pieces;
    }
    const auto pos = rest.find_first_of(chars);
    if (pos == std::string::npos) {
      pieces.push_back(rest);
      rest.clear();
      foundSeparator = false;
    } else {
      pieces.push_back(rest.substr(0, pos));
      const auto after = rest.find_first_not_of(chars, pos);
      rest = after == std::string::npos ? std::string() : rest.substr(after);
      foundSeparator = true;
    }
  }
}

void confirm_directory_exists(std::string path) {
  std::error_code ec;
  if (std::filesystem::exists(path, ec)) return;
  if (!std::filesystem::create_directory(path, ec) || ec) {
    std::cout << "system command to confirm directory " << path << " exists has failed.";
    AbortRun();
  }
}

void convert_uint64_t(uint64_t& var, std::string value, std::string infostring) {
  for (char c : value) {
    if (c < '0' || c > '9') {
      std::cout << "ERROR: Non-digit character found: " << infostring << " : " << value << "\n";
      ExitRun(1);
    }
  }
  uint64_t result = 0;
  for (char c : value) result = result * 10 + static_cast<uint64_t>(c - '0');
  var = result;
}

bool ReadTextLine(std::istream& in, std::string& line) {
  line.clear();
  std::istream::sentry ok(in, true);
  if (!ok) return false;
  std::streambuf* buf = in.rdbuf();
  while (true) {
    const int c = buf->sbumpc();
    if (c == std::char_traits<char>::eof()) {
      in.setstate(std::ios::eofbit);
      if (line.empty()) in.setstate(std::ios::failbit);
      return !line.empty();
    }
    if (c == '\n') return true;
    if (c == '\r') {
      if (buf->sgetc() == '\n') buf->sbumpc();
      return true;
    }
    line.push_back(static_cast<char>(c));
  }
}

unsigned EditDistance(const std::string& a, const std::string& b) {
  std::vector<unsigned> row(b.size() + 1);
  for (unsigned j = 0; j <= b.size(); ++j) row[j] = j;
  for (unsigned i = 1; i <= a.size(); ++i) {
    unsigned diagonal = row[0];
    row[0] = i;
    for (unsigned j = 1; j <= b.size(); ++j) {
      const unsigned up = row[j];
      const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                        std::tolower(static_cast<unsigned char>(b[j - 1]));
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0u : 1u)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

IniLine ParseIniLine(const std::string& raw) {
  IniLine result;
  const std::string line = split(raw, ";", static_cast<unsigned long>(-1)).front();
  if (strip(line, " \t").empty()) return result;
  const auto pieces = split(line, "=", static_cast<unsigned long>(-1));
  if (pieces.size() == 1) {
    result.kind = IniLine::NoSeparator;
  } else if (pieces.size() > 2) {
    result.kind = IniLine::ManySeparators;
  } else {
    result.kind = IniLine::Pair;
    result.key = strip(pieces.front(), " \t");
    result.value = strip(pieces.back(), " \t");
  }
  return result;
}

namespace {

// The text of a number as the stream read it, and what followed it.
std::string Rest(std::istringstream& in, const std::string& raw) {
  const auto pos = in.eof() ? raw.size() : static_cast<size_t>(in.tellg());
  return raw.substr(pos);
}

Conversion Note(Conversion::Status status, const std::string& note) {
  Conversion c;
  c.status = status;
  c.note = note;
  return c;
}

Conversion NotANumber(const std::string& raw) {
  return Note(Conversion::Ignored,
              raw.empty() ? "no value, the default is kept"
                          : "'" + raw + "' is not a number, the default is kept");
}

// Numbers start, after blanks, with a digit, or a sign or point and a digit.
bool LooksNumeric(const std::string& raw) {
  size_t i = raw.find_first_not_of(" \t\r\n\v\f");
  if (i == std::string::npos) return false;
  if (raw[i] == '+' || raw[i] == '-') ++i;
  if (i < raw.size() && raw[i] == '.') ++i;
  return i < raw.size() && std::isdigit(static_cast<unsigned char>(raw[i]));
}

template <typename Number>
std::string Text(Number n) {
  std::ostringstream os;
  os << n;
  return os.str();
}

// Accepted as read, or with a warning when text follows the number.
Conversion TrailingText(const std::string& readAs, const std::string& rest,
                        const std::string& hint = "") {
  if (rest.empty()) return {};
  return Note(Conversion::Warned, "read as " + readAs + " (" + hint + "the text '" + rest +
                                      "' after the number is ignored)");
}
} // namespace

Conversion ConvertValue(const std::string& raw, unsigned& value) {
  size_t i = raw.find_first_not_of(" \t\r\n\v\f");
  if (i == std::string::npos) return NotANumber(raw);
  const bool negative = raw[i] == '-';
  if (raw[i] == '+' || raw[i] == '-') ++i;
  if (i == raw.size() || !std::isdigit(static_cast<unsigned char>(raw[i]))) return NotANumber(raw);
  uint64_t v = 0;
  bool tooLarge = false;
  for (; i < raw.size() && std::isdigit(static_cast<unsigned char>(raw[i])); ++i) {
    v = v * 10 + static_cast<uint64_t>(raw[i] - '0');
    if (v > 4294967295u) {
      tooLarge = true;
      v = 4294967296u;
    }
  }
  if (tooLarge)
    return Note(Conversion::Refused, "out of range for an unsigned key (0 to 4294967295)");
  if (negative && v != 0) return Note(Conversion::Refused, "negative value for an unsigned key");
  value = static_cast<unsigned>(v);
  const std::string rest = raw.substr(i);
  return TrailingText(Text(value), rest);
}

Conversion ConvertValue(const std::string& raw, float& value) {
  if (!LooksNumeric(raw)) return NotANumber(raw);
  std::istringstream in(raw);
  float v = 0;
  in >> v;
  if (in.fail()) return Note(Conversion::Refused, "not a number that can be read (out of range?)");
  const std::string rest = Rest(in, raw);
  value = v;
  return TrailingText(Text(value), rest);
}

namespace {
// The units a time may carry, as factors to nanoseconds.
struct TimeUnit {
  const char* name;
  double ns;
};
constexpr TimeUnit kTimeUnits[] = {{"ps", 1e-3}, {"ns", 1}, {"us", 1e3}, {"ms", 1e6}};

// The unit that `rest` (the text after a number) names, alone but for blanks
// around it; none when it is empty or anything else.
const TimeUnit* UnitOf(const std::string& rest) {
  const std::string word = strip(rest, " \t\r\n\v\f");
  for (const TimeUnit& u : kTimeUnits)
    if (word == u.name) return &u;
  return nullptr;
}

// Whether `x` lies on a whole number, allowing for the binary rounding of a
// decimal fraction times a unit (1.6 ns is 1600.0000000000002 ps).
bool IsWhole(double x) {
  return std::fabs(x - std::round(x)) <= std::max(1e-6, std::fabs(x) * 1e-12);
}
} // namespace

Conversion ConvertValue(const std::string& raw, sc_time& value) {
  if (!LooksNumeric(raw)) return NotANumber(raw);
  // Read in double precision, so long times keep all their digits.
  std::istringstream in(raw);
  double number = 0;
  in >> number;
  if (in.fail()) return Note(Conversion::Refused, "not a number that can be read (out of range?)");
  const std::string rest = Rest(in, raw);
  const TimeUnit* unit = UnitOf(rest);
  const double ns = unit ? number * unit->ns : number;
  if (ns < 0) return Note(Conversion::Refused, "negative time");
  // The kernel counts time in 64-bit ticks. Derived keys multiply a time by up
  // to 256 and the model adds delays to the current time, so a configured time
  // keeps a margin of 1024 below that limit (it still allows hours).
  if (ns * 1e-9 >= sc_core::sc_max_time().to_seconds() / 1024)
    return Note(Conversion::Refused, "longer than the kernel can count, with the model's margin");
  // A time with a unit was written to be exact: one the kernel would round is
  // refused rather than silently changed. A bare number keeps its old reading.
  if (unit && !IsWhole(ns * 1e3))
    return Note(Conversion::Refused, "not a whole number of ps, the model's time step");
  value = sc_time(ns, SC_NS);
  if (unit || rest.empty()) return {};
  return TrailingText(Text(ns) + " ns", rest, "a time is in ns unless it ends in ps, ns, us or ms; ");
}

Conversion ConvertWholeNanoseconds(const std::string& raw, unsigned& value) {
  if (LooksNumeric(raw)) {
    std::istringstream in(raw);
    double number = 0;
    in >> number;
    const TimeUnit* unit = in.fail() ? nullptr : UnitOf(Rest(in, raw));
    if (unit) {
      const double ns = number * unit->ns;
      if (ns < 0) return Note(Conversion::Refused, "negative time");
      if (!IsWhole(ns)) return Note(Conversion::Refused, "not a whole number of ns");
      if (std::round(ns) > 4294967295.0)
        return Note(Conversion::Refused, "out of range (0 to 4294967295 ns)");
      value = static_cast<unsigned>(std::round(ns));
      return {};
    }
  }
  // Without a unit, the count's own reading: stored files read as they did.
  return ConvertValue(raw, value);
}

Conversion ConvertValue(const std::string& raw, bool& value) {
  value = raw == "True" || raw == "true";
  if (value || raw == "False" || raw == "false") return {};
  return Note(Conversion::Warned, "'" + raw + "' read as false (only true or True mean true)");
}

Conversion ConvertValue(const std::string& raw, std::string& value) {
  std::istringstream in(raw);
  std::string word;
  if (!(in >> word)) return Note(Conversion::Ignored, "no value, the default is kept");
  value = word;
  std::string more;
  if (in >> more) return Note(Conversion::Warned, "read as '" + word + "' (one word only)");
  return {};
}

// ---------------------------------------------------------------------------
// IniReader

IniReader::IniReader(bool warnOnUnused, bool errorOnUnset)
    : warnOnUnused(warnOnUnused), errorOnUnset(errorOnUnset) {}

namespace {
std::string ClosestKey(const Config& cfg, const std::string& key) {
  // Keys are a few dozen characters long: the head of a longer word decides the
  // suggestion as well, and the distance costs length x length per key.
  constexpr std::size_t kCompared = 64;
  const std::string head = key.substr(0, kCompared);
  std::string best;
  unsigned bestDistance = ~0u;
  for (const auto& entry : cfg.optionMap) {
    const unsigned d = EditDistance(head, entry.first);
    if (d < bestDistance) {
      bestDistance = d;
      best = entry.first;
    }
  }
  return best;
}

void Warning(const std::string& origin, const std::string& text) {
  std::cerr << "WARNING - " << origin << ": " << text << std::endl;
}

[[noreturn]] void InputError(const std::string& text) {
  std::cout << "ERROR - " << text << std::endl;
  ExitRun(1);
}
} // namespace

bool IniReader::readFile(const std::string& filename, Config& cfg) {
  std::error_code ec;
  // A directory opens as a stream that reads nothing: it would run on defaults.
  const bool directory = std::filesystem::is_directory(filename, ec);
  std::ifstream in;
  if (!directory) in.open(filename, std::ios::binary);
  if (!in.is_open()) {
    std::cerr << "Can't open '" << filename << "'" << std::endl;
    InputError(directory ? "The configuration file '" + filename + "' is a directory"
                         : "Could not read the configuration file '" + filename + "'");
  }
  std::cerr << "Reading ini file '" << filename << "'" << std::endl;
  readText(in, filename, cfg);
  if (in.bad()) InputError("Could not read the configuration file '" + filename + "'");
  return true;
}

void IniReader::readText(std::istream& in, const std::string& name, const Config& cfg) {
  std::string line;
  for (unsigned number = 1; ReadTextLine(in, line); ++number) {
    // A byte-order mark written by some editors is not part of the first key.
    if (number == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
    const std::string origin = name + ":" + std::to_string(number);
    const IniLine parsed = ParseIniLine(line);
    switch (parsed.kind) {
    case IniLine::Blank: break;
    case IniLine::NoSeparator: lineNotes.emplace_back(origin, "no '=' in this line; it is ignored"); break;
    case IniLine::ManySeparators:
      lineNotes.emplace_back(origin, "more than one '=' in this line; it is ignored");
      break;
    case IniLine::Pair:
      if (!cfg.hasOption(parsed.key))
        lineNotes.emplace_back(origin, "unknown key '" + parsed.key +
                                           "' is ignored (closest known key: '" +
                                           ClosestKey(cfg, parsed.key) + "')");
      allOptions[parsed.key] = parsed.value;
      origins[parsed.key] = origin;
      break;
    }
  }
}

bool IniReader::setOption(const std::string& key, const std::string& value,
                          const std::string& origin, const Config& cfg, std::string& error) {
  if (!cfg.hasOption(key)) {
    error = origin + ": unknown key '" + key + "' (closest known key: '" + ClosestKey(cfg, key) +
            "')";
    return false;
  }
  allOptions[key] = value;
  origins[key] = origin;
  return true;
}

std::string* IniReader::getValue(const std::string& key) {
  auto it = allOptions.find(key);
  return it == allOptions.end() ? nullptr : &it->second;
}

const std::string* IniReader::lookUp(const std::string& key) {
  const std::string* v = getValue(key);
  if (!v && errorOnUnset) {
    std::cerr << "ERROR: key '" << key << "' is unset\n";
    ExitRun(1);
  }
  return v;
}

void IniReader::warn(const std::string& key, const std::string& note) {
  const auto it = origins.find(key);
  report(it == origins.end() ? std::string("configuration") : it->second, key + ": " + note);
}

void IniReader::report(const std::string& origin, const std::string& text) {
  // A value typed on the command line is read as written or not at all.
  if (!strict && origin != kCommandLineOrigin) {
    Warning(origin, text);
    return;
  }
  std::string error = text;
  const std::string kept = ", the default is kept";
  if (const auto at = error.find(kept); at != std::string::npos) error.erase(at, kept.size());
  strictErrors.emplace_back(origin, "ERROR - " + origin + ": " + error);
}

namespace {
// "file:line" sorts by the line, any other origin (the command line) after
// every line.
std::pair<unsigned long, std::string> OriginOrder(const std::string& origin) {
  const auto colon = origin.rfind(':');
  if (origin != kCommandLineOrigin && colon != std::string::npos && colon + 1 < origin.size() &&
      origin.find_first_not_of("0123456789", colon + 1) == std::string::npos)
    return {std::stoul(origin.substr(colon + 1)), origin.substr(0, colon)};
  return {~0ul, origin};
}

// Every key reads through ConvertValue, but for the unsigned keys that hold a time.
Conversion ConvertFor(const std::string& key, const std::string& raw, unsigned& value) {
  return IsWholeNanosecondKey(key) ? ConvertWholeNanoseconds(raw, value) : ConvertValue(raw, value);
}
template <typename T>
Conversion ConvertFor(const std::string&, const std::string& raw, T& value) {
  return ConvertValue(raw, value);
}
} // namespace

bool IsWholeNanosecondKey(const std::string& key) { return key == "EPOCH_NS"; }

template <typename T>
bool IniReader::readTyped(const std::string& key, T& value) {
  const std::string* raw = lookUp(key);
  if (!raw) return false;
  T converted = value;
  const Conversion c = ConvertFor(key, *raw, converted);
  switch (c.status) {
  case Conversion::Accepted: break;
  case Conversion::Warned: warn(key, c.note); break;
  case Conversion::Ignored: warn(key, c.note); return false;
  case Conversion::Refused: {
    const auto it = origins.find(key);
    refused.push_back((it == origins.end() ? std::string("configuration") : it->second) + ": " +
                      key + " = " + *raw + ": " + c.note);
    return false;
  }
  }
  value = converted;
  return true;
}

template <> bool IniReader::read<unsigned int>(const std::string& key, unsigned int& value) {
  return readTyped(key, value);
}

template <> bool IniReader::read<float>(const std::string& key, float& value) {
  return readTyped(key, value);
}

template <> bool IniReader::read<std::string>(const std::string& key, std::string& value) {
  return readTyped(key, value);
}

bool IniReader::read(const std::string& key, sc_time& value) { return readTyped(key, value); }

bool IniReader::read(const std::string& key, bool& value) { return readTyped(key, value); }

void IniReader::markAsUpdated(Config& cfg, const std::map<std::string, std::string>& options) {
  for (const auto& entry : options) cfg.markUpdated(entry.first);
}

bool IniReader::finish(Config& cfg) {
  const std::vector<std::string> errors = load(cfg);
  if (!errors.empty()) {
    for (const auto& line : errors) std::cout << line << std::endl;
    ExitRun(1);
  }
  return allRead;
}

std::vector<std::string> IniReader::load(Config& cfg) {
  allRead = true;
  // Strict mode decides how the notes below are given, so it is known first; a
  // STRICT value that is no bool is then reported by its own read.
  strict = false;
  if (const std::string* raw = getValue("STRICT")) {
    bool on = false;
    strict = ConvertValue(*raw, on).status == Conversion::Accepted && on;
  }
  strictErrors.clear();
  for (const auto& [origin, text] : lineNotes) report(origin, text);
  lineNotes.clear();
#define QUOR_KEY(type, name, def) allRead = read(#name, cfg.name) && allRead;
#include "config.h"
#undef QUOR_KEY
  if (!refused.empty() || !strictErrors.empty()) {
    // In the order of the file's lines, the command line's after them.
    std::stable_sort(strictErrors.begin(), strictErrors.end(), [](const auto& a, const auto& b) {
      return OriginOrder(a.first) < OriginOrder(b.first);
    });
    std::vector<std::string> errors;
    for (const auto& e : strictErrors) errors.push_back(e.second);
    for (const auto& r : refused) errors.push_back("ERROR - " + r);
    return errors;
  }
  // Derived keys follow the keys they derive from, unless set themselves; one
  // whose inputs were set counts as set in the listing.
  cfg.Derive([this](const std::string& key) { return allOptions.count(key) > 0; });
  markAsUpdated(cfg, allOptions);
  for (const auto& derived : Config::DerivedKeys()) {
    if (allOptions.count(derived.key)) continue;
    for (const char* input : derived.from) {
      if (cfg.optionMap.at(input) > 0) {
        cfg.markUpdated(derived.key);
        break;
      }
    }
  }
  return ValidationErrors(cfg);
}

namespace {
// The lines of every rule a configuration breaks, in the order the rules are
// checked; none when it breaks none.
struct Refusals {
  std::vector<std::string> lines;
  void Refuse(std::initializer_list<std::string> rule) {
    lines.insert(lines.end(), rule.begin(), rule.end());
  }
};

bool IsPowerOfTwo(uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

// Each returns whether the rule holds.
bool RequireAtLeast(Refusals& r, const char* key, unsigned value, unsigned minimum) {
  if (value >= minimum) return true;
  r.Refuse({std::string("ERROR - ") + key + " must be at least " + std::to_string(minimum)});
  return false;
}

bool RequirePowerOfTwo(Refusals& r, const char* key, unsigned value) {
  if (IsPowerOfTwo(value)) return true;
  r.Refuse({std::string("ERROR - ") + key + " must be a power of two"});
  return false;
}

// Rules beyond the published seventeen: every value that would later crash the
// model, hang it or index outside its tables is refused here.
bool KnownLinkSpeed(float speed) { return speed == 15.0f || speed == 12.5f || speed == 10.0f; }

void CheckModelLimits(const Config& cfg, Refusals& r) {
  const unsigned widths[4] = {cfg.LINK_0_WIDTH, cfg.LINK_1_WIDTH, cfg.LINK_2_WIDTH,
                              cfg.LINK_3_WIDTH};
  // The size shares are summed in 32 bits: shares above 100 could wrap to a sum
  // of 100 and pass the sum rule.
  const unsigned shares[16] = {
      cfg.PERCENTAGE_RD_16B, cfg.PERCENTAGE_RD_32B, cfg.PERCENTAGE_RD_48B, cfg.PERCENTAGE_RD_64B,
      cfg.PERCENTAGE_RD_80B, cfg.PERCENTAGE_RD_96B, cfg.PERCENTAGE_RD_112B, cfg.PERCENTAGE_RD_128B,
      cfg.PERCENTAGE_WR_16B, cfg.PERCENTAGE_WR_32B, cfg.PERCENTAGE_WR_48B, cfg.PERCENTAGE_WR_64B,
      cfg.PERCENTAGE_WR_80B, cfg.PERCENTAGE_WR_96B, cfg.PERCENTAGE_WR_112B, cfg.PERCENTAGE_WR_128B};
  if (std::any_of(std::begin(shares), std::end(shares), [](unsigned v) { return v > 100; }))
    r.Refuse({"ERROR - Request size percentages must each be between 0 and 100"});
  if (cfg.CORE_CLK == sc_core::SC_ZERO_TIME) r.Refuse({"ERROR - CORE_CLK must be greater than 0"});
  // A rule that needs a value an earlier rule refused is left out: its line
  // would only repeat that refusal.
  const size_t geometryStart = r.lines.size();
  const bool quadsKnown = cfg.NUM_QUADS >= 1 && cfg.NUM_QUADS <= 4;
  if (!quadsKnown) r.Refuse({"ERROR - NUM_QUADS must be between 1 and 4"});
  if (quadsKnown && cfg.NUM_LINKS != cfg.NUM_QUADS)
    r.Refuse({"ERROR - NUM_LINKS must equal NUM_QUADS (each quad owns one link)"});
  const bool vaultsPerQuadKnown = RequirePowerOfTwo(r, "VAULTS_PER_QUAD", cfg.VAULTS_PER_QUAD);
  if (quadsKnown && vaultsPerQuadKnown &&
      cfg.NUM_VAULTS != uint64_t{cfg.NUM_QUADS} * cfg.VAULTS_PER_QUAD)
    r.Refuse({"ERROR - NUM_VAULTS must equal NUM_QUADS x VAULTS_PER_QUAD"});
  RequirePowerOfTwo(r, "NUM_VAULTS", cfg.NUM_VAULTS);
  if (uint64_t{cfg.VAULTS_PER_QUAD} + cfg.NUM_QUADS > 33)
    r.Refuse({"ERROR - A vault switch serves at most 32 sources (VAULTS_PER_QUAD + NUM_QUADS - 1)"});
  RequirePowerOfTwo(r, "NUM_BANKS", cfg.NUM_BANKS);
  RequirePowerOfTwo(r, "NUM_ROWS", cfg.NUM_ROWS);
  RequirePowerOfTwo(r, "NUM_COLS", cfg.NUM_COLS);
  RequirePowerOfTwo(r, "BYTE_OFFSET", cfg.BYTE_OFFSET);
  if (cfg.BYTE_OFFSET > cfg.MAX_BLOCK_SIZE ||
      uint64_t{cfg.NUM_COLS} * cfg.BYTE_OFFSET < cfg.MAX_BLOCK_SIZE)
    r.Refuse({"ERROR - A row must hold whole blocks: BYTE_OFFSET <= MAX_BLOCK_SIZE <= NUM_COLS x "
            "BYTE_OFFSET"});
  const unsigned addressBits = log2(cfg.NUM_VAULTS) + log2(cfg.NUM_PARTITIONS) +
                               log2(cfg.NUM_BANKS) + log2(cfg.NUM_ROWS) + log2(cfg.NUM_COLS) +
                               log2(cfg.BYTE_OFFSET);
  const unsigned deviceBits = cfg.NUM_PARTITIONS == 4 ? 32 : 31;
  if (r.lines.size() == geometryStart && addressBits > deviceBits)
    r.Refuse({"ERROR - The vault geometry addresses more than the " +
            std::string(deviceBits == 32 ? "4GB" : "2GB") + " device holds"});
  if (cfg.FLIT_SIZE != 16) r.Refuse({"ERROR - FLIT_SIZE must be 16 bytes"});
  if (cfg.MAPPING_SCHEME != 0) r.Refuse({"ERROR - Only address mapping scheme 0 is supported"});
  if (cfg.COLUMN_ACCESS_LENGTH < 1 || cfg.COLUMN_ACCESS_LENGTH > 32)
    r.Refuse({"ERROR - COLUMN_ACCESS_LENGTH must be between 1 and 32 bytes"});
  const bool linkFlitsKnown = RequireAtLeast(r, "FLITS_PER_CYCLE_LINK", cfg.FLITS_PER_CYCLE_LINK, 1);
  const bool switchFlitsKnown = RequireAtLeast(r, "FLITS_PER_CYCLE_LSW", cfg.FLITS_PER_CYCLE_LSW, 1);
  RequireAtLeast(r, "FLITS_PER_CYCLE_LSW_REMOTE", cfg.FLITS_PER_CYCLE_LSW_REMOTE, 1);
  RequireAtLeast(r, "FLITS_PER_CYCLE_VSW", cfg.FLITS_PER_CYCLE_VSW, 1);
  RequireAtLeast(r, "FLITS_IN_PER_CYCLE_VC", cfg.FLITS_IN_PER_CYCLE_VC, 1);
  RequireAtLeast(r, "FLITS_OUT_PER_CYCLE_VC", cfg.FLITS_OUT_PER_CYCLE_VC, 2);
  RequireAtLeast(r, "WRITE_CREDITS_PER_CYCLE", cfg.WRITE_CREDITS_PER_CYCLE, 1);
  RequireAtLeast(r, "MAX_TOKEN_RETURN", cfg.MAX_TOKEN_RETURN, 1);
  if (linkFlitsKnown && switchFlitsKnown && cfg.FLITS_PER_CYCLE_LSW > cfg.FLITS_PER_CYCLE_LINK)
    r.Refuse({"ERROR - FLITS_PER_CYCLE_LSW must not exceed FLITS_PER_CYCLE_LINK"});
  if (switchFlitsKnown && cfg.FLITS_PER_CYCLE_LSW_REMOTE > cfg.FLITS_PER_CYCLE_LSW)
    r.Refuse({"ERROR - FLITS_PER_CYCLE_LSW_REMOTE must not exceed FLITS_PER_CYCLE_LSW"});
  // The link stops only between packets: after the link switch holds it back it
  // may still open FLITS_PER_CYCLE_LSW lines in a cycle and then finish a 9-flit
  // packet, one line per flit when they come one a cycle.
  if (cfg.LSW_INPUT_BUFFER_SIZE < cfg.FLITS_PER_CYCLE_LSW + 8)
    r.Refuse({"ERROR - LSW_INPUT_BUFFER_SIZE must be at least " +
            std::to_string(cfg.FLITS_PER_CYCLE_LSW + 8) +
            " (FLITS_PER_CYCLE_LSW + 8): the link may open that many lines after it is held "
            "back, finishing a 9-flit packet"});
  // The flit timing divides by the width, the rate and the core period: it is
  // checked only on values the rules above let pass.
  const bool widthsKnown = std::all_of(std::begin(widths), std::end(widths),
                                       [](unsigned w) { return w == 8 || w == 16; });
  bool linksKnown = linkFlitsKnown && widthsKnown && KnownLinkSpeed(cfg.LINK_SPEED) && cfg.FLIT_SIZE == 16 &&
                          cfg.CORE_CLK > sc_core::SC_ZERO_TIME;
  for (unsigned l = 0; linksKnown && l < cfg.NUM_LINKS && l < 4; ++l) {
    const unsigned perCycle = LinkFlitsPerCycle(cfg, LinkFlitRate(cfg, ConfiguredLinkWidth(cfg, l)));
    if (perCycle > cfg.FLITS_PER_CYCLE_LINK) {
      // The links share one width: the first one says it for all.
      r.Refuse({"ERROR - FLITS_PER_CYCLE_LINK must be at least " + std::to_string(perCycle) +
              ", the flits link " + std::to_string(l) + " delivers per core cycle"});
      linksKnown = false;
    }
  }
  if (const unsigned most = linksKnown ? MostHostFlitsPerCoreCycle(cfg) : 0;
      most > cfg.FLITS_PER_CYCLE_LINK)
    r.Refuse({"ERROR - FLITS_PER_CYCLE_LINK must be at least " + std::to_string(most) +
            ": the host's flits reach a link " + std::to_string(most) +
            " in some core cycles (the core period is not a whole number of flit periods)"});
  if (cfg.tCMD == sc_core::SC_ZERO_TIME)
    r.Refuse({"ERROR - tCMD must be greater than 0"});
  else if (cfg.CORE_CLK > sc_core::SC_ZERO_TIME &&
           (cfg.CORE_CLK.value() % cfg.tCMD.value() != 0 || cfg.CORE_CLK < cfg.tCMD * 2.0))
    r.Refuse({"ERROR - CORE_CLK must be a whole multiple of tCMD, at least 2"});
  if (cfg.tRP < cfg.CORE_CLK * 3.0) r.Refuse({"ERROR - tRP must be at least 3 core clock cycles"});
  if (cfg.REFRESH_ENABLED) {
    const double window = cfg.Tj > 94 ? 16e-3 : 32e-3;
    const double rows = double(cfg.NUM_BANKS) * cfg.NUM_ROWS * cfg.NUM_PARTITIONS;
    if (rows > 0 && sc_time(window / rows, sc_core::SC_SEC) < cfg.CORE_CLK)
      r.Refuse({"ERROR - The refresh interval would be shorter than a core clock cycle"});
  }
  RequireAtLeast(r, "TRANSACTION_Q_CAPACITY", cfg.TRANSACTION_Q_CAPACITY, 1);
  RequireAtLeast(r, "REQUEST_Q_CAPACITY", cfg.REQUEST_Q_CAPACITY, 1);
  RequireAtLeast(r, "LSW_INTERQUAD_BUFFER_SIZE", cfg.LSW_INTERQUAD_BUFFER_SIZE, 1);
  RequireAtLeast(r, "SMOOTHING_BUFFER_LM_SIZE", cfg.SMOOTHING_BUFFER_LM_SIZE, 1);
  RequireAtLeast(r, "SMOOTHING_BUFFER_Q_SIZE", cfg.SMOOTHING_BUFFER_Q_SIZE, 1);
  RequireAtLeast(r, "VSW_INTERQUAD_BUFFER_SIZE", cfg.VSW_INTERQUAD_BUFFER_SIZE, 1);
  // A 128-byte packet must fit each credit-bounded stage whole, or the stage
  // deadlocks. The link switch sends a flit to a vault only while it holds at
  // least 2 write-data credits, and a 128-byte write takes 8 before its tail.
  RequireAtLeast(r, "DATA_Q_CAPACITY", cfg.DATA_Q_CAPACITY, 10);
  RequireAtLeast(r, "LINK_MASTER_BUFFER_SIZE", cfg.LINK_MASTER_BUFFER_SIZE, 9);
  RequireAtLeast(r, "CREDITS_FOR_PROCESSING", cfg.CREDITS_FOR_PROCESSING, 9);
  if (cfg.VSW_RESPONSE_BUFFER_SIZE < cfg.CREDITS_FOR_PROCESSING)
    r.Refuse({"ERROR - VSW_RESPONSE_BUFFER_SIZE must be at least CREDITS_FOR_PROCESSING"});
  if (!cfg.USE_TRACE && (cfg.REQUEST_STREAM == 1 || cfg.REQUEST_STREAM == 2) &&
      cfg.NUM_GENERATORS > cfg.NUM_QUADS)
    r.Refuse({"ERROR - Request streams 1 and 2 need a quad for every generator"});
  if (!cfg.USE_TRACE && (cfg.REQUEST_STREAM == 3 || cfg.REQUEST_STREAM == 4) &&
      cfg.NUM_QUADS != 4)
    r.Refuse({"ERROR - Request streams 3 and 4 need 4 quads"});
  // Generators of streams 3 and 4 each serve a pair of quads.
  if (!cfg.USE_TRACE && (cfg.REQUEST_STREAM == 3 || cfg.REQUEST_STREAM == 4) &&
      cfg.NUM_GENERATORS != 2)
    r.Refuse({"ERROR - Request streams 3 and 4 are for 2-Link simulations only",
            "        Please set NUM_GENERATORS to 2"});
  // The host controller runs every link on one flit period.
  if (widthsKnown && (cfg.LINK_1_WIDTH != cfg.LINK_0_WIDTH || cfg.LINK_2_WIDTH != cfg.LINK_0_WIDTH ||
      cfg.LINK_3_WIDTH != cfg.LINK_0_WIDTH))
    r.Refuse({"ERROR - LINK_0_WIDTH to LINK_3_WIDTH must all be equal: the host controller drives "
            "every link at one width"});
}
} // namespace

std::vector<std::string> ValidationErrors(const Config& cfg) {
  Refusals r;
  if (cfg.NUM_GENERATORS < 1 || cfg.NUM_GENERATORS > 4)
    r.Refuse({"ERROR - Please use between 1 and 4 traffic generators"});
  if (cfg.NUM_REQUESTS == 0) r.Refuse({"ERROR - No point in simulating with 0 requests"});
  if (cfg.REQUEST_STREAM > 4) r.Refuse({"ERROR - Please pick a valid request stream"});
  if (cfg.PERCENTAGE_READ > 100)
    r.Refuse({"ERROR - Read percentage should be between 0 and 100"});
  const uint32_t rdSum = cfg.PERCENTAGE_RD_16B + cfg.PERCENTAGE_RD_32B + cfg.PERCENTAGE_RD_48B +
                         cfg.PERCENTAGE_RD_64B + cfg.PERCENTAGE_RD_80B + cfg.PERCENTAGE_RD_96B +
                         cfg.PERCENTAGE_RD_112B + cfg.PERCENTAGE_RD_128B;
  const uint32_t wrSum = cfg.PERCENTAGE_WR_16B + cfg.PERCENTAGE_WR_32B + cfg.PERCENTAGE_WR_48B +
                         cfg.PERCENTAGE_WR_64B + cfg.PERCENTAGE_WR_80B + cfg.PERCENTAGE_WR_96B +
                         cfg.PERCENTAGE_WR_112B + cfg.PERCENTAGE_WR_128B;
  if (rdSum != 100 || wrSum != 100)
    r.Refuse({"ERROR - Read request size percentages don't equal 100%"});
  if (!KnownLinkSpeed(cfg.LINK_SPEED)) {
    std::ostringstream speed;
    speed << cfg.LINK_SPEED;
    r.Refuse({"ERROR - Unknown link rate : " + speed.str(),
            "        Please use a rate outlined in the spec"});
  }
  const unsigned widths[4] = {cfg.LINK_0_WIDTH, cfg.LINK_1_WIDTH, cfg.LINK_2_WIDTH,
                              cfg.LINK_3_WIDTH};
  for (unsigned l = 0; l < 4; ++l) {
    if (widths[l] != 16 && widths[l] != 8)
      r.Refuse({"ERROR - Unknown link " + std::to_string(l) + " width :" + std::to_string(widths[l]),
              "        Please use a width outlined in the spec"});
  }
  if (cfg.REQUEST_BUFFER_SIZE < 9)
    r.Refuse({"ERROR - Request buffer size must be large enough to hold largest packet size - 9 "
            "flits"});
  if (cfg.TAGS_PER_LINK < 1 || cfg.TAGS_PER_LINK > 512)
    r.Refuse({"ERROR - Each link must have between 1 and 512 tags"});
  if (cfg.TOKENS_PER_LINK < 9 || cfg.TOKENS_PER_LINK > 219)
    r.Refuse({"ERROR - Each link must have between 9 and 219 tokens"});
  if (cfg.HOST_MAPPING > 2)
    r.Refuse({"ERROR - Unknown host mapping - please pick between from below : ",
            "        0 - random link assignment", "        1 - assign to link for local access",
            "        2 - use generator or trace reader index"});
  if (cfg.NUM_PARTITIONS != 2 && cfg.NUM_PARTITIONS != 4)
    r.Refuse({"ERROR - Number of partitions (stack height) must be 2 or 4"});
  if (cfg.MAX_BLOCK_SIZE != 32 && cfg.MAX_BLOCK_SIZE != 64 && cfg.MAX_BLOCK_SIZE != 128)
    r.Refuse({"ERROR - Max block size must be 32, 64, or 128"});
  if (cfg.Tj > 105) r.Refuse({"ERROR - Tj must be less than or equal to 105 C"});
  if (cfg.WARMUP_NS > sc_core::SC_ZERO_TIME && cfg.WARMUP_NS >= cfg.SIM_TIME) {
    std::ostringstream times;
    times << "ERROR - WARMUP_NS (" << cfg.WARMUP_NS << ") must be shorter than SIM_TIME ("
          << cfg.SIM_TIME << "): the statistics would cover no time";
    r.Refuse({times.str()});
  }
  CheckModelLimits(cfg, r);
  for (auto& line : LoadKeyErrors(cfg)) r.lines.push_back(line);
  return r.lines;
}

void IniReader::CustomerSafetyCheck(Config& cfg) {
  const std::vector<std::string> lines = ValidationErrors(cfg);
  if (lines.empty()) return;
  for (const auto& l : lines) std::cout << l << std::endl;
  ExitRun(1);
}

// ---------------------------------------------------------------------------
// Command line

#ifndef QUORSIM_VERSION
#define QUORSIM_VERSION "unknown"
#endif

namespace {
// KEY=VALUE with a key made of letters, digits and underscores.
bool IsOverride(const std::string& arg, std::string& key, std::string& value) {
  const auto eq = arg.find('=');
  if (eq == 0 || eq == std::string::npos) return false;
  for (size_t i = 0; i < eq; ++i) {
    const unsigned char c = static_cast<unsigned char>(arg[i]);
    if (!std::isalnum(c) && c != '_') return false;
  }
  key = arg.substr(0, eq);
  value = strip(arg.substr(eq + 1), " \t");
  return true;
}
} // namespace

namespace {
// Options that stand for a key: `--option VALUE`, `--option=VALUE`, or a flag.
struct KeyOption {
  const char* option;
  const char* key;
  bool flag;  // takes no value: sets the key to true
};
constexpr KeyOption kKeyOptions[] = {
    {"--stats-json", "STATS_JSON", false},
    {"--epoch-ns", "EPOCH_NS", false},
    {"--epochs", "EPOCH_FILE", false},
    {"--progress", "PROGRESS", true},
    {"--vcd", "VCD_FILE", false},
    {"--strict", "STRICT", true},
    {"--injection-rate", "INJECTION_RATE", false},
};

// Whether `arg` is one of kKeyOptions; takes its value (from the next argument
// when not joined by '='). Sets `error` when the value is missing, or given to
// a flag.
bool TakeKeyOption(int argc, const char* const* argv, int& i,
                   std::vector<std::pair<std::string, std::string>>& taken, std::string& error) {
  const std::string arg = argv[i];
  for (const KeyOption& o : kKeyOptions) {
    const std::string name = o.option;
    if (o.flag && arg == name) {
      taken.emplace_back(o.key, "true");
      return true;
    }
    std::string value;
    if (o.flag) {
      if (arg.rfind(name + "=", 0) != 0) continue;
      if (error.empty()) error = name + " takes no value";
      return true;
    }
    if (arg == name) {
      if (i + 1 < argc) value = argv[++i];
    } else if (arg.rfind(name + "=", 0) == 0) {
      value = arg.substr(name.size() + 1);
    } else {
      continue;
    }
    if (value.empty() && error.empty()) error = "no value after " + name;
    taken.emplace_back(o.key, value);
    return true;
  }
  return false;
}

// The known option nearest to a mistyped one, for the error that names it.
std::string ClosestOption(const std::string& arg) {
  const std::string word = arg.substr(0, arg.find('='));
  std::vector<std::string> known = {"--help", "--version", "--check"};
  for (const KeyOption& o : kKeyOptions) known.emplace_back(o.option);
  std::string best;
  unsigned bestDistance = ~0u;
  for (const auto& k : known) {
    const unsigned d = EditDistance(word.substr(0, 64), k);
    if (d < bestDistance) {
      bestDistance = d;
      best = k;
    }
  }
  return best;
}
} // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv) {
  CommandLine cl;
  // Options may stand anywhere; they are taken out first, so the rest reads as
  // it always did: a configuration file, then KEY=VALUE overrides.
  std::vector<std::string> args;
  std::vector<std::pair<std::string, std::string>> keyOptions;
  std::string error;
  bool help = false;
  bool version = false;
  for (int i = 1; i < argc; ++i) {
    if (TakeKeyOption(argc, argv, i, keyOptions, error)) continue;
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      help = help || !version;
    } else if (arg == "--version") {
      version = version || !help;
    } else if (arg == "--check") {
      cl.check = true;
    } else if (arg.rfind("--", 0) == 0) {
      // A person typed it: a misspelt option must not pass for a file name.
      if (error.empty())
        error = "unknown option '" + arg + "' (did you mean " + ClosestOption(arg) + "?)";
    } else {
      args.push_back(arg);
    }
  }
  if (help || version) {
    cl.action = help ? CommandLine::Help : CommandLine::Version;
    return cl;
  }
  if (args.empty() && keyOptions.empty() && error.empty()) return cl;
  cl.action = CommandLine::Run;
  size_t next = 0;
  std::string key;
  std::string value;
  const std::string first = args.empty() ? std::string() : args[0];
  if (first.rfind("-f=", 0) == 0) {
    cl.configFile = first.substr(3);
    next = 1;
    if (cl.configFile.empty() && error.empty()) error = "no file name after -f=";
  } else if (!args.empty() && !IsOverride(first, key, value)) {
    cl.configFile = first;
    next = 1;
  }
  for (size_t i = next; i < args.size(); ++i) {
    if (IsOverride(args[i], key, value))
      cl.overrides.emplace_back(key, value);
    else if (error.empty())
      error = "argument '" + args[i] +
              "' is neither an option nor KEY=VALUE (the configuration file comes first, once)";
  }
  if (!error.empty()) {
    cl.action = CommandLine::Error;
    cl.error = error;
    cl.overrides.clear();
    return cl;
  }
  for (auto& option : keyOptions) cl.overrides.push_back(std::move(option));
  return cl;
}

void LoadConfiguration(const CommandLine& cl, Config& cfg) {
  IniReader reader(true, false);
  if (!cl.configFile.empty()) reader.readFile(cl.configFile, cfg);
  for (const auto& [key, value] : cl.overrides) {
    std::string error;
    if (!reader.setOption(key, value, kCommandLineOrigin, cfg, error)) {
      std::cout << "ERROR - " << error << std::endl;
      ExitRun(1);
    }
  }
  reader.finish(cfg);
  if (cl.check) {
    // Every key was read as written; now the run is made one that builds the
    // model, simulates nothing and writes no file.
    cfg.SIM_TIME = sc_core::SC_ZERO_TIME;
    cfg.DUMP_STATS_FILE = false;
    cfg.DRAM_TRACING = false;
    cfg.STATS_JSON.clear();
    cfg.EPOCH_NS = 0;
    cfg.VCD_FILE.clear();
    cfg.WARMUP_NS = sc_core::SC_ZERO_TIME;
  }
  if (cfg.STRICT && cfg.USE_TRACE) {
    // Traces are read when the model is built; a strict run checks them before.
    std::vector<std::string> errors;
    const std::string* files[4] = {&cfg.TRACE_FILENAME_0, &cfg.TRACE_FILENAME_1,
                                   &cfg.TRACE_FILENAME_2, &cfg.TRACE_FILENAME_3};
    for (unsigned i = 0; i < cfg.NUM_GENERATORS && i < 4; ++i)
      for (const auto& w : TraceFileWarnings(*files[i], cfg)) errors.push_back("ERROR - " + w);
    if (!errors.empty()) {
      for (const auto& line : errors) std::cout << line << std::endl;
      ExitRun(1);
    }
  }
}

std::string VersionText() { return std::string("quorsim ") + QUORSIM_VERSION; }

std::string HelpText() {
  return "Usage: quorsim [-f=]<config file> [KEY=VALUE ...] [--stats-json FILE]\n"
         "               [--epoch-ns TIME] [--epochs FILE] [--progress] [--vcd FILE]\n"
         "               [--strict] [--check] [--injection-rate GBPS]\n"
         "       quorsim KEY=VALUE ...        (built-in defaults, then the overrides)\n"
         "       quorsim --help | --version\n"
         "\n"
         "Runs the memory cube model with the settings of <config file> (KEY = value lines,\n"
         "';' starts a comment; keys not set keep their defaults). KEY=VALUE arguments after\n"
         "the file override it and are marked [*] in the listing, e.g.\n"
         "  quorsim configs/default.ini SIM_TIME=2us PERCENTAGE_READ=100\n"
         "Example configurations: configs/default.ini (every key with its default),\n"
         "configs/reads_only.ini, configs/writes_only.ini, configs/posted_writes.ini,\n"
         "configs/atomics.ini, configs/trace_replay.ini, configs/two_link_stream3.ini,\n"
         "configs/two_link_stream4.ini.\n"
         "Times take a unit: ps, ns, us or ms (SIM_TIME=20us); a bare number is in ns. A time\n"
         "with a unit must be a whole number of ps (of ns for EPOCH_NS), or it is refused.\n"
         "--stats-json FILE (or STATS_JSON=FILE) also writes every statistic as JSON.\n"
         "--epoch-ns TIME (EPOCH_NS=TIME) writes a time series, one row per TIME, to\n"
         "--epochs FILE (EPOCH_FILE=FILE, default epochs.csv).\n"
         "--progress (PROGRESS=true) shows progress on standard error even when it is\n"
         "not a terminal.\n"
         "--vcd FILE (VCD_FILE=FILE) writes the model's signals as VCD waveforms.\n"
         "--strict (STRICT=true) makes every warning of reading the file, the overrides and\n"
         "the traces an error: all are named, then the run ends before anything is built.\n"
         "--check reads and validates as a run does, builds the model, simulates nothing.\n"
         "--injection-rate GBPS (INJECTION_RATE=GBPS) makes each generator offer GBPS GB/s\n"
         "of requests, open loop (INJECTION_PROCESS=fixed or poisson); 0: closed loop.\n"
         "The command line is never read with a guess: an unknown --option, an argument that\n"
         "is neither an option nor KEY=VALUE, and a value that is not one of its key's type\n"
         "(bools: true, True, false, False) are errors.\n"
         "Warnings go to standard error; errors print an ERROR line and exit with status 1.\n";
}

Config* GetConfig(std::string* configFileName) {
  Config* cfg = new Config();
  IniReader reader(true, false);
  if (configFileName) reader.readFile(*configFileName, *cfg);
  reader.finish(*cfg);
  return cfg;
}

Config* GetConfig(std::string configFileName) { return GetConfig(&configFileName); }

// ---------------------------------------------------------------------------
// StatsKeeper

StatsKeeper::StatsKeeper(const Config& cfg)
    : readRequestSizeCounter(8, 0), writeRequestSizeCounter(8, 0),
      perVaultReads(cfg.NUM_VAULTS, 0), perVaultWrites(cfg.NUM_VAULTS, 0),
      perVaultCASs(cfg.NUM_VAULTS, 0), perVaultDataCount(cfg.NUM_VAULTS, 0),
      perVaultRefresh(cfg.NUM_VAULTS, 0), perVaultAvgRespCredits(cfg.NUM_VAULTS, 0),
      perVaultPerBankCounters(cfg.NUM_VAULTS,
                              std::vector<u32>(cfg.NUM_PARTITIONS * cfg.NUM_BANKS, 0)),
      perVaultOpenBanks(cfg.NUM_VAULTS, 0), perVaultTransQAvg(cfg.NUM_VAULTS, 0),
      perVaultReqQAvg(cfg.NUM_VAULTS, 0), perVaultTSVUse(cfg.NUM_VAULTS),
      perLinkReads(cfg.NUM_LINKS, 0), perLinkWrites(cfg.NUM_LINKS, 0),
      perLinkReadResponses(cfg.NUM_LINKS, 0), perLinkWriteResponses(cfg.NUM_LINKS, 0),
      perLinkDataMovement(cfg.NUM_LINKS, 0), perLinkDataMovementRead(cfg.NUM_LINKS, 0),
      perLinkDataMovementWrite(cfg.NUM_LINKS, 0), perLinkHostTokens(cfg.NUM_LINKS, 0),
      perLinkAcceptedFlits(cfg.NUM_LINKS, 0), perLinkSentFlits(cfg.NUM_LINKS, 0),
      perQuadResponse(cfg.NUM_LINKS, std::vector<u64>(cfg.NUM_QUADS, 0)),
      perQuadAvgLatency(cfg.NUM_LINKS, std::vector<u64>(cfg.NUM_QUADS, 0)),
      perLinkAvgLatency(cfg.NUM_LINKS, 0), perLinkAvgLocalLatency(cfg.NUM_LINKS, 0),
      perLinkAvgRemoteLatency(cfg.NUM_LINKS, 0), perLinkMaxLatency(cfg.NUM_LINKS, 0),
      perLinkMinLatency(cfg.NUM_LINKS, 4294967295u), perLinkAvgReqLinkLat_Local(cfg.NUM_LINKS),
      perLinkAvgLSWLat_Local(cfg.NUM_LINKS), perLinkAvgTransQLat_Local(cfg.NUM_LINKS),
      perLinkAvgReqQLat_Local(cfg.NUM_LINKS), perLinkAvgVSWLat_Local(cfg.NUM_LINKS),
      perLinkAvgRspLinkLat_Local(cfg.NUM_LINKS), perLinkAvgReqLinkLat_Remote(cfg.NUM_LINKS),
      perLinkAvgLSWLat_L_Remote(cfg.NUM_LINKS), perLinkAvgLSWLat_R_Remote(cfg.NUM_LINKS),
      perLinkAvgTransQLat_Remote(cfg.NUM_LINKS), perLinkAvgReqQLat_Remote(cfg.NUM_LINKS),
      perLinkAvgVSWLat_L_Remote(cfg.NUM_LINKS), perLinkAvgVSWLat_R_Remote(cfg.NUM_LINKS),
      perLinkAvgRspLinkLat_Remote(cfg.NUM_LINKS), QUORContPerLinkReadRespLocal(cfg.NUM_LINKS, 0),
      QUORContPerLinkReadRespRemote(cfg.NUM_LINKS, 0),
      QUORContPerLinkWriteResponses(cfg.NUM_LINKS, 0),
      perVSWSourceBufferAvg(cfg.NUM_QUADS,
                            std::vector<u64>(cfg.NUM_QUADS + cfg.VAULTS_PER_QUAD - 1, 0)),
      perLSWSourceBufferAvg(cfg.NUM_QUADS, std::vector<u64>(cfg.NUM_QUADS, 0)),
      perLSWFlitBandwidth(cfg.NUM_QUADS, 0), perVaultPostedWriteBytes(cfg.NUM_VAULTS, 0),
      perLinkDeliveredBytes(cfg.NUM_LINKS, 0), perLinkPostedWriteBytes(cfg.NUM_LINKS, 0),
      perVaultBankCommands(cfg.NUM_VAULTS,
                           std::vector<BankCommands>(cfg.NUM_PARTITIONS * cfg.NUM_BANKS)),
      perVaultRefreshTicks(cfg.NUM_VAULTS, 0), perLinkWindowMaxLatency(cfg.NUM_LINKS, 0),
      perLinkWindowMinLatency(cfg.NUM_LINKS, 4294967295u), cfg(cfg) {}

bool StatsKeeper::DumpStats(sc_time endTime) {
  WriteReport(std::cout, endTime, false);
  if (!cfg.DUMP_STATS_FILE) return true;
  std::ofstream file(cfg.STATS_FILENAME, std::ios::out | std::ios::trunc);
  if (file.is_open()) {
    WriteReport(file, endTime, true);
    file.close();
  }
  if (file.fail()) {
    std::cerr << "ERROR - Could not write the report file '" << cfg.STATS_FILENAME << "'"
              << std::endl;
    return false;
  }
  return true;
}

void StatsKeeper::WriteReport(std::ostream& os, const sc_time& endTime, bool toFile) const {
  const float timeInNS = static_cast<float>(endTime.to_seconds() * 1e9);
  const float nsScalingFactor = static_cast<float>(
      static_cast<double>(sc_time(1, SC_NS).value()) /
      static_cast<double>(sc_core::sc_get_time_resolution().value()));
  const uint64_t cubeClocksElapsed = static_cast<uint64_t>(
      static_cast<double>(endTime.value()) / static_cast<double>(cfg.CORE_CLK.value()));
  const double ticksPerSecond = static_cast<double>(sc_time(1, sc_core::SC_SEC).value());
  auto bandwidth = [&](uint64_t bytes) {
    return static_cast<double>(bytes) * (ticksPerSecond / static_cast<double>(endTime.value())) /
           1e9;
  };
  os.fill(' ');

  os << "======= Dumping stats at " << timeInNS << "ns / " << cubeClocksElapsed
     << " cube cycles =======" << std::endl;
  os << "==== Generator Requests ====" << std::endl;
  os << "         (READS)    (WRITES)" << std::endl;
  uint32_t totalRequests = 0;
  for (unsigned k = 0; k < 8; ++k) {
    os << std::setw(3) << (k + 1) * 16 << "B ] " << std::setw(10) << readRequestSizeCounter[k]
       << "\t" << std::setw(10) << writeRequestSizeCounter[k] << std::endl;
    totalRequests += static_cast<uint32_t>(readRequestSizeCounter[k] + writeRequestSizeCounter[k]);
  }
  os << "-----" << std::endl;
  os << "Total : " << totalRequests << std::endl << std::endl;

  uint32_t totalReadResponses = 0;
  uint32_t totalWriteResponses = 0;
  for (unsigned l = 0; l < cfg.NUM_LINKS; ++l) {
    totalReadResponses += static_cast<uint32_t>(QUORContPerLinkReadRespLocal[l] +
                                                QUORContPerLinkReadRespRemote[l]);
    totalWriteResponses += static_cast<uint32_t>(QUORContPerLinkWriteResponses[l]);
  }
  const uint64_t reads = QUORControllerIssuedReads;
  const uint64_t writes = QUORControllerIssuedWrites;
  os << "== QUOR Controller" << std::endl;
  os << "   ==================================" << std::endl;
  os << "     DATA BANDWIDTH  : " << bandwidth(QUORControllerMovedData) << " GB/s" << std::endl;
  os << "     Bytes Moved     : " << QUORControllerMovedData << std::endl;
  os << "   ==================================" << std::endl;
  os << "   Reads : " << reads << " (" << totalReadResponses << " Responses)" << std::endl;
  os << "   Writes: " << writes << " (" << totalWriteResponses << " Responses)" << std::endl;
  if (QUORControllerIssuedAtomics != 0)
    os << "   Atomics: " << QUORControllerIssuedAtomics << std::endl;
  os << "   Total : " << reads + writes << " (" << totalReadResponses + totalWriteResponses
     << " Responses)" << std::endl;
  os << "   R/W%  : "
     << static_cast<float>(reads) / static_cast<float>(reads + writes) * 100.0f << " %"
     << std::endl
     << std::endl;

  if (!toFile) {
    os << "==== Per-Packet Bandwidth ====" << std::endl;
    os << "Size:";
    for (unsigned k = 0; k < 8; ++k) os << (k + 1) * 16 << "B,";
    os << std::endl;
    os.precision(4);
    os << "Reads:";
    for (unsigned k = 0; k < 8; ++k) os << bandwidth((k + 1) * 16 * readRequestSizeCounter[k]) << ",";
    os << std::endl;
    os << "Writes:";
    for (unsigned k = 0; k < 8; ++k)
      os << bandwidth((k + 1) * 16 * writeRequestSizeCounter[k]) << ",";
    os << std::endl;
  }

  for (unsigned i = 0; i < cfg.NUM_LINKS; ++i) {
    const unsigned width = ConfiguredLinkWidth(cfg, i);
    const float linkPeakDataRate = static_cast<float>(width) * cfg.LINK_SPEED * 0.125f;
    const unsigned uiPerFlit = cfg.FLIT_SIZE * 8 / width;
    const float uiPeriod = 1.0f / cfg.LINK_SPEED;
    const sc_time flitRate(static_cast<float>(uiPerFlit) * uiPeriod, SC_NS);
    const uint32_t flitSlotsOnLink =
        static_cast<uint32_t>(sc_core::sc_time_stamp().value() / flitRate.value());
    if (toFile) {
      os << "== Link " << i << " Statistics" << std::endl;
    } else {
      os << "== Link " << i << " [" << width << " lanes @ " << cfg.LINK_SPEED
         << "Gbps = " << linkPeakDataRate << " GB/s]" << std::endl;
    }
    os << "   Reads : " << perLinkReads[i] << " (Rsp : " << perLinkReadResponses[i] << ")"
       << std::endl;
    os << "   Writes: " << perLinkWrites[i] << " (Rsp : " << perLinkWriteResponses[i] << ")"
       << std::endl;
    float u = static_cast<float>(perLinkAcceptedFlits[i]) / static_cast<float>(flitSlotsOnLink);
    os << "   Request Utilization  : " << u * 100 << "% (" << u * linkPeakDataRate << " GB/s)"
       << std::endl;
    u = static_cast<float>(perLinkSentFlits[i]) / static_cast<float>(flitSlotsOnLink);
    os << "   Response Utilization : " << u * 100 << "% (" << u * linkPeakDataRate << " GB/s)"
       << std::endl;
    os << "   Effective Bandwidth  : " << bandwidth(perLinkDataMovement[i]) << " GB/s ["
       << perLinkDataMovement[i] << " bytes]" << std::endl;
    os << "        Read Bandwidth  : " << bandwidth(perLinkDataMovementRead[i]) << " GB/s ["
       << perLinkDataMovementRead[i] << " bytes]" << std::endl;
    os << "       Write Bandwidth  : " << bandwidth(perLinkDataMovementWrite[i]) << " GB/s ["
       << perLinkDataMovementWrite[i] << " bytes]" << std::endl;
    const uint64_t n = QUORContPerLinkReadRespLocal[i] + QUORContPerLinkReadRespRemote[i];
    if (n != 0) {
      os << "   Link Avg. Latency : "
         << static_cast<float>(perLinkAvgLatency[i]) / static_cast<float>(n) / nsScalingFactor
         << " ns" << std::endl;
      os << "   Max Latency       : " << static_cast<float>(perLinkMaxLatency[i]) / nsScalingFactor
         << " ns" << std::endl;
      os << "   Min Latency       : " << static_cast<float>(perLinkMinLatency[i]) / nsScalingFactor
         << " ns" << std::endl;
    } else {
      os << "   Link Avg. Latency : -" << std::endl;
      os << "   Max Latency       : -" << std::endl;
      os << "   Min Latency       : -" << std::endl;
    }
  }

  float totalVaultBW = 0;
  uint64_t totalMovedBytes = 0;
  for (unsigned v = 0; v < cfg.NUM_QUADS * cfg.VAULTS_PER_QUAD; ++v) {
    const float tsvBandwidth = static_cast<float>(perVaultCASs[v] * 32) / timeInNS;
    totalVaultBW += tsvBandwidth;
    totalMovedBytes += perVaultDataCount[v];
    os << "== Vault " << v << " at " << timeInNS << "ns" << std::endl;
    os << "\tBank Counts : [";
    for (const auto entry : perVaultPerBankCounters[v]) os << entry << " ";
    os << "]" << std::endl;
    os << "\tReads       : " << perVaultReads[v] << std::endl;
    os << "\tWrites      : " << perVaultWrites[v] << std::endl;
    os << "\tTotal       : " << perVaultReads[v] + perVaultWrites[v] << std::endl;
    if (toFile) {
      os << "\tCASs        : " << perVaultCASs[v] << " (" << perVaultCASs[v] * 32 << " bytes)"
         << std::endl;
      os << "\tTSV BW      : " << tsvBandwidth << " GB/s" << std::endl;
    } else {
      os << "\tVault BW    : " << tsvBandwidth << " GB/s" << std::endl;
    }
  }
  os << "===================" << std::endl;
  os << "  Total Vault BW    : " << totalVaultBW << std::endl;
  os << "  Total Bytes Moved : " << totalMovedBytes << std::endl;
}

} // namespace Orvane::Internal::QUOR2
