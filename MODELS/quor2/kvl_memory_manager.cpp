#include "kvl_memory_manager.h"

tlm::tlm_generic_payload* kvl_memory_manager::allocate() {
  ++out;
  if (free_list != nullptr) {
    tlm::tlm_generic_payload* trans = free_list->trans;
    empties = free_list;
    free_list = free_list->next;
    return trans;
  }
  made.push_back(new tlm::tlm_generic_payload(this));
  return made.back();
}

void kvl_memory_manager::free(tlm::tlm_generic_payload* trans) {
  if (empties == nullptr) {
    empties = new access;
    empties->next = free_list;
    empties->prev = nullptr;
    if (free_list != nullptr) free_list->prev = empties;
  }
  free_list = empties;
  free_list->trans = trans;
  empties = free_list->prev;
  --out;
  if (onReturn) onReturn();
}
