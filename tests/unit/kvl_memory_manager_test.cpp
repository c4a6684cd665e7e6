#include "kvl_memory_manager.h"
#include "quor2_atomics_extension.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace Orvane::Internal::QUOR2;

namespace {
// A pool never frees its payloads: like a source's pool, each one made here
// lives until the process ends.
kvl_memory_manager& NewPool() {
  static std::vector<std::unique_ptr<kvl_memory_manager>> pools;
  pools.push_back(std::make_unique<kvl_memory_manager>());
  return *pools.back();
}

tlm::tlm_generic_payload* Take(kvl_memory_manager& pool) {
  tlm::tlm_generic_payload* p = pool.allocate();
  p->acquire();
  return p;
}
} // namespace

TEST(PayloadPool, NewPayloadIsInTheLibraryInitialStateAndOwnedByThePool) {
  kvl_memory_manager& pool = NewPool();
  tlm::tlm_generic_payload* p = pool.allocate();
  EXPECT_TRUE(p->has_mm());
  EXPECT_EQ(p->get_ref_count(), 0);
  EXPECT_EQ(p->get_command(), tlm::TLM_IGNORE_COMMAND);
  EXPECT_EQ(p->get_response_status(), tlm::TLM_INCOMPLETE_RESPONSE);
  p->acquire();
  p->release();
  EXPECT_EQ(pool.free_list->trans, p);
}

TEST(PayloadPool, ReleasedPayloadsComeBackLastInFirstOutThenNewOnes) {
  kvl_memory_manager& pool = NewPool();
  tlm::tlm_generic_payload* a = Take(pool);
  tlm::tlm_generic_payload* b = Take(pool);
  tlm::tlm_generic_payload* c = Take(pool);
  a->release();
  b->release();
  c->release();
  EXPECT_EQ(pool.allocate(), c);
  EXPECT_EQ(pool.allocate(), b);
  EXPECT_EQ(pool.allocate(), a);
  tlm::tlm_generic_payload* d = pool.allocate();
  EXPECT_NE(d, a);
  EXPECT_NE(d, b);
  EXPECT_NE(d, c);
}

TEST(PayloadPool, RecordsAreReusedAcrossRoundsWithoutGrowingTheChain) {
  kvl_memory_manager& pool = NewPool();
  tlm::tlm_generic_payload* a = Take(pool);
  tlm::tlm_generic_payload* b = Take(pool);
  a->release();
  b->release();
  kvl_memory_manager::access* head = pool.free_list;
  kvl_memory_manager::access* older = head->next;
  // Both taken again, then released in the opposite order: same records.
  Take(pool);
  Take(pool);
  b->release();
  a->release();
  EXPECT_EQ(pool.free_list, head);
  EXPECT_EQ(pool.free_list->trans, a);
  EXPECT_EQ(pool.free_list->next, older);
  EXPECT_EQ(older->trans, b);
  EXPECT_EQ(older->next, nullptr);
  EXPECT_EQ(pool.empties, nullptr);
}

TEST(PayloadPool, InterleavedUseKeepsLastInFirstOut) {
  kvl_memory_manager& pool = NewPool();
  tlm::tlm_generic_payload* a = Take(pool);
  tlm::tlm_generic_payload* b = Take(pool);
  tlm::tlm_generic_payload* c = Take(pool);
  b->release();
  EXPECT_EQ(Take(pool), b);
  a->release();
  c->release();
  b->release();
  EXPECT_EQ(pool.allocate(), b);
  EXPECT_EQ(pool.allocate(), c);
  EXPECT_EQ(pool.allocate(), a);
}

TEST(PayloadPool, ReturnedPayloadKeepsTheFieldsOfItsLastUse) {
  kvl_memory_manager& pool = NewPool();
  tlm::tlm_generic_payload* p = Take(pool);
  p->set_address(0x247982400);
  p->set_command(tlm::TLM_WRITE_COMMAND);
  p->set_data_length(128);
  p->set_streaming_width(3);
  p->set_byte_enable_length(5);
  p->set_response_status(tlm::TLM_OK_RESPONSE);
  auto* ext = new quor2_atomics_extension(ATOMIC_DADD8);
  p->set_extension(ext);
  p->release();

  tlm::tlm_generic_payload* again = pool.allocate();
  ASSERT_EQ(again, p);
  EXPECT_EQ(again->get_address(), 0x247982400u);
  EXPECT_EQ(again->get_command(), tlm::TLM_WRITE_COMMAND);
  EXPECT_EQ(again->get_data_length(), 128u);
  EXPECT_EQ(again->get_streaming_width(), 3u);
  EXPECT_EQ(again->get_byte_enable_length(), 5u);
  EXPECT_EQ(again->get_response_status(), tlm::TLM_OK_RESPONSE);
  EXPECT_EQ(again->get_extension<quor2_atomics_extension>(), ext);
}
