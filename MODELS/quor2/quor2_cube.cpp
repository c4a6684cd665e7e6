#include "quor2_cube.h"

#include "quor2_dram_bus_packet.h"
#include "quor2_messages.h"
#include "quor2_ports.h"
#include "quor2_quad.h"

#include <iostream>
#include <string>

namespace Orvane::Internal::QUOR2 {


quor2_cube::quor2_cube(sc_core::sc_module_name name, const Config& cfg, StatsKeeper& stats)
    : sc_core::sc_module(name), requestLinks("requestLinks"), responseLinks("responseLinks"),
      cfg(cfg), stats(stats), interQuadLanesLSW("interQuadLanesLSW"),
      interQuadLanesVSW("interQuadLanesVSW"), interQuadEarlyCreditsLSW("interQuadEarlyCreditsLSW"),
      interQuadCreditsLSW("interQuadCreditsLSW"), interQuadCreditsVSW("interQuadCreditsVSW") {
  if (cfg.DRAM_TRACING) OpenDramTrace(cfg.DRAM_TRACE_FILE);

  requestLinks.init(cfg.NUM_LINKS);
  responseLinks.init(cfg.NUM_LINKS);

  for (unsigned q = 0; q < cfg.NUM_QUADS; ++q) {
    auto* qd = new quor2_quad(("quad" + std::to_string(q)).c_str(), cfg, stats, q);
    qd->requestLinks(requestLinks[q]);
    qd->responseLinks(responseLinks[q]);
    quad.push_back(qd);
  }

  const unsigned pairs = cfg.NUM_QUADS * (cfg.NUM_QUADS - 1);
  InitNested(interQuadLanesLSW, pairs, cfg.FLITS_PER_CYCLE_LSW);
  InitNested(interQuadLanesVSW, pairs, cfg.FLITS_PER_CYCLE_VSW);
  interQuadEarlyCreditsLSW.init(pairs);
  interQuadCreditsLSW.init(pairs);
  interQuadCreditsVSW.init(pairs);
  WireMesh();
}

void quor2_cube::WireMesh() {
  const unsigned ports = cfg.NUM_QUADS - 1;
  for (unsigned i = 0; i < cfg.NUM_QUADS; ++i) {
    for (unsigned j = 0; j < ports; ++j) {
      // Quad i's port j faces quad t; quad t's port m faces quad i.
      const unsigned t = j < i ? j : j + 1;
      const unsigned m = j < i ? i - 1 : i;
      const unsigned s = i * ports + j;
      quor2_quad& from = *quad[i];
      quor2_quad& to = *quad[t];
      for (unsigned lane = 0; lane < cfg.FLITS_PER_CYCLE_LSW; ++lane) {
        from.interQuadOutputLSW[j][lane](interQuadLanesLSW[s][lane]);
        to.interQuadInputLSW[m][lane](interQuadLanesLSW[s][lane]);
      }
      for (unsigned lane = 0; lane < cfg.FLITS_PER_CYCLE_VSW; ++lane) {
        from.interQuadOutputVSW[j][lane](interQuadLanesVSW[s][lane]);
        to.interQuadInputVSW[m][lane](interQuadLanesVSW[s][lane]);
      }
      from.creditReturnLSW[j](interQuadCreditsLSW[s]);
      to.creditReceiveLSW[m](interQuadCreditsLSW[s]);
      from.earlyCreditReturnLSW[j](interQuadEarlyCreditsLSW[s]);
      to.earlyCreditReceiveLSW[m](interQuadEarlyCreditsLSW[s]);
      from.creditReturnVSW[j](interQuadCreditsVSW[s]);
      to.creditReceiveVSW[m](interQuadCreditsVSW[s]);
    }
  }
}

sc_core::sc_time quor2_cube::GetLinkRate(unsigned int linkID) const {
  if (linkID > 3) {
    std::cout << "== ERROR - Please pink a link value between 0 and 3" << std::endl;
    AbortRun();
  }
  return LinkFlitRate(cfg, ConfiguredLinkWidth(cfg, linkID));
}

void quor2_cube::DumpState() {
  std::cout << "== Cube" << std::endl;
  for (auto* q : quad) q->DumpState();
}

void quor2_cube::CheckAtRest(RestCheck& check) const {
  for (const auto* q : quad) q->CheckAtRest(check);
}

void quor2_cube::DumpStats() { stats.DumpStats(sc_core::sc_time_stamp()); }

sc_core::sc_vector<sc_core::sc_in<Flit_P>>* GetRequestLinks(quor2_cube* cube) {
  return cube->GetRequestLinks();
}
sc_core::sc_vector<sc_core::sc_out<Flit_P>>* GetResponseLinks(quor2_cube* cube) {
  return cube->GetResponseLinks();
}
sc_core::sc_time GetLinkRate(quor2_cube* cube, unsigned int linkID) {
  return cube->GetLinkRate(linkID);
}
void DumpStats(quor2_cube* cube) { cube->DumpStats(); }

} // namespace Orvane::Internal::QUOR2
