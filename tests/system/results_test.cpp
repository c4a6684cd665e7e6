// What a run leaves besides its text report: the statistics file agrees with
// the report of the same run, the time series adds up to it (per link too), an
// interrupted run still reports and says so, progress stays on standard error,
// waveforms are well formed, RANDOM_SEED picks another, equally repeatable
// sample, and an output that cannot be written is an error.
#include "support/process.h"
#include "support/report.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <csignal>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using namespace quortest;
using nlohmann::json;

namespace {

json Load(const std::string& path) {
  std::ifstream in(path);
  return json::parse(in, nullptr, false);
}

// The report prints 6 significant digits, 4 after its per-packet section.
void ExpectPrinted(double printed, const json& value, const std::string& what) {
  ASSERT_TRUE(value.is_number()) << what;
  const double v = value.get<double>();
  EXPECT_NEAR(printed, v, 5e-4 * std::abs(v) + 1e-9) << what;
}

// The epoch CSV as one map from column name to value per row.
std::vector<std::map<std::string, std::string>> ReadCsv(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::vector<std::string> header;
  std::vector<std::map<std::string, std::string>> rows;
  auto cells = [](const std::string& text) {
    std::vector<std::string> out;
    std::stringstream ss(text);
    for (std::string cell; std::getline(ss, cell, ',');) out.push_back(cell);
    if (!text.empty() && text.back() == ',') out.emplace_back();
    return out;
  };
  if (std::getline(in, line)) header = cells(line);
  while (std::getline(in, line)) {
    const auto values = cells(line);
    EXPECT_EQ(values.size(), header.size()) << line;
    std::map<std::string, std::string> row;
    for (size_t i = 0; i < header.size() && i < values.size(); ++i) row[header[i]] = values[i];
    rows.push_back(row);
  }
  return rows;
}

} // namespace

