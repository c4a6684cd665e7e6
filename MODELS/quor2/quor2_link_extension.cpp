#include "quor2_link_extension.h"

namespace Orvane::Internal::QUOR2 {

tlm::tlm_extension_base* quor2_link_extension::clone() const {
  return new quor2_link_extension(link);
}

void quor2_link_extension::copy_from(const tlm::tlm_extension_base& other) {
  link = static_cast<const quor2_link_extension&>(other).link;
}

void SetLinkExtension(tlm::tlm_generic_payload& trans, unsigned link) {
  auto* ext = trans.get_extension<quor2_link_extension>();
  if (ext == nullptr)
    trans.set_extension(new quor2_link_extension(link));
  else
    ext->link = link;
}

} // namespace Orvane::Internal::QUOR2
