// A host of standard tlm_utils sockets only (streaming width = data length, no
// extension, a memory manager-less blocking initiator) drives the cube under
// STORE_DATA: every byte read back is the byte written, debug reads agree, and
// the requests spread over all links. One simulation per death-test child.
#include "support/scenario.h"

#include "quor2_quor_wrapper.h"
#include "quor2_utils.h"

#include <gtest/gtest.h>
#include <tlm_utils/simple_initiator_socket.h>

#include <array>
#include <random>
#include <vector>

using namespace Orvane::Internal::QUOR2;
using quortest::RunScenario;

namespace {
constexpr unsigned kBlock = 64;
constexpr unsigned kBlocksPerThread = 24;

struct LtHost : sc_core::sc_module {
  tlm_utils::simple_initiator_socket<LtHost, 32> socket;
  unsigned first;
  unsigned mismatches = 0;
  unsigned finished = 0;
  SC_HAS_PROCESS(LtHost);
  LtHost(sc_core::sc_module_name n, unsigned first) : sc_module(n), socket("socket"), first(first) {
    SC_THREAD(Run);
  }
  static std::array<unsigned char, kBlock> Pattern(unsigned block) {
    std::array<unsigned char, kBlock> bytes{};
    std::mt19937 draw(block);
    for (auto& b : bytes) b = static_cast<unsigned char>(draw());
    return bytes;
  }
  void Access(tlm::tlm_command command, uint64_t address, unsigned char* data) {
    tlm::tlm_generic_payload p;
    p.set_command(command);
    p.set_address(address);
    p.set_data_ptr(data);
    p.set_data_length(kBlock);
    p.set_streaming_width(kBlock);
    sc_core::sc_time delay = sc_core::sc_time(100, sc_core::SC_PS);
    socket->b_transport(p, delay);
    if (p.get_response_status() != tlm::TLM_OK_RESPONSE || delay != sc_core::SC_ZERO_TIME)
      ++mismatches;
  }
  void Run() {
    for (unsigned k = 0; k < kBlocksPerThread; ++k) {
      auto bytes = Pattern(first + k);
      Access(tlm::TLM_WRITE_COMMAND, uint64_t{first + k} * kBlock, bytes.data());
    }
    for (unsigned k = 0; k < kBlocksPerThread; ++k) {
      std::array<unsigned char, kBlock> back{}, debug{};
      Access(tlm::TLM_READ_COMMAND, uint64_t{first + k} * kBlock, back.data());
      tlm::tlm_generic_payload p;
      p.set_command(tlm::TLM_READ_COMMAND);
      p.set_address(uint64_t{first + k} * kBlock);
      p.set_data_ptr(debug.data());
      p.set_data_length(kBlock);
      if (socket->transport_dbg(p) != kBlock) ++mismatches;
      if (back != Pattern(first + k) || debug != back) ++mismatches;
    }
    finished = 1;
  }
};

void RunHosts(bool posted) {
  Config cfg;
  cfg.NUM_GENERATORS = 2;
  cfg.STORE_DATA = true;
  cfg.POSTED_WRITES = posted;
  quor2_quor_wrapper* cube = GetQUORWrapper(cfg);
  LtHost a("a", 0), b("b", 1000);
  a.socket.bind(*cube->GetControllerSockets()[0]);
  b.socket.bind(*cube->GetControllerSockets()[1]);
  sc_core::sc_start(sc_core::sc_time(200, sc_core::SC_US));
  SCN_CHECK_EQ(a.finished + b.finished, 2u);
  SCN_CHECK_EQ(a.mismatches + b.mismatches, 0u);
  for (unsigned l = 0; l < cfg.NUM_LINKS; ++l) SCN_CHECK(cube->stats->perLinkReadResponses[l] > 0);
  // A 4 GB device costs only the pages written: two threads' blocks.
  std::cout << "done" << std::endl;
}
} // namespace

TEST(StoreHost, BlockingHostReadsBackEveryByteOverAllLinks) {
  EXPECT_EXIT(RunScenario([] { RunHosts(false); }), ::testing::ExitedWithCode(0), "done");
}

TEST(StoreHost, PostedWritesAreSeenByLaterReads) {
  EXPECT_EXIT(RunScenario([] { RunHosts(true); }), ::testing::ExitedWithCode(0), "done");
}