TEST(StatsJson, AgreesFieldByFieldWithTheTextReportOfTheSameRun) {
  TempDir dir;
  const auto config = dir.Write(
      "run.ini", "NUM_REQUESTS = 300\nPERCENTAGE_RD_16B = 50\nPERCENTAGE_RD_64B = 0\n"
                 "PERCENTAGE_RD_128B = 50\nPERCENTAGE_WR_32B = 100\nPERCENTAGE_WR_64B = 0\n");
  const ProgramRun run = RunProgram(QuorsimProgram(), {config, "--stats-json", "stats.json"}, dir.path);
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  const ProgramRun plain = RunProgram(QuorsimProgram(), {config}, dir.path);
  // The statistics file changes nothing in the report itself.
  EXPECT_EQ(ReportSection(run.out), ReportSection(plain.out));

  const Report r = ParseReport(run.out);
  EXPECT_EQ(r.settings.at("STATS_JSON"), "stats.json");
  const json doc = Load(dir.File("stats.json"));
  ASSERT_TRUE(doc.is_object());
  EXPECT_EQ(doc["run"]["end"], "sources_done");
  EXPECT_EQ(doc["run"]["interrupted"], false);
  EXPECT_EQ(doc["configuration"]["NUM_REQUESTS"]["value"], 300);
  EXPECT_EQ(doc["configuration"]["NUM_REQUESTS"]["set"], true);
  EXPECT_EQ(doc["configuration"]["NUM_LINKS"]["set"], false);
  ExpectPrinted(r.endTimeNs, doc["run"]["simulated_time_ns"], "end time");

  ASSERT_EQ(r.requestsBySize.size(), 8u);
  for (unsigned k = 0; k < 8; ++k) {
    EXPECT_EQ(doc["requests"]["by_size"][k]["reads"], r.requestsBySize[k].first) << k;
    EXPECT_EQ(doc["requests"]["by_size"][k]["writes"], r.requestsBySize[k].second) << k;
  }
  EXPECT_EQ(doc["requests"]["total"], r.totalRequests);
  const json& host = doc["host_controller"];
  ExpectPrinted(r.dataBandwidth, host["data_bandwidth_gbps"], "host bandwidth");
  EXPECT_EQ(host["bytes_moved"], r.bytesMoved);
  EXPECT_EQ(host["reads"], r.issuedReads);
  EXPECT_EQ(host["writes"], r.issuedWrites);
  EXPECT_EQ(host["read_responses"], r.readResponses);
  EXPECT_EQ(host["write_responses"], r.writeResponses);

  ASSERT_EQ(doc["links"].size(), r.links.size());
  for (size_t i = 0; i < r.links.size(); ++i) {
    const LinkFigures& t = r.links[i];
    const json& j = doc["links"][i];
    const std::string at = "link " + std::to_string(i) + " ";
    ExpectPrinted(t.peak, j["peak_bandwidth_gbps"], at + "peak");
    EXPECT_EQ(j["reads"], t.reads) << at;
    EXPECT_EQ(j["read_responses"], t.readResponses) << at;
    EXPECT_EQ(j["writes"], t.writes) << at;
    EXPECT_EQ(j["write_responses"], t.writeResponses) << at;
    ExpectPrinted(t.requestUtilization, j["request_utilization_percent"], at + "request use");
    ExpectPrinted(t.requestBandwidth, j["request_bandwidth_gbps"], at + "request bandwidth");
    ExpectPrinted(t.responseUtilization, j["response_utilization_percent"], at + "response use");
    ExpectPrinted(t.responseBandwidth, j["response_bandwidth_gbps"], at + "response bandwidth");
    ExpectPrinted(t.effectiveBandwidth, j["effective_bandwidth_gbps"], at + "effective");
    ExpectPrinted(t.readBandwidth, j["read_bandwidth_gbps"], at + "read bandwidth");
    ExpectPrinted(t.writeBandwidth, j["write_bandwidth_gbps"], at + "write bandwidth");
    EXPECT_EQ(j["bytes"], t.bytes) << at;
    EXPECT_EQ(j["read_bytes"], t.readBytes) << at;
    EXPECT_EQ(j["write_bytes"], t.writeBytes) << at;
    ASSERT_TRUE(t.hasLatency) << at;
    ExpectPrinted(t.avgLatency, j["read_latency"]["mean_ns"], at + "mean latency");
    ExpectPrinted(t.maxLatency, j["read_latency"]["max_ns"], at + "max latency");
    ExpectPrinted(t.minLatency, j["read_latency"]["min_ns"], at + "min latency");
  }

  ASSERT_EQ(doc["vaults"].size(), r.vaults.size());
  for (size_t v = 0; v < r.vaults.size(); ++v) {
    const json& j = doc["vaults"][v];
    EXPECT_EQ(j["reads"], r.vaults[v].reads) << v;
    EXPECT_EQ(j["writes"], r.vaults[v].writes) << v;
    ExpectPrinted(r.vaults[v].bandwidth, j["tsv_bandwidth_gbps"], "vault " + std::to_string(v));
    ASSERT_EQ(j["banks"].size(), r.vaults[v].bankCounts.size()) << v;
    for (size_t b = 0; b < r.vaults[v].bankCounts.size(); ++b)
      EXPECT_EQ(j["banks"][b]["activations"], r.vaults[v].bankCounts[b]) << v << " " << b;
  }
  ExpectPrinted(r.totalVaultBandwidth, doc["vault_totals"]["tsv_bandwidth_gbps"], "vault total");
  EXPECT_EQ(doc["vault_totals"]["data_bytes"], r.totalVaultBytes);

  // Figures the report lacks: every answered request is in the sources' counts.
  const json& e2e = doc["end_to_end_latency"];
  EXPECT_EQ(e2e["reads"]["count"], r.readResponses);
  EXPECT_EQ(e2e["writes"]["count"], r.writeResponses);
  for (const char* kind : {"reads", "writes"}) {
    const json& l = e2e[kind];
    EXPECT_LE(l["min_ns"].get<double>(), l["p50_ns"].get<double>()) << kind;
    EXPECT_LE(l["p50_ns"].get<double>(), l["p90_ns"].get<double>()) << kind;
    EXPECT_LE(l["p90_ns"].get<double>(), l["p99_ns"].get<double>()) << kind;
    EXPECT_LE(l["p99_ns"].get<double>(), l["p99_9_ns"].get<double>()) << kind;
    EXPECT_LE(l["p99_9_ns"].get<double>(), l["max_ns"].get<double>()) << kind;
  }
  // Nothing posted here: what was delivered is what the host moved.
  EXPECT_EQ(doc["delivered"]["posted_write_bytes"], 0);
  EXPECT_EQ(doc["delivered"]["read_bytes"].get<uint64_t>() +
                doc["delivered"]["write_bytes"].get<uint64_t>(),
            r.bytesMoved);
}

