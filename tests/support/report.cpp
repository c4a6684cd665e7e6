#include "support/report.h"

#include <fstream>
#include <regex>
#include <sstream>

namespace quortest {

unsigned Report::Setting(const std::string& key) const {
  const auto it = settings.find(key);
  return it == settings.end() ? 0 : static_cast<unsigned>(std::stoul(it->second));
}

namespace {
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

// The "\t\t0]    512 1]    512 " lines of the controller dump.
std::vector<uint64_t> PerLinkValues(const std::string& line) {
  static const std::regex entry(R"((\d+)\]\s+(\d+))");
  std::vector<uint64_t> values;
  for (std::sregex_iterator it(line.begin(), line.end(), entry), end; it != end; ++it)
    values.push_back(std::stoull((*it)[2]));
  return values;
}

void ParseDumps(const std::vector<std::string>& lines, Report& r) {
  const auto Setting = [&r](const std::string& key) { return r.Setting(key); };
  const unsigned tags = r.Setting("TAGS_PER_LINK");
  const unsigned tokens = r.Setting("TOKENS_PER_LINK");
  std::ostringstream why;
  bool inCube = false, inHostBuffers = false, sawHostDump = false;
  bool tagsOk = true, buffersEmpty = true, creditsOk = true;
  std::vector<uint64_t> linkTokenCount, hostTokens, hostReturn;
  static const std::regex lswCredits(R"(\[(\d+),(\d+)\])");
  static const std::regex vcCredits(R"(^== VC(\d+) \[Response Credits : (\d+)\])");
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& l = lines[i];
    if (l == "== Cube") inCube = true;
    if (l == "== QUOR Controller" && i + 1 < lines.size() &&
        StartsWith(lines[i + 1], "\t\tFree tags")) {
      inCube = false;
      sawHostDump = true;
    }
    if (inCube) {
      const bool refresh = l.find("tag:4294967295") != std::string::npos;
      if ((l.find("cmd:") != std::string::npos || l.find(" prt:") != std::string::npos) && !refresh)
        ++r.flitsLeftInCube;
      if (StartsWith(l, "\tToken Count") || StartsWith(l, "\t\tToken Count")) {
        linkTokenCount.push_back(std::stoull(l.substr(l.rfind(':') + 1)));
      }
      if (StartsWith(l, "\t Destination Credits [")) {
        const unsigned tq = r.Setting("TRANSACTION_Q_CAPACITY"), dq = r.Setting("DATA_Q_CAPACITY");
        for (std::sregex_iterator it(l.begin(), l.end(), lswCredits), end; it != end; ++it) {
          if (std::stoul((*it)[1]) != tq || std::stoul((*it)[2]) != dq) {
            creditsOk = false;
            why << "link switch vault credits " << (*it)[0] << "; ";
          }
        }
      }
      std::smatch m;
      if (std::regex_search(l, m, vcCredits) &&
          std::stoul(m[2]) != r.Setting("VSW_RESPONSE_BUFFER_SIZE")) {
        creditsOk = false;
        why << "VC" << m[1] << " response credits " << m[2] << "; ";
      }
    }
    if (!sawHostDump) continue;
    if (StartsWith(l, "!!!!!!!!!!!!!!!!!!! Link")) tagsOk = false;
    if (l == "\t\tFree tags available : " && i + 1 < lines.size())
      for (auto v : PerLinkValues(lines[i + 1])) tagsOk = tagsOk && v == tags;
    if (l == "\t\tTokens available : " && i + 1 < lines.size()) hostTokens = PerLinkValues(lines[i + 1]);
    if (l == "\t\tReturn tokens : " && i + 1 < lines.size()) hostReturn = PerLinkValues(lines[i + 1]);
    if (l == "\t\tRequest Buffers : ") {
      inHostBuffers = true;
      continue;
    }
    if (inHostBuffers) {
      if (l.empty()) inHostBuffers = false;
      else buffersEmpty = false;
    }
  }
  for (size_t l = 0; l < hostTokens.size(); ++l) {
    if (hostTokens[l] != tokens) {
      creditsOk = false;
      why << "host tokens on link " << l << ": " << hostTokens[l] << "; ";
    }
    // The run stops the moment the last response is handed back, so a few
    // returned tokens may still be on their way up the request link.
    const unsigned maxReturn = Setting("MAX_TOKEN_RETURN");
    if (l < linkTokenCount.size() && l < hostReturn.size() &&
        (linkTokenCount[l] + hostReturn[l] > tokens ||
         linkTokenCount[l] + hostReturn[l] + 2 * maxReturn < tokens)) {
      creditsOk = false;
      why << "response tokens on link " << l << ": " << linkTokenCount[l] << " + " << hostReturn[l]
          << "; ";
    }
  }
  r.allTagsFree = sawHostDump && tagsOk;
  r.hostRequestBuffersEmpty = sawHostDump && buffersEmpty;
  r.cubeCreditsAtRest = sawHostDump && creditsOk && !linkTokenCount.empty();
  r.creditMismatch = why.str();
}
} // namespace

