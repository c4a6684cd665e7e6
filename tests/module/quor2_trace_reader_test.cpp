#include "doubles/source_doubles.h"
#include "quor2_trace_reader.h"
#include "support/scenario.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sys/stat.h>

using namespace Orvane::Internal::QUOR2;
using namespace sc_core;
using quortest::CoutCapture;
using quortest::DoneProbe;
using quortest::RunScenario;
using quortest::SourceTargetDouble;

namespace {

// The model's example line, with a dram value that fits a 2 GB device.
const char* const kExample = "id:0005,lnk:1,cmd:enu_write,vlt:8,bnk:4,dram:0x1E60,dbytes:128,nop:3";

// Writes a trace under the build tree, named after the test, and returns its path.
std::string TraceFile(const std::string& name, const std::string& content) {
  const std::string dir = std::string(QUORSIM_BINARY_DIR) + "/test_traces";
  mkdir(dir.c_str(), 0755);
  const std::string path = dir + "/" + name + ".txt";
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  return path;
}

std::string ThisTest() { return ::testing::UnitTest::GetInstance()->current_test_info()->name(); }

struct Reader {
  quor2_trace_reader* reader;
  SourceTargetDouble* target;
  DoneProbe* probe;
};

// A reader bound to a controller double, with its done signal probed. Like the
// testbench's sources, everything lives until the process ends.
Reader AddReader(const Config& cfg, sc_clock& clock, unsigned id, const std::string* path) {
  char name[32];
  std::snprintf(name, sizeof name, "tracereader%u", id);
  Reader r;
  r.reader = path ? new quor2_trace_reader(name, id, *path, cfg)
                  : new quor2_trace_reader(name, id, cfg);
  std::snprintf(name, sizeof name, "target%u", id);
  r.target = new SourceTargetDouble(name);
  std::snprintf(name, sizeof name, "probe%u", id);
  r.probe = new DoneProbe(name);
  auto* done = new sc_signal<bool>();
  r.reader->SetClock(&clock);
  r.reader->SetDone(done);
  r.reader->GetRequestSocket()->bind(r.target->socket);
  r.probe->in(*done);
  return r;
}

Reader ReadTrace(const Config& cfg, const std::string& content) {
  const std::string path = TraceFile(ThisTest(), content);
  return AddReader(cfg, *new sc_clock("TestClock", cfg.CORE_CLK), 0, &path);
}

const char* const kMalformedTail =
    "\nProper Format : id:X,lnk:X,cmd:X,vlt:X,bnk:X,dram:0xX,dbytes:X,nop:X\n"
    "Example Line  : id:0005,lnk:1,cmd:enu_write,vlt:8,bnk:4,dram:0x91E60,dbytes:128,nop:3\n";

// Replays one bad line after a good one; the run must end with status 1.
void ReplayBadLine(const std::string& line) {
  RunScenario([line] {
    Config cfg;
    ReadTrace(cfg, std::string(kExample) + "\n" + line + "\n" + kExample + "\n");
    sc_start(sc_time(1, SC_US));
    SCN_CHECK(false);
  });
}

} // namespace

TEST(TraceLines, ExampleLineIsA128ByteWriteOnLink1AfterThreeNulls) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                Reader r = ReadTrace(cfg, std::string(kExample) + "\n");
                CoutCapture out(true);
                sc_start(sc_time(1, SC_US));
                const auto& q = r.target->requests;
                SCN_CHECK_EQ(q.size(), 1u);
                SCN_CHECK_EQ(q[0].time, sc_time(1600, SC_PS));
                SCN_CHECK_EQ(q[0].address, 0x7982400u);
                SCN_CHECK_EQ(q[0].command, tlm::TLM_WRITE_COMMAND);
                SCN_CHECK_EQ(q[0].length, 128u);
                SCN_CHECK_EQ(q[0].streamingWidth, 1u);
                SCN_CHECK_EQ(q[0].byteEnableLength, 3u);
                SCN_CHECK_EQ(q[0].atomic, -1);
                // The trailing newline is met only by the next, empty read:
                // no finish line, but done follows the response.
                SCN_CHECK_EQ(out.Text().find("finished issuing"), std::string::npos);
                SCN_CHECK_EQ(r.probe->rises.size(), 1u);
                SCN_CHECK_EQ(r.probe->rises[0], sc_time(11600, SC_PS));
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(TraceLines, LastLineWithoutNewlinePrintsTheFinishLine) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                Reader r = ReadTrace(cfg, std::string(kExample) + "\n" + kExample);
                sc_start(sc_time(1, SC_US));
                SCN_CHECK_EQ(r.target->requests.size(), 2u);
                SCN_CHECK_EQ(r.probe->rises.size(), 1u);
                SCN_CHECK_EQ(r.probe->rises[0], sc_time(11600, SC_PS));
              }),
              ::testing::ExitedWithCode(0), "\n=\\[1600 ps\\]= TraceReader finished issuing\n");
}