TEST(StatsJson, PostedWritesAreDeliveredWhenTheVaultsTakeThem) {
  TempDir dir;
  const auto config =
      dir.Write("run.ini", "NUM_REQUESTS = 200\nPERCENTAGE_READ = 0\nPOSTED_WRITES = true\n");
  const ProgramRun run = RunProgram(QuorsimProgram(), {config, "STATS_JSON=s.json"}, dir.path);
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  const json doc = Load(dir.File("s.json"));
  // The run ends once the host has sent every write; those the vaults took in
  // by then are the delivered ones, all the vaults' write bytes here.
  const Report r = ParseReport(run.out);
  EXPECT_GT(r.totalVaultBytes, 0u);
  EXPECT_LE(r.totalVaultBytes, 4u * 200 * 64);
  EXPECT_EQ(doc["delivered"]["posted_write_bytes"], r.totalVaultBytes);
  EXPECT_EQ(doc["delivered"]["write_bytes"], 0);
  EXPECT_EQ(doc["end_to_end_latency"]["writes"]["count"], 0);
  EXPECT_TRUE(doc["end_to_end_latency"]["writes"]["mean_ns"].is_null());
}

struct Interrupt {
  int signal;
  const char* name;
  int status;
};

TEST(Interrupt, StopsAtASafePointReportsAndMarksTheStatistics) {
  for (const Interrupt& i : {Interrupt{SIGINT, "SIGINT", 130}, Interrupt{SIGTERM, "SIGTERM", 143}}) {
    TempDir dir;
    // A million requests per generator: far longer than the test waits.
    const auto config = dir.Write("run.ini", "SIM_TIME = 10000000\n");
    const ProgramRun run =
        RunProgramAndSignal(QuorsimProgram(), {config, "--stats-json", "s.json"}, dir.path, i.signal);
    EXPECT_EQ(run.exitCode, i.status) << i.name << run.err;
    EXPECT_NE(ReportSection(run.out).find("  Total Bytes Moved : "), std::string::npos) << i.name;
    EXPECT_NE(run.err.find(std::string("Interrupted by ") + i.name), std::string::npos) << run.err;
    const Report r = ParseReport(run.out);
    const json doc = Load(dir.File("s.json"));
    ASSERT_TRUE(doc.is_object()) << i.name;
    EXPECT_EQ(doc["run"]["interrupted"], true);
    EXPECT_EQ(doc["run"]["end"], "interrupted");
    EXPECT_EQ(doc["run"]["signal"], i.name);
    ExpectPrinted(r.endTimeNs, doc["run"]["simulated_time_ns"], i.name);
    EXPECT_GT(r.endTimeNs, 0);
    EXPECT_LT(r.endTimeNs, 10000000);
  }
}

TEST(RandomSeed, AnotherSeedGivesAnotherRepeatableSample) {
  TempDir dir;
  const auto config = dir.Write("run.ini", "NUM_REQUESTS = 200\n");
  const ProgramRun base = RunProgram(QuorsimProgram(), {config}, dir.path);
  const ProgramRun seeded = RunProgram(QuorsimProgram(), {config, "RANDOM_SEED=7"}, dir.path);
  const ProgramRun again = RunProgram(QuorsimProgram(), {config, "RANDOM_SEED=7"}, dir.path);
  const ProgramRun one = RunProgram(QuorsimProgram(), {config, "RANDOM_SEED=1"}, dir.path);
  ASSERT_EQ(seeded.exitCode, 0) << seeded.out;
  EXPECT_EQ(ReportSection(seeded.out), ReportSection(again.out));
  EXPECT_NE(ReportSection(seeded.out), ReportSection(base.out));
  // The default seed is 1: setting it changes only the listing's marker line.
  EXPECT_EQ(ReportSection(one.out), ReportSection(base.out));
  EXPECT_NE(seeded.out.find("[*] [unsigned]: 'RANDOM_SEED'=7\n"), std::string::npos);
}

