// The payload pool of one traffic source. A payload returns here when its last
// holder releases it and is handed out again last-in, first-out. Payloads keep
// every field of their last use; the pool frees neither them nor its records,
// so it only grows to the largest number of payloads in flight at once.
#ifndef KVL_MEMORY_MANAGER_H
#define KVL_MEMORY_MANAGER_H

#include <tlm>

#include <functional>
#include <vector>

class kvl_memory_manager : public tlm::tlm_mm_interface {
public:
  // One link of the record chain: `next` leads to older free entries, `prev`
  // to the spare records that can take the next released payload.
  struct access {
    tlm::tlm_generic_payload* trans = nullptr;
    access* next = nullptr;
    access* prev = nullptr;
  };

  access* free_list = nullptr;
  access* empties = nullptr;
  // Every payload this pool made, in flight or free: the pool owns them all, so
  // payloads still in flight when a run stops remain its own, not lost memory.
  std::vector<tlm::tlm_generic_payload*> made;
  // Payloads handed out and not yet back, and who wants to hear of each return.
  unsigned out = 0;
  std::function<void()> onReturn;

  kvl_memory_manager() = default;
  kvl_memory_manager(const kvl_memory_manager&) = delete;
  kvl_memory_manager& operator=(const kvl_memory_manager&) = delete;

  // The most recently released payload, or a new one in the library's initial
  // state (reference count 0) that returns here when released.
  tlm::tlm_generic_payload* allocate();

  // Called by the payload when its reference count drops to zero.
  void free(tlm::tlm_generic_payload* trans) override;

  ~kvl_memory_manager() override = default;
};

#endif