TEST(TraceLines, CommentsBlankAndOnePieceLinesAreSkipped) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                Reader r = ReadTrace(cfg,
                                     "// header\n"
                                     "\n"
                                     "id:1\n"
                                     "just some words\n"
                                     "//id:2,lnk:0,cmd:enu_read,vlt:0,bnk:0,dram:0,dbytes:64,nop:0\n"
                                     "id:3,lnk:2,cmd:enu_read,vlt:0,bnk:0,dram:0,dbytes:64,nop:2 // x\n"
                                     "id:4,lnk:3,,cmd:enu_read,vlt:5,bnk:1,dram:3,dbytes:32,nop:0,more:1\n");
                sc_start(sc_time(1, SC_US));
                const auto& q = r.target->requests;
                SCN_CHECK_EQ(q.size(), 2u);
                SCN_CHECK_EQ(q[0].streamingWidth, 2u);
                SCN_CHECK_EQ(q[0].byteEnableLength, 2u);
                SCN_CHECK_EQ(q[0].command, tlm::TLM_READ_COMMAND);
                SCN_CHECK_EQ(q[1].streamingWidth, 3u);
                SCN_CHECK_EQ(q[1].address, ((3u << 3 | 1u) << 4 | 5u) << 7);
                SCN_CHECK_EQ(q[1].length, 32u);
                SCN_CHECK_EQ(r.reader->issuedReads, 2u);
                SCN_CHECK_EQ(r.probe->rises.size(), 1u);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(TraceLines, ATraceWithNothingToSendEndsTheRunNamingTheFile) {
  for (const char* content : {"", "// nothing\n\n// here\n", "\r\n\r\n",
                              "# quorsim address trace\n# only comments\n"}) {
    EXPECT_EXIT(RunScenario([content] {
                  Config cfg;
                  ReadTrace(cfg, content);
                  sc_start(sc_time(1, SC_US));
                  SCN_CHECK(false);
                }),
                ::testing::ExitedWithCode(1),
                "ERROR - .*/ATraceWithNothingToSendEndsTheRunNamingTheFile.txt: no request to send")
        << content;
  }
}

TEST(TraceLines, ALoneCarriageReturnEndsALine) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                Reader r = ReadTrace(
                    cfg, std::string("// c\r") + kExample +
                             "\rid:6,lnk:2,cmd:enu_read,vlt:1,bnk:0,dram:0,dbytes:16,nop:0\r");
                sc_start(sc_time(1, SC_US));
                const auto& q = r.target->requests;
                SCN_CHECK_EQ(q.size(), 2u);
                SCN_CHECK_EQ(r.probe->rises.size(), 1u);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(TraceMalformed, ABadLineEndsTheRunBeforeItStartsNamingFileLineAndField) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                ReadTrace(cfg, std::string(kExample) + "\n// c\n" +
                                   "id:1,lnk:0,cmd:enu_read,vlt:abc,bnk:0,dram:0,dbytes:64,nop:0\n");
                SCN_CHECK(false);
              }),
              ::testing::ExitedWithCode(1),
              "ERROR - .*/ABadLineEndsTheRunBeforeItStartsNamingFileLineAndField\\.txt:3: vlt: "
              "'abc' is not a number\n");
}