// Standard output less the listing lines of `keys`, which a run that sets them
// adds (each exactly once); what is left must be the output of a run without them.
std::string WithoutListed(std::string out, const std::vector<std::string>& keys) {
  for (const auto& key : keys) {
    const std::string marker = "]: '" + key + "'=";
    const auto at = out.find(marker);
    EXPECT_NE(at, std::string::npos) << key;
    if (at == std::string::npos) continue;
    EXPECT_EQ(out.find(marker, at + 1), std::string::npos) << key;
    const auto begin = out.rfind('\n', at) + 1;
    out.erase(begin, out.find('\n', at) + 1 - begin);
  }
  return out;
}

// Epoch rows cover the run without gap and add up to its totals, per link too;
// the queue means agree with the run's; turning the time series on leaves
// standard output as it was. A last, shorter epoch ends the run.
TEST(Epochs, RowsAddUpToTheRunTotalsAndLeaveTheOutputUnchanged) {
  const char* configs[] = {"SIM_TIME = 2500\n", "NUM_REQUESTS = 150\nPOSTED_WRITES = true\n",
                           "NUM_REQUESTS = 150\nPERCENTAGE_READ = 100\n"};
  for (const char* text : configs) {
    TempDir dir;
    const auto config = dir.Write("run.ini", text);
    const ProgramRun run = RunProgram(
        QuorsimProgram(), {config, "--stats-json", "s.json", "--epoch-ns", "700"}, dir.path);
    ASSERT_EQ(run.exitCode, 0) << text << run.out << run.err;
    const ProgramRun plain = RunProgram(QuorsimProgram(), {config}, dir.path);
    EXPECT_EQ(WithoutListed(run.out, {"STATS_JSON", "EPOCH_NS"}), plain.out) << text;

    const json doc = Load(dir.File("s.json"));
    const auto rows = ReadCsv(dir.File("epochs.csv"));
    std::ifstream jsonl(dir.File("epochs.jsonl"));
    ASSERT_FALSE(rows.empty()) << text;
    const size_t links = doc["links"].size();
    std::map<std::string, uint64_t> sums;
    std::vector<double> linkBytes(links, 0.0);
    double previousEnd = 0, readLatencySum = 0, outstandingArea = 0, bufferArea = 0;
    for (const auto& row : rows) {
      const double start = std::stod(row.at("start_ns"));
      EXPECT_DOUBLE_EQ(start, previousEnd) << text;
      previousEnd = std::stod(row.at("end_ns"));
      const double span = previousEnd - start;
      EXPECT_LE(span, 700.0) << text;
      for (const char* c : {"reads_answered", "writes_answered", "read_bytes", "write_bytes",
                            "posted_write_bytes"})
        sums[c] += std::stoull(row.at(c));
      for (size_t l = 0; l < links; ++l)
        linkBytes[l] += std::stod(row.at("link" + std::to_string(l) + "_bandwidth_gbps")) * span;
      outstandingArea += std::stod(row.at("outstanding_requests_mean")) * span;
      bufferArea += std::stod(row.at("host_buffer_flits_mean")) * span;
      if (!row.at("read_latency_mean_ns").empty())
        readLatencySum += std::stod(row.at("read_latency_mean_ns")) *
                          static_cast<double>(std::stoull(row.at("reads_answered")));
      std::string record;
      ASSERT_TRUE(std::getline(jsonl, record)) << text;
      const json r = json::parse(record);
      EXPECT_EQ(r["read_bytes"].get<uint64_t>(), std::stoull(row.at("read_bytes")));
      EXPECT_EQ(r["writes_answered"].get<uint64_t>(), std::stoull(row.at("writes_answered")));
      EXPECT_EQ(r["link_bandwidth_gbps"].size(), links);
    }
    ExpectPrinted(previousEnd, doc["run"]["simulated_time_ns"], text);
    const json& d = doc["delivered"];
    EXPECT_EQ(sums["read_bytes"], d["read_bytes"].get<uint64_t>()) << text;
    EXPECT_EQ(sums["write_bytes"], d["write_bytes"].get<uint64_t>()) << text;
    EXPECT_EQ(sums["posted_write_bytes"], d["posted_write_bytes"].get<uint64_t>()) << text;
    const json& reads = doc["end_to_end_latency"]["reads"];
    EXPECT_EQ(sums["reads_answered"], reads["count"].get<uint64_t>()) << text;
    EXPECT_EQ(sums["writes_answered"], doc["end_to_end_latency"]["writes"]["count"].get<uint64_t>());
    if (sums["reads_answered"] > 0) {
      EXPECT_NEAR(readLatencySum / static_cast<double>(sums["reads_answered"]),
                  reads["mean_ns"].get<double>(), 1e-6 * reads["mean_ns"].get<double>());
    }
    // Every delivered byte took one link.
    uint64_t overLinks = 0;
    for (size_t l = 0; l < links; ++l) {
      const uint64_t bytes = doc["links"][l]["delivered_bytes"].get<uint64_t>();
      overLinks += bytes;
      EXPECT_NEAR(linkBytes[l], static_cast<double>(bytes), 1e-6 * static_cast<double>(bytes) + 1e-6)
          << text << " link " << l;
    }
    EXPECT_EQ(overLinks, d["total_bytes"].get<uint64_t>()) << text;
    const json& host = doc["host_controller"];
    EXPECT_NEAR(outstandingArea / previousEnd, host["outstanding_requests_mean"].get<double>(), 1e-6)
        << text;
    EXPECT_NEAR(bufferArea / previousEnd, host["request_buffer_flits_mean"].get<double>(), 1e-6)
        << text;
    if (doc["run"]["end"] == "sources_done" && host["writes"] == 0) {
      // A read holds its tag from before its request leaves the host (where the
      // link latency starts) until its response arrives (before it reaches the
      // source, where the end-to-end latency ends): the time-weighted count of
      // tags in use lies between the two sums of latencies.
      double linkLatencySum = 0;
      for (const auto& link : doc["links"])
        linkLatencySum += link["read_latency"]["mean_ns"].get<double>() *
                          link["read_latency"]["count"].get<double>();
      const double e2eSum = reads["mean_ns"].get<double>() * reads["count"].get<double>();
      EXPECT_GT(linkLatencySum, 0) << text;
      EXPECT_GE(outstandingArea, linkLatencySum * (1 - 1e-6)) << text;
      EXPECT_LE(outstandingArea, e2eSum * (1 + 1e-6)) << text;
    }
  }
}

