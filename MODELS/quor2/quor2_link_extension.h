// TLM extension by which the model's own traffic sources name the link a
// request goes on (under HOST_MAPPING = 2). A payload without it is a host's:
// its streaming width is the base protocol's, not a link.
#ifndef QUOR2_LINK_EXTENSION_H
#define QUOR2_LINK_EXTENSION_H

#include <tlm>

namespace Orvane::Internal::QUOR2 {

class quor2_link_extension : public tlm::tlm_extension<quor2_link_extension> {
public:
  unsigned link;

  explicit quor2_link_extension(unsigned link) : link(link) {}

  tlm::tlm_extension_base* clone() const override;
  void copy_from(const tlm::tlm_extension_base& other) override;
};

// Names the link on a payload, reusing the extension a recycled payload still carries.
void SetLinkExtension(tlm::tlm_generic_payload& trans, unsigned link);

} // namespace Orvane::Internal::QUOR2

#endif