Report ParseReport(const std::string& out) {
  Report r;
  const auto lines = Lines(out);
  static const std::regex setting(R"(^(?:\[\*\] )?\[\w+\]: '(\w+)'=(.*)$)");
  static const std::regex done(R"(\]= GENERATOR \d+ DONE!!!$)");
  static const std::regex dumping(R"(^======= Dumping stats at ([0-9.e+]+)ns)");
  static const std::regex issued(R"(^   (Reads |Writes): (\d+) \((\d+) Responses\))");
  static const std::regex atomics(R"(^   Atomics: (\d+))");
  static const std::regex linkHead(R"(^== Link (\d+) \[.* = ([0-9.e+]+) GB/s\])");
  static const std::regex util(R"(^   (Request|Response) Utilization\s+: ([0-9.e+a-z-]+)%)");
  static const std::regex effective(R"(^   Effective Bandwidth  : ([0-9.e+a-z-]+) GB/s)");
  static const std::regex vault(R"(^== Vault (\d+) at)");
  static const std::regex vaultCount(R"(^\t(Reads|Writes)\s+: (\d+))");
  static const std::regex bySize(R"(^ *(\d+)B \] *(\d+)\t *(\d+)$)");
  static const std::regex total(R"(^Total : (\d+)$)");
  static const std::regex hostBandwidth(R"(^     DATA BANDWIDTH  : ([0-9.e+-]+) GB/s)");
  static const std::regex hostBytes(R"(^     Bytes Moved     : (\d+))");
  static const std::regex linkCount(R"(^   (Reads |Writes): (\d+) \(Rsp : (\d+)\))");
  static const std::regex utilBandwidth(R"(^   (Request|Response) Utilization\s+: .*% \(([0-9.e+a-z-]+) GB/s\))");
  static const std::regex linkBytes(
      R"(^ +(Effective|Read|Write) Bandwidth  : ([0-9.e+a-z-]+) GB/s \[(\d+) bytes\])");
  static const std::regex latency(R"(^   (Link Avg\.|Max|Min) Latency\s+: (.*?)( ns)?$)");
  static const std::regex banks(R"(^\tBank Counts : \[(.*)\]$)");
  static const std::regex vaultBandwidth(R"(^\tVault BW    : ([0-9.e+a-z-]+) GB/s)");
  static const std::regex vaultTotals(R"(^  Total (Vault BW|Bytes Moved)\s+: ([0-9.e+a-z-]+))");
  for (const auto& l : lines) {
    std::smatch m;
    if (std::regex_search(l, m, bySize)) {
      r.requestsBySize.emplace_back(std::stoull(m[2]), std::stoull(m[3]));
    } else if (std::regex_search(l, m, total)) {
      r.totalRequests = std::stoull(m[1]);
    } else if (std::regex_search(l, m, hostBandwidth)) {
      r.dataBandwidth = std::stod(m[1]);
    } else if (std::regex_search(l, m, hostBytes)) {
      r.bytesMoved = std::stoull(m[1]);
    } else if (std::regex_search(l, m, linkCount) && !r.links.empty()) {
      auto& k = r.links.back();
      (m[1] == "Reads " ? k.reads : k.writes) = std::stoull(m[2]);
      (m[1] == "Reads " ? k.readResponses : k.writeResponses) = std::stoull(m[3]);
    } else if (std::regex_search(l, m, linkBytes) && !r.links.empty()) {
      auto& k = r.links.back();
      const double bw = std::stod(m[2]);
      const uint64_t bytes = std::stoull(m[3]);
      if (m[1] == "Effective") {
        k.effectiveBandwidth = bw;
        k.bytes = bytes;
      } else if (m[1] == "Read") {
        k.readBandwidth = bw;
        k.readBytes = bytes;
      } else {
        k.writeBandwidth = bw;
        k.writeBytes = bytes;
      }
    } else if (std::regex_search(l, m, latency) && !r.links.empty()) {
      auto& k = r.links.back();
      k.hasLatency = m[2] != "-";
      const double v = k.hasLatency ? std::stod(m[2]) : 0;
      (m[1] == "Max" ? k.maxLatency : m[1] == "Min" ? k.minLatency : k.avgLatency) = v;
    } else if (std::regex_search(l, m, banks) && !r.vaults.empty()) {
      std::istringstream in(m[1].str());
      uint64_t c = 0;
      while (in >> c) r.vaults.back().bankCounts.push_back(c);
    } else if (std::regex_search(l, m, vaultBandwidth) && !r.vaults.empty()) {
      r.vaults.back().bandwidth = std::stod(m[1]);
    } else if (std::regex_search(l, m, vaultTotals)) {
      if (m[1] == "Vault BW")
        r.totalVaultBandwidth = std::stod(m[2]);
      else
        r.totalVaultBytes = std::stoull(m[2]);
    } else if (std::regex_match(l, m, setting)) {
      r.settings[m[1]] = m[2];
    } else if (std::regex_search(l, m, done)) {
      ++r.doneSources;
    } else if (std::regex_search(l, m, dumping)) {
      r.endTimeNs = std::stod(m[1]);
    } else if (std::regex_search(l, m, issued)) {
      if (m[1] == "Reads ") {
        r.issuedReads = std::stoull(m[2]);
        r.readResponses = std::stoull(m[3]);
      } else {
        r.issuedWrites = std::stoull(m[2]);
        r.writeResponses = std::stoull(m[3]);
      }
    } else if (std::regex_search(l, m, atomics)) {
      r.issuedAtomics = std::stoull(m[1]);
    } else if (std::regex_search(l, m, linkHead)) {
      LinkFigures f;
      f.id = static_cast<unsigned>(std::stoul(m[1]));
      f.peak = std::stod(m[2]);
      r.links.push_back(f);
    } else if (std::regex_search(l, m, util) && !r.links.empty()) {
      (m[1] == "Request" ? r.links.back().requestUtilization : r.links.back().responseUtilization) =
          std::stod(m[2]);
      std::smatch b;
      if (std::regex_search(l, b, utilBandwidth))
        (m[1] == "Request" ? r.links.back().requestBandwidth : r.links.back().responseBandwidth) =
            std::stod(b[2]);
    } else if (std::regex_search(l, m, effective) && !r.links.empty()) {
      r.links.back().effectiveBandwidth = std::stod(m[1]);
    } else if (std::regex_search(l, m, vault)) {
      r.vaults.emplace_back();
    } else if (std::regex_search(l, m, vaultCount) && !r.vaults.empty()) {
      (m[1] == "Reads" ? r.vaults.back().reads : r.vaults.back().writes) = std::stoull(m[2]);
    }
  }
  r.expectedSources = r.Setting("NUM_GENERATORS");
  r.postedWrites = r.settings.count("POSTED_WRITES") && r.settings["POSTED_WRITES"] == "1";
  ParseDumps(lines, r);
  return r;
}

