#include "quor2_atomics_extension.h"

namespace Orvane::Internal::QUOR2 {

tlm::tlm_extension_base* quor2_atomics_extension::clone() const {
  return new quor2_atomics_extension(command);
}

void quor2_atomics_extension::copy_from(const tlm::tlm_extension_base& other) {
  command = static_cast<const quor2_atomics_extension&>(other).command;
}

} // namespace Orvane::Internal::QUOR2