// A run of more than two seconds shows its progress on standard error and ends
// that line; standard output stays byte for byte the committed one, with the
// time series and the statistics file on as well.
TEST(Progress, ShowsOnStandardErrorOnlyAndLeavesTheOutputAsCommitted) {
  TempDir dir;
  const std::string source = SourceDir();
  const ProgramRun run = RunProgram(
      QuorsimProgram(),
      {source + "/configs/default.ini", "--progress", "--epoch-ns", "25000", "--stats-json", "s.json"},
      dir.path);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::ifstream golden(source + "/tests/golden/expected/configs-default.out", std::ios::binary);
  std::stringstream expected;
  expected << golden.rdbuf();
  EXPECT_EQ(WithoutListed(run.out, {"STATS_JSON", "EPOCH_NS", "PROGRESS"}), expected.str());
  EXPECT_EQ(run.out.find('\r'), std::string::npos);

  const auto shown = run.err.find("\rsimulated ");
  ASSERT_NE(shown, std::string::npos) << run.err;
  EXPECT_NE(run.err.find(" of 100.0 us (", shown), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(" answered/s, about ", shown), std::string::npos) << run.err;
  // The last drawing is the whole run's, and ends the line.
  const auto last = run.err.rfind("\rsimulated ");
  EXPECT_NE(run.err.find("simulated 100.0 of 100.0 us (100 %)", last), std::string::npos) << run.err;
  EXPECT_NE(run.err.find('\n', last), std::string::npos);
  EXPECT_EQ(ReadCsv(dir.File("epochs.csv")).size(), 4u);
}

