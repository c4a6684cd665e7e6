// The device as the host sees it: one request and one response port per serial
// link. Inside, NUM_QUADS quads joined by a full interquad mesh in which port k
// of every quad faces the k-th other quad in increasing quad order.
#ifndef QUOR2_CUBE_H
#define QUOR2_CUBE_H

#include "quor2_flit_p.h"
#include "quor2_ports.h"
#include "quor2_rest_check.h"
#include "quor2_utils.h"

#include <systemc>

#include <vector>

namespace Orvane::Internal::QUOR2 {

class quor2_quad;

class quor2_cube : public sc_core::sc_module {
public:
  sc_core::sc_vector<sc_core::sc_in<Flit_P>> requestLinks;
  sc_core::sc_vector<sc_core::sc_out<Flit_P>> responseLinks;

  const Config& cfg;
  StatsKeeper& stats;
  std::vector<quor2_quad*> quad;

  // Indexed [(writing quad) * (NUM_QUADS - 1) + port], lanes inside.
  sc_core::sc_vector<sc_core::sc_vector<InnerSignal<Flit_P>>> interQuadLanesLSW;
  sc_core::sc_vector<sc_core::sc_vector<InnerSignal<Flit_P>>> interQuadLanesVSW;
  sc_core::sc_vector<PulseSignal<int>> interQuadEarlyCreditsLSW;
  sc_core::sc_vector<PulseSignal<int>> interQuadCreditsLSW;
  sc_core::sc_vector<PulseSignal<int>> interQuadCreditsVSW;

  quor2_cube(sc_core::sc_module_name name, const Config& cfg, StatsKeeper& stats);

  sc_core::sc_vector<sc_core::sc_in<Flit_P>>* GetRequestLinks() { return &requestLinks; }
  sc_core::sc_vector<sc_core::sc_out<Flit_P>>* GetResponseLinks() { return &responseLinks; }
  sc_core::sc_time GetLinkRate(unsigned int linkID) const;

  void DumpState();
  // Adds every tag, token, credit and buffer this module owns to a check of a
  // drained run.
  void CheckAtRest(RestCheck& check) const;
  void DumpStats();

private:
  void WireMesh();
};

sc_core::sc_vector<sc_core::sc_in<Flit_P>>* GetRequestLinks(quor2_cube* cube);
sc_core::sc_vector<sc_core::sc_out<Flit_P>>* GetResponseLinks(quor2_cube* cube);
sc_core::sc_time GetLinkRate(quor2_cube* cube, unsigned int linkID);
void DumpStats(quor2_cube* cube);

} // namespace Orvane::Internal::QUOR2

#endif
