#include "kvl_memory_manager.h"
#include "quor2_atomics_extension.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace Orvane::Internal::QUOR2;

namespace {

// A pool never frees its payloads. Like a source's pool, each one made here
// lives until the process ends, and every payload a test takes out goes back
// into it when the test ends.
class PayloadPool : public ::testing::Test {
protected:
  kvl_memory_manager& pool = NewPool();
  std::vector<tlm::tlm_generic_payload*> out;

  static kvl_memory_manager& NewPool() {
    static auto* pools = new std::vector<kvl_memory_manager*>;
    pools->push_back(new kvl_memory_manager);
    return *pools->back();
  }

  // Takes the next payload from the pool, as a source does.
  tlm::tlm_generic_payload* Take() {
    tlm::tlm_generic_payload* p = pool.allocate();
    p->acquire();
    out.push_back(p);
    return p;
  }

  // Its last holder lets it go: back to the pool.
  void Give(tlm::tlm_generic_payload* p) {
    out.erase(std::find(out.begin(), out.end(), p));
    p->release();
  }

  void TearDown() override {
    while (!out.empty()) Give(out.back());
  }
};

} // namespace

TEST_F(PayloadPool, NewPayloadIsInTheLibraryInitialStateAndOwnedByThePool) {
  tlm::tlm_generic_payload* p = pool.allocate();
  EXPECT_TRUE(p->has_mm());
  EXPECT_EQ(p->get_ref_count(), 0);
  EXPECT_EQ(p->get_command(), tlm::TLM_IGNORE_COMMAND);
  EXPECT_EQ(p->get_response_status(), tlm::TLM_INCOMPLETE_RESPONSE);
  p->acquire();
  p->release();
  ASSERT_NE(pool.free_list, nullptr);
  EXPECT_EQ(pool.free_list->trans, p);
}

TEST_F(PayloadPool, ReleasedPayloadsComeBackLastInFirstOutThenNewOnes) {
  tlm::tlm_generic_payload* a = Take();
  tlm::tlm_generic_payload* b = Take();
  tlm::tlm_generic_payload* c = Take();
  Give(a);
  Give(b);
  Give(c);
  EXPECT_EQ(Take(), c);
  EXPECT_EQ(Take(), b);
  EXPECT_EQ(Take(), a);
  tlm::tlm_generic_payload* d = Take();
  EXPECT_NE(d, a);
  EXPECT_NE(d, b);
  EXPECT_NE(d, c);
}

TEST_F(PayloadPool, RecordsAreReusedAcrossRoundsWithoutGrowingTheChain) {
  tlm::tlm_generic_payload* a = Take();
  tlm::tlm_generic_payload* b = Take();
  Give(a);
  Give(b);
  kvl_memory_manager::access* head = pool.free_list;
  kvl_memory_manager::access* older = head->next;
  // Both taken again, then released in the opposite order: the same records.
  Take();
  Take();
  Give(b);
  Give(a);
  EXPECT_EQ(pool.free_list, head);
  EXPECT_EQ(pool.free_list->trans, a);
  EXPECT_EQ(pool.free_list->next, older);
  EXPECT_EQ(older->trans, b);
  EXPECT_EQ(older->next, nullptr);
  EXPECT_EQ(pool.empties, nullptr);
}

TEST_F(PayloadPool, InterleavedUseKeepsLastInFirstOut) {
  tlm::tlm_generic_payload* a = Take();
  tlm::tlm_generic_payload* b = Take();
  tlm::tlm_generic_payload* c = Take();
  Give(b);
  EXPECT_EQ(Take(), b);
  Give(a);
  Give(c);
  Give(b);
  EXPECT_EQ(Take(), b);
  EXPECT_EQ(Take(), c);
  EXPECT_EQ(Take(), a);
}

TEST_F(PayloadPool, ReturnedPayloadKeepsTheFieldsOfItsLastUse) {
  tlm::tlm_generic_payload* p = Take();
  p->set_address(0x247982400);
  p->set_command(tlm::TLM_WRITE_COMMAND);
  p->set_data_length(128);
  p->set_streaming_width(3);
  p->set_byte_enable_length(5);
  p->set_response_status(tlm::TLM_OK_RESPONSE);
  auto* ext = new quor2_atomics_extension(ATOMIC_DADD8);
  p->set_extension(ext);
  Give(p);

  tlm::tlm_generic_payload* again = Take();
  ASSERT_EQ(again, p);
  EXPECT_EQ(again->get_address(), 0x247982400u);
  EXPECT_EQ(again->get_command(), tlm::TLM_WRITE_COMMAND);
  EXPECT_EQ(again->get_data_length(), 128u);
  EXPECT_EQ(again->get_streaming_width(), 3u);
  EXPECT_EQ(again->get_byte_enable_length(), 5u);
  EXPECT_EQ(again->get_response_status(), tlm::TLM_OK_RESPONSE);
  EXPECT_EQ(again->get_extension<quor2_atomics_extension>(), ext);
}