// The waveforms are a well-formed VCD file holding the host links, the credit
// and busy lines and the TSV command buses, and tracing leaves standard output
// as it was.
TEST(Waveforms, VcdHoldsTheLinksCreditsAndBusesAndLeavesTheOutputUnchanged) {
  TempDir dir;
  const auto config = dir.Write("run.ini", "SIM_TIME = 1500\n");
  const ProgramRun run = RunProgram(QuorsimProgram(), {config, "--vcd", "w.vcd"}, dir.path);
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  const ProgramRun plain = RunProgram(QuorsimProgram(), {config}, dir.path);
  EXPECT_EQ(WithoutListed(run.out, {"VCD_FILE"}), plain.out);

  std::ifstream vcd(dir.File("w.vcd"));
  std::string line, scope;
  std::map<std::string, std::string> declared;  // id -> scope.name
  bool definitionsDone = false, timescale = false, inComment = false;
  long long lastTime = -1;
  uint64_t changes = 0;
  while (std::getline(vcd, line)) {
    std::istringstream words(line);
    std::string first;
    words >> first;
    if (!definitionsDone) {
      if (first == "$timescale") timescale = true;
      if (first == "$scope") words >> scope >> scope;
      if (first == "$var") {
        std::string kind, width, id, name;
        words >> kind >> width >> id >> name;
        declared[id] = scope + "." + name;
      }
      if (first == "$enddefinitions") definitionsDone = true;
      continue;
    }
    if (first == "$comment") inComment = true;
    if (inComment) {
      inComment = line.find("$end") == std::string::npos;
      continue;
    }
    if (first.empty() || first[0] == '$') continue;
    if (first[0] == '#') {
      const long long t = std::stoll(first.substr(1));
      EXPECT_GT(t, lastTime);
      lastTime = t;
      continue;
    }
    // "b101 id" or "1id": the id must have been declared.
    std::string id;
    if (first[0] == 'b') words >> id;
    else id = first.substr(1);
    EXPECT_EQ(declared.count(id), 1u) << line;
    ++changes;
  }
  EXPECT_TRUE(timescale);
  ASSERT_TRUE(definitionsDone);
  EXPECT_LE(lastTime, 1500LL * 1000);  // ps
  EXPECT_GT(changes, 1000u);
  for (const char* wanted : {"requestLinks_0.id", "responseLinks_3.id", "commandBus.command",
                             "linkCreditReturn", "inputBufferBusy", "writeDataCreditReturn"}) {
    bool found = false;
    for (const auto& entry : declared) found = found || entry.second.find(wanted) != std::string::npos;
    EXPECT_TRUE(found) << wanted;
  }
}

// quorbench writes the same outputs and takes the seed, from its file or from
// the command line as quorsim does.
TEST(Quorbench, WritesStatisticsAndEpochsAndTakesTheSeed) {
  TempDir dir;
  const auto config = dir.Write(
      "run.ini", "NUM_REQUESTS = 100\nSTATS_JSON = s.json\nEPOCH_NS = 400\n");
  const ProgramRun run = RunProgram(QuorbenchProgram(), {config}, dir.path);
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  const json doc = Load(dir.File("s.json"));
  ASSERT_TRUE(doc.is_object());
  EXPECT_EQ(doc["run"]["end"], "sources_done");
  const auto rows = ReadCsv(dir.File("epochs.csv"));
  uint64_t reads = 0;
  for (const auto& row : rows) reads += std::stoull(row.at("reads_answered"));
  EXPECT_EQ(reads, doc["end_to_end_latency"]["reads"]["count"].get<uint64_t>());
  EXPECT_GT(reads, 0u);

  const auto seeded = dir.Write("seeded.ini", "NUM_REQUESTS = 100\nRANDOM_SEED = 7\n");
  const auto plain = dir.Write("plain.ini", "NUM_REQUESTS = 100\n");
  const ProgramRun a = RunProgram(QuorbenchProgram(), {seeded}, dir.path);
  const ProgramRun b = RunProgram(
      QuorbenchProgram(), {plain, "RANDOM_SEED=7", "--stats-json", "b.json"}, dir.path);
  ASSERT_EQ(b.exitCode, 0) << b.out << b.err;
  EXPECT_EQ(ReportSection(a.out), ReportSection(b.out));
  EXPECT_NE(ReportSection(run.out), ReportSection(b.out));
  EXPECT_EQ(Load(dir.File("b.json"))["seed"], 7);
}

