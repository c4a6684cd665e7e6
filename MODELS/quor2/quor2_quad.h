// One quadrant of the cube: its link, link switch (request crossbar), vault
// switch (response crossbar) and slices, joined by the quad's own signals.
// Port k of every interquad vector faces the k-th other quad in quad order.
#ifndef QUOR2_QUAD_H
#define QUOR2_QUAD_H

#include "quor2_flit_p.h"
#include "quor2_ports.h"
#include "quor2_rest_check.h"
#include "quor2_utils.h"

#include <systemc>

#include <vector>

namespace Orvane::Internal::QUOR2 {

class quor2_link;
class quor2_link_switch;
class quor2_vault_switch;
class quor2_slice;

class quor2_quad : public sc_core::sc_module {
public:
  template <typename T> using Vector = sc_core::sc_vector<T>;
  using FlitIn = sc_core::sc_in<Flit_P>;
  using FlitOut = sc_core::sc_out<Flit_P>;
  using FlitSignal = InnerSignal<Flit_P>;

  sc_core::sc_in<Flit_P> requestLinks;
  sc_core::sc_out<Flit_P> responseLinks;
  Vector<Vector<FlitOut>> interQuadOutputLSW;
  Vector<Vector<FlitIn>> interQuadInputLSW;
  Vector<sc_core::sc_in<int>> creditReceiveLSW;
  Vector<sc_core::sc_out<int>> creditReturnLSW;
  Vector<sc_core::sc_in<int>> earlyCreditReceiveLSW;
  Vector<sc_core::sc_out<int>> earlyCreditReturnLSW;
  Vector<Vector<FlitIn>> interQuadInputVSW;
  Vector<Vector<FlitOut>> interQuadOutputVSW;
  Vector<sc_core::sc_in<int>> creditReceiveVSW;
  Vector<sc_core::sc_out<int>> creditReturnVSW;

  const Config& cfg;
  StatsKeeper& stats;
  uint32_t id;
  std::vector<quor2_slice*> slices;
  quor2_vault_switch* vsw;
  quor2_link_switch* lsw;
  quor2_link* link;

  Vector<FlitSignal> linkToLinkSwitch;
  Vector<FlitSignal> vaultSwitchToLink;
  Vector<FlitSignal> linkSwitchToSlice;
  Vector<Vector<FlitSignal>> sliceToVaultSwitch;
  Vector<PulseSignal<bool>> commandCreditReturn;
  Vector<PulseSignal<int>> writeDataCreditReturn;
  Vector<PulseSignal<int>> responseCreditReturn;
  PulseSignal<int> linkCreditReceive;
  PulseSignal<int> linkCreditReturn;
  InnerSignal<bool> inputBufferBusy;

  quor2_quad(sc_core::sc_module_name name, const Config& cfg, StatsKeeper& stats, unsigned id);

  void DumpState();
  // Adds every tag, token, credit and buffer this module owns to a check of a
  // drained run.
  void CheckAtRest(RestCheck& check) const;

private:
  void SizePortsAndSignals();
  void BuildLink();
  void BuildVaultSwitch();
  void BuildLinkSwitch();
  void BuildSlices();
};

} // namespace Orvane::Internal::QUOR2

#endif