TEST(TraceLines, DramIsHexWithOrWithoutPrefixAndSizesStopAtTheFirstNonDigit) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                Reader r = ReadTrace(cfg,
                                     "id:1,lnk:0,cmd:enu_read,vlt:8,bnk:4,dram:1E60,dbytes:64B,nop:0\n"
                                     "id:2,lnk:0,cmd:enu_read,vlt:8,bnk:4,dram:0x1E60,dbytes:64,nop:1\n");
                sc_start(sc_time(1, SC_US));
                const auto& q = r.target->requests;
                SCN_CHECK_EQ(q.size(), 2u);
                SCN_CHECK_EQ(q[0].address, 0x7982400u);
                SCN_CHECK_EQ(q[1].address, 0x7982400u);
                SCN_CHECK_EQ(q[0].length, 64u);
                SCN_CHECK_EQ(q[1].length, 64u);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(TraceLines, DebugEchoesEveryLineAndEachParse) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.TRACE_DEBUG = true;
                ReadTrace(cfg, std::string("// c\n") + kExample +
                                   "\nid:6,lnk:0,cmd:enu_read,vlt:1,bnk:0,dram:0,dbytes:16,nop:0\n");
                CoutCapture out(true);
                sc_start(sc_time(1, SC_US));
                const std::vector<std::string> expected = {
                    "Current Line : // c",
                    std::string("Current Line : ") + kExample,
                    "==From Trace : link [1] cmd [write] vault [8] bank [4] dram [0x1e60] size "
                    "[128 B] nops [3 B] full address : 0x07982400",
                    "Current Line : id:6,lnk:0,cmd:enu_read,vlt:1,bnk:0,dram:0,dbytes:16,nop:0",
                    "==From Trace : link [0] cmd [read] vault [1] bank [0] dram [0x0] size [16 B] "
                    "nops [0 B] full address : 0x00000080"};
                std::vector<std::string> echoed;
                for (const auto& l : out.Lines())
                  if (l.rfind("Current Line", 0) == 0 || l.rfind("==From", 0) == 0)
                    echoed.push_back(l);
                SCN_CHECK_EQ(echoed.size(), expected.size());
                for (unsigned i = 0; i < echoed.size() && i < expected.size(); ++i)
                  SCN_CHECK_EQ(echoed[i], expected[i]);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(TraceLines, WindowsLineEndsAreReadWithoutTheCarriageReturn) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.TRACE_DEBUG = true;
                Reader r = ReadTrace(
                    cfg, std::string("// c\r\n\r\n") + kExample +
                             "\r\nid:6,lnk:2,cmd:enu_read,vlt:1,bnk:0,dram:0,dbytes:16,nop:0\r\n");
                CoutCapture out(true);
                sc_start(sc_time(1, SC_US));
                const auto& q = r.target->requests;
                SCN_CHECK_EQ(q.size(), 2u);
                SCN_CHECK_EQ(q[0].address, 0x7982400u);
                SCN_CHECK_EQ(q[0].byteEnableLength, 3u);
                SCN_CHECK_EQ(q[1].streamingWidth, 2u);
                SCN_CHECK_EQ(out.Text().find('\r'), std::string::npos);
                SCN_CHECK(out.Text().find(std::string("Current Line : ") + kExample + "\n") !=
                          std::string::npos);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(TraceLines, ParkedLinesResumeOnTheNextEdgeAfterEndReq) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                Reader r = ReadTrace(cfg, std::string(kExample) + "\n" + kExample + "\n" +
                                              kExample + "\n");
                r.target->parkEvery = 2;
                r.target->parkTime = sc_time(4000, SC_PS);
                sc_start(sc_time(1, SC_US));
                const auto& q = r.target->requests;
                SCN_CHECK_EQ(q.size(), 3u);
                SCN_CHECK_EQ(q[0].time, sc_time(1600, SC_PS));
                SCN_CHECK_EQ(q[1].time, sc_time(1600, SC_PS));
                SCN_CHECK_EQ(q[2].time, sc_time(6400, SC_PS));
                SCN_CHECK_EQ(r.reader->issuedWrites, 3u);
                SCN_CHECK_EQ(r.probe->rises.size(), 1u);
                SCN_CHECK_EQ(r.probe->rises[0], sc_time(16400, SC_PS));
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(TraceLines, RequestHandedStraightBackIsReportedAndTheNextLineFollows) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                Reader r = ReadTrace(cfg, std::string(kExample) + "\n" + kExample);
                r.target->completeRequests = true;
                sc_start(sc_time(1, SC_US));
                SCN_CHECK_EQ(r.target->requests.size(), 2u);
                SCN_CHECK_EQ(r.reader->issuedRequests, 0u);
                SCN_CHECK(r.reader->memoryManager.free_list != nullptr);
              }),
              ::testing::ExitedWithCode(0),
              "=\\[1600 ps\\]= ERROR - Unknown TLM response in generator\n"
              "=\\[1600 ps\\]= ERROR - Unknown TLM response in generator\n");
}

TEST(TraceMalformed, IdAndLinkOnlyIsMalformed) {
  EXPECT_EXIT(ReplayBadLine("id:1,lnk:0"), ::testing::ExitedWithCode(1),
              std::string("\nError - Malformed line : id:1,lnk:0") + kMalformedTail);
}