// An output file that cannot be written ends the run with an ERROR line on
// standard error and exit status 1, whichever program and output it is.
TEST(Outputs, AFileThatCannotBeWrittenEndsTheRunWithAnError) {
  struct Case {
    std::vector<std::string> options;
    const char* error;
  };
  const Case cases[] = {{{"--vcd", "missing/w.vcd"}, "ERROR - cannot write the waveform file"},
                        {{"--epoch-ns", "100", "--epochs", "missing/e.csv"},
                         "ERROR - cannot write the epoch file"},
                        {{"--stats-json", "missing/s.json"},
                         "ERROR - Could not write the statistics file"}};
  TempDir dir;
  const auto config = dir.Write("run.ini", "NUM_REQUESTS = 20\n");
  for (const std::string& program : {QuorsimProgram(), QuorbenchProgram()}) {
    for (const Case& c : cases) {
      std::vector<std::string> args = {config};
      args.insert(args.end(), c.options.begin(), c.options.end());
      const ProgramRun run = RunProgram(program, args, dir.path);
      EXPECT_EQ(run.exitCode, 1) << program << " " << c.error << run.err;
      EXPECT_NE(run.err.find(c.error), std::string::npos) << program << run.err;
    }
  }
}

// The DRAM detail of the statistics file: each vault's banks add up to its
// block of the text report and to its column accesses, every refresh is one REF
// line of the command trace, and a vault refreshes once per refresh interval.
TEST(DramDetail, BankCommandsAddUpAndRefreshesFollowTheInterval) {
  struct Case {
    const char* config;
    double windowNs;  // the refresh window the interval divides
  };
  const Case cases[] = {{"SIM_TIME = 3us\n", 32e6},
                        {"SIM_TIME = 3us\nTj = 100\nNUM_PARTITIONS = 4\nPERCENTAGE_READ = 80\n", 16e6}};
  for (const Case& c : cases) {
    TempDir dir;
    const auto config = dir.Write("run.ini", std::string(c.config) + "DRAM_TRACING = true\n");
    const ProgramRun run = RunProgram(QuorsimProgram(), {config, "--stats-json", "s.json"}, dir.path);
    ASSERT_EQ(run.exitCode, 0) << c.config << run.out << run.err;
    const Report report = ParseReport(run.out);
    const json doc = Load(dir.File("s.json"));
    const json& keys = doc["configuration"];
    const double rows = keys["NUM_BANKS"]["value"].get<double>() * keys["NUM_ROWS"]["value"].get<double>() *
                        keys["NUM_PARTITIONS"]["value"].get<double>();
    const double simulatedNs = doc["run"]["simulated_time_ns"].get<double>();
    std::map<std::string, uint64_t> refLines;
    std::ifstream trace(dir.File("dram_trace.csv"));
    for (std::string line; std::getline(trace, line);) {
      const auto first = line.find(',');
      const auto second = line.find(',', first + 1);
      if (line.compare(second + 1, 4, "REF,") == 0) ++refLines[line.substr(first + 1, second - first - 1)];
    }
    ASSERT_EQ(doc["vaults"].size(), report.vaults.size()) << c.config;
    for (size_t v = 0; v < report.vaults.size(); ++v) {
      const json& vault = doc["vaults"][v];
      const std::string where = std::string(c.config) + " vault " + std::to_string(v);
      uint64_t columns = 0, refreshes = 0;
      for (size_t b = 0; b < vault["banks"].size(); ++b) {
        const json& bank = vault["banks"][b];
        EXPECT_EQ(bank["activate_commands"].get<uint64_t>(), report.vaults[v].bankCounts.at(b)) << where;
        // Closed page: every activate is followed by its precharge, but the last may be pending.
        EXPECT_LE(bank["activate_commands"].get<uint64_t>() - bank["precharge_commands"].get<uint64_t>(), 1u)
            << where;
        columns += bank["read_commands"].get<uint64_t>() + bank["write_commands"].get<uint64_t>() +
                   bank["refresh_commands"].get<uint64_t>();
        refreshes += bank["refresh_commands"].get<uint64_t>();
        EXPECT_GE(bank["busy_percent"].get<double>(), 0.0) << where;
        EXPECT_LE(bank["busy_percent"].get<double>(), 100.0) << where;
      }
      // A refresh counts at its activate, its column access at its read: one may be between.
      EXPECT_LE(columns - vault["column_accesses"].get<uint64_t>(), 1u) << where;
      EXPECT_EQ(refreshes, vault["refreshes"].get<uint64_t>()) << where;
      EXPECT_EQ(refLines["VC" + std::to_string(v)], refreshes) << where;
      EXPECT_NEAR(static_cast<double>(refreshes), std::floor(simulatedNs / (c.windowNs / rows)), 1.0)
          << where;
      EXPECT_GT(vault["refresh_ns"].get<double>(), 0.0) << where;
    }
  }
}

