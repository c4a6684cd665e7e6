// TLM extension by which a traffic source asks for an atomic operation.
#ifndef QUOR2_ATOMICS_EXTENSION_H
#define QUOR2_ATOMICS_EXTENSION_H

#include "quor2_flit_p.h"

#include <tlm>

namespace Orvane::Internal::QUOR2 {

class quor2_atomics_extension : public tlm::tlm_extension<quor2_atomics_extension> {
public:
  QUORCommand command;

  explicit quor2_atomics_extension(QUORCommand command) : command(command) {}

  tlm::tlm_extension_base* clone() const override;
  void copy_from(const tlm::tlm_extension_base& other) override;
};

// True when the payload carries an atomic operation.
inline bool HasAtomicsExtension(const tlm::tlm_generic_payload& trans) {
  return trans.get_extension<quor2_atomics_extension>() != nullptr;
}

} // namespace Orvane::Internal::QUOR2

#endif