TEST(TraceMalformed, LeadingSpaceBeforeAKeyIsMalformed) {
  EXPECT_EXIT(
      ReplayBadLine("id:1, lnk:0,cmd:enu_read,vlt:0,bnk:0,dram:0,dbytes:64,nop:0"),
      ::testing::ExitedWithCode(1),
      std::string("Malformed line : id:1, lnk:0,cmd:enu_read,vlt:0,bnk:0,dram:0,dbytes:64,nop:0") +
          kMalformedTail);
}

TEST(TraceMalformed, FieldsOutOfOrderOrWithWrongCaseAreMalformed) {
  EXPECT_EXIT(ReplayBadLine("id:1,lnk:0,vlt:0,cmd:enu_read,bnk:0,dram:0,dbytes:64,nop:0"),
              ::testing::ExitedWithCode(1), std::string("vlt:0,cmd:enu_read") + ".*" +
                                                kMalformedTail);
  EXPECT_EXIT(ReplayBadLine("id:1,LNK:0,cmd:enu_read,vlt:0,bnk:0,dram:0,dbytes:64,nop:0"),
              ::testing::ExitedWithCode(1), std::string("Malformed line : id:1,LNK:0") + ".*" +
                                                kMalformedTail);
  EXPECT_EXIT(ReplayBadLine("id:1,lnk:0,cmd:enu_read,vlt:0,bnk:0,dram:0,dbytes:64"),
              ::testing::ExitedWithCode(1), std::string("dbytes:64") + kMalformedTail);
}

TEST(TraceMalformed, EveryRangeCheckRefusesTooLargeAndNegativeValues) {
  const char* head = "id:1,";
  EXPECT_EXIT(ReplayBadLine(std::string(head) + "lnk:4,cmd:enu_read,vlt:0,bnk:0,dram:0,dbytes:64,nop:0"),
              ::testing::ExitedWithCode(1), "\nERROR = Link address 4 not supported\n");
  EXPECT_EXIT(ReplayBadLine(std::string(head) + "lnk:-1,cmd:enu_read,vlt:0,bnk:0,dram:0,dbytes:64,nop:0"),
              ::testing::ExitedWithCode(1), "\nERROR = Link address -1 not supported\n");
  EXPECT_EXIT(ReplayBadLine(std::string(head) + "lnk:0,cmd:enu_read,vlt:16,bnk:0,dram:0,dbytes:64,nop:0"),
              ::testing::ExitedWithCode(1), "\nERROR = Incorrect vault address : 16\n");
  EXPECT_EXIT(ReplayBadLine(std::string(head) + "lnk:0,cmd:enu_read,vlt:-2,bnk:0,dram:0,dbytes:64,nop:0"),
              ::testing::ExitedWithCode(1), "\nERROR = Incorrect vault address : -2\n");
  EXPECT_EXIT(ReplayBadLine(std::string(head) + "lnk:0,cmd:enu_read,vlt:15,bnk:8,dram:0,dbytes:64,nop:0"),
              ::testing::ExitedWithCode(1), "\nERROR = Incorrect bank address : 8\n");
  EXPECT_EXIT(ReplayBadLine(std::string(head) + "lnk:0,cmd:enu_read,vlt:15,bnk:-1,dram:0,dbytes:64,nop:0"),
              ::testing::ExitedWithCode(1), "\nERROR = Incorrect bank address : -1\n");
}

TEST(TraceMalformed, CommandIsComparedWholeAndCaseSensitively) {
  EXPECT_EXIT(ReplayBadLine("id:1,lnk:0,cmd:ENU_READ,vlt:0,bnk:0,dram:0,dbytes:64,nop:0"),
              ::testing::ExitedWithCode(1), "\nERROR = Unknown command : ENU_READ\n");
  EXPECT_EXIT(ReplayBadLine("id:1,lnk:0,cmd:enu_reads,vlt:0,bnk:0,dram:0,dbytes:64,nop:0"),
              ::testing::ExitedWithCode(1), "\nERROR = Unknown command : enu_reads\n");
}

TEST(TraceMalformed, SmallerLinkCountNarrowsTheLinkCheck) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.NUM_LINKS = 2;
                ReadTrace(cfg, "id:1,lnk:2,cmd:enu_read,vlt:0,bnk:0,dram:0,dbytes:64,nop:0\n");
                sc_start(sc_time(1, SC_US));
              }),
              ::testing::ExitedWithCode(1), "\nERROR = Link address 2 not supported\n");
}