// A warm-up leaves out what a run of the warm-up's length counts: every figure
// of the window is the full run's minus the short run's, the time series starts
// at the warm-up's end and adds up to the window, and the output is unchanged.
TEST(WarmUp, TheWindowIsTheRunWithoutWhatTheWarmUpSaw) {
  const char* warmUps[] = {"1us", "1600ns"};
  for (const char* warmUp : warmUps) {
    TempDir dir;
    const auto config = dir.Write("run.ini", "SIM_TIME = 3us\nPERCENTAGE_READ = 60\n");
    const ProgramRun full = RunProgram(QuorsimProgram(), {config, "STATS_JSON=full.json"}, dir.path);
    const ProgramRun shortRun = RunProgram(
        QuorsimProgram(), {config, std::string("SIM_TIME=") + warmUp, "STATS_JSON=short.json"}, dir.path);
    const ProgramRun warm = RunProgram(
        QuorsimProgram(),
        {config, std::string("WARMUP_NS=") + warmUp, "STATS_JSON=warm.json", "--epoch-ns", "300"}, dir.path);
    ASSERT_EQ(warm.exitCode, 0) << warm.out << warm.err;
    EXPECT_EQ(WithoutListed(warm.out, {"WARMUP_NS", "STATS_JSON", "EPOCH_NS"}),
              WithoutListed(full.out, {"STATS_JSON"}));
    const json f = Load(dir.File("full.json")), s = Load(dir.File("short.json")),
               w = Load(dir.File("warm.json"));
    const double startNs = s["run"]["simulated_time_ns"].get<double>();
    EXPECT_DOUBLE_EQ(w["run"]["window"]["start_ns"].get<double>(), startNs);
    EXPECT_DOUBLE_EQ(w["run"]["window"]["warmup_ns"].get<double>(), startNs);
    EXPECT_DOUBLE_EQ(f["run"]["window"]["start_ns"].get<double>(), 0.0);
    auto expectDifference = [&](const json::json_pointer& at) {
      EXPECT_EQ(w[at].get<uint64_t>(), f[at].get<uint64_t>() - s[at].get<uint64_t>()) << warmUp << at;
    };
    for (const char* at : {"/delivered/total_bytes", "/delivered/read_bytes", "/host_controller/reads",
                           "/host_controller/bytes_moved", "/end_to_end_latency/reads/count",
                           "/requests/total", "/vault_totals/data_bytes", "/links/0/sent_response_flits",
                           "/vaults/3/reads", "/vaults/3/column_accesses", "/vaults/3/refreshes",
                           "/vaults/3/banks/0/read_commands", "/vaults/3/banks/0/activations"})
      expectDifference(json::json_pointer(at));
    EXPECT_LT(w["delivered"]["total_bytes"].get<uint64_t>(), f["delivered"]["total_bytes"].get<uint64_t>());
    // The window's histogram holds exactly the full run's buckets less the short run's.
    std::map<double, int64_t> buckets;
    for (const auto& b : f["end_to_end_latency"]["reads"]["histogram"]) buckets[b["low_ns"]] += b["count"].get<int64_t>();
    for (const auto& b : s["end_to_end_latency"]["reads"]["histogram"]) buckets[b["low_ns"]] -= b["count"].get<int64_t>();
    for (const auto& b : w["end_to_end_latency"]["reads"]["histogram"]) buckets[b["low_ns"]] -= b["count"].get<int64_t>();
    for (const auto& [low, count] : buckets) EXPECT_EQ(count, 0) << warmUp << " bucket " << low;

    const auto rows = ReadCsv(dir.File("epochs.csv"));
    ASSERT_FALSE(rows.empty());
    EXPECT_DOUBLE_EQ(std::stod(rows.front().at("start_ns")), startNs);
    uint64_t readBytes = 0, readsAnswered = 0;
    for (const auto& row : rows) {
      readBytes += std::stoull(row.at("read_bytes"));
      readsAnswered += std::stoull(row.at("reads_answered"));
    }
    EXPECT_EQ(readBytes, w["delivered"]["read_bytes"].get<uint64_t>()) << warmUp;
    EXPECT_EQ(readsAnswered, w["end_to_end_latency"]["reads"]["count"].get<uint64_t>()) << warmUp;
  }
}