std::string ReportSection(const std::string& out) {
  const auto begin = out.find("======= Dumping stats at");
  if (begin == std::string::npos) return "";
  const auto total = out.find("  Total Bytes Moved : ", begin);
  const auto end = total == std::string::npos ? std::string::npos : out.find('\n', total);
  return out.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

TraceSummary TraceAccesses(const std::string& path) {
  TraceSummary t;
  std::ifstream in(path);
  std::string line;
  static const std::regex fields(
      R"(^id:[^,]*,lnk:\d+,cmd:(enu_read|enu_write),vlt:(\d+),bnk:(\d+),)");
  while (std::getline(in, line)) {
    if (StartsWith(line, "//")) continue;
    std::smatch m;
    if (!std::regex_search(line, m, fields)) continue;
    (m[1] == "enu_read" ? t.reads : t.writes) += 1;
    const unsigned v = static_cast<unsigned>(std::stoul(m[2]));
    const unsigned b = static_cast<unsigned>(std::stoul(m[3]));
    ++t.perVault[v];
    ++t.perVaultBank[{v, b}];
  }
  return t;
}

std::map<std::pair<unsigned, unsigned>, uint64_t> DramTraceActivates(
    const std::filesystem::path& path, unsigned banksPerPartition) {
  std::map<std::pair<unsigned, unsigned>, uint64_t> acts;
  std::ifstream in(path);
  std::string line;
  static const std::regex act(R"(^\d+,VC(\d+),ACT,d(\d+),b(\d+),)");
  while (std::getline(in, line)) {
    std::smatch m;
    if (!std::regex_search(line, m, act)) continue;
    const unsigned v = static_cast<unsigned>(std::stoul(m[1]));
    const unsigned bank = static_cast<unsigned>(std::stoul(m[2])) * banksPerPartition +
                          static_cast<unsigned>(std::stoul(m[3]));
    ++acts[{v, bank}];
  }
  return acts;
}

} // namespace quortest