TEST(TraceFaults, WriteResponseUnderPostedWritesEndsTheRun) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.POSTED_WRITES = true;
                ReadTrace(cfg, std::string(kExample) + "\n");
                sc_start(sc_time(1, SC_US));
                SCN_CHECK(false);
              }),
              ::testing::ExitedWithCode(1),
              "\n=\\[11600 ps\\]= ERROR - Received a WRITE response to TraceReader who is not "
              "expecting them\n");
}

TEST(TraceFaults, PostedWritesAreNotAwaited) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.POSTED_WRITES = true;
                Reader r = ReadTrace(
                    cfg, std::string(kExample) +
                             "\nid:6,lnk:2,cmd:enu_read,vlt:1,bnk:0,dram:0,dbytes:16,nop:0");
                r.target->postedWrites = true;
                sc_start(sc_time(1, SC_US));
                SCN_CHECK_EQ(r.probe->rises.size(), 1u);
                SCN_CHECK_EQ(r.probe->rises[0], sc_time(11600, SC_PS));
              }),
              ::testing::ExitedWithCode(0), "TraceReader finished issuing\n");
}

TEST(TraceFaults, UnknownPhaseOnTheBackwardPathEndsTheRun) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                Reader r = ReadTrace(cfg, std::string(kExample) + "\n");
                r.target->responsePhase = tlm::END_RESP;
                sc_start(sc_time(1, SC_US));
                SCN_CHECK(false);
              }),
              ::testing::ExitedWithCode(1),
              "\n=\\[11600 ps\\]= ERROR - Unrecognized phase in nb_transport_bw in TraceReader\n");
}

TEST(TraceOpening, MissingNamedFileEndsTheRun) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                new quor2_trace_reader("tracereader0", 0, "/nonexistent/trace.txt", cfg);
                SCN_CHECK(false);
              }),
              ::testing::ExitedWithCode(1),
              "\nCould not open trace file : '/nonexistent/trace.txt'\n");
}

TEST(TraceOpening, ConfiguredFileIsAnnouncedAndAMissingOneEndsTheRun) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.TRACE_FILENAME_2 = "/nonexistent/two.txt";
                new quor2_trace_reader("tracereader2", 2, cfg);
                SCN_CHECK(false);
              }),
              ::testing::ExitedWithCode(1),
              "\n== TraceReader - Opening trace file : /nonexistent/two.txt\n"
              "== ERROR - Could not open trace file : '/nonexistent/two.txt'\n");
}

TEST(TraceOpening, AFifthReaderIsRefused) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                new quor2_trace_reader("tracereader4", 4, cfg);
                SCN_CHECK(false);
              }),
              ::testing::ExitedWithCode(1),
              "\nERROR - Too many trace readers!!!  Please pick up to a max of 4\n");
}

TEST(TraceShipped, DefaultTraceReplaysToCompletionOnFourReaders) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                const std::string path = std::string(QUORSIM_SOURCE_DIR) + "/traces/test.txt";
                cfg.TRACE_FILENAME_0 = cfg.TRACE_FILENAME_1 = path;
                cfg.TRACE_FILENAME_2 = cfg.TRACE_FILENAME_3 = path;
                auto* clock = new sc_clock("TestClock", cfg.CORE_CLK);
                std::vector<Reader> readers;
                for (unsigned i = 0; i < 4; ++i) readers.push_back(AddReader(cfg, *clock, i, nullptr));
                sc_start(sc_time(1, SC_MS));
                unsigned links = 0, reads = 0, writes = 0, nops = 0;
                for (const Reader& r : readers) {
                  SCN_CHECK(r.target->requests.size() >= 30);
                  SCN_CHECK_EQ(r.target->requests.size(), readers[0].target->requests.size());
                  SCN_CHECK_EQ(r.probe->rises.size(), 1u);
                  SCN_CHECK_EQ(r.reader->readResponses + r.reader->writeResponses,
                               r.target->requests.size());
                  for (const auto& q : r.target->requests) {
                    SCN_CHECK(q.address < (uint64_t{1} << 31));
                    SCN_CHECK(q.length >= 16 && q.length <= 128 && q.length % 16 == 0);
                    links |= 1u << q.streamingWidth;
                    reads += q.command == tlm::TLM_READ_COMMAND;
                    writes += q.command == tlm::TLM_WRITE_COMMAND;
                    nops += q.byteEnableLength > 0;
                  }
                }
                SCN_CHECK_EQ(links, 15u);
                SCN_CHECK(reads > 0 && writes > 0 && nops > 0);
              }),
              ::testing::ExitedWithCode(0),
              "== TraceReader - Opening trace file : .*/traces/test.txt\n");
}
