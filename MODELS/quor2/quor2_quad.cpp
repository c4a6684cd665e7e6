#include "quor2_quad.h"

#include "quor2_link.h"
#include "quor2_link_switch.h"
#include "quor2_ports.h"
#include "quor2_slice.h"
#include "quor2_vault_switch.h"

#include <iostream>
#include <string>

namespace Orvane::Internal::QUOR2 {

namespace {
std::string Numbered(const char* prefix, unsigned n) { return prefix + std::to_string(n); }

} // namespace

quor2_quad::quor2_quad(sc_core::sc_module_name name, const Config& cfg, StatsKeeper& stats,
                       unsigned id)
    : sc_core::sc_module(name), requestLinks("requestLinks"), responseLinks("responseLinks"),
      interQuadOutputLSW("interQuadOutputLSW"), interQuadInputLSW("interQuadInputLSW"),
      creditReceiveLSW("creditReceiveLSW"), creditReturnLSW("creditReturnLSW"),
      earlyCreditReceiveLSW("earlyCreditReceiveLSW"), earlyCreditReturnLSW("earlyCreditReturnLSW"),
      interQuadInputVSW("interQuadInputVSW"), interQuadOutputVSW("interQuadOutputVSW"),
      creditReceiveVSW("creditReceiveVSW"), creditReturnVSW("creditReturnVSW"), cfg(cfg),
      stats(stats), id(id), linkToLinkSwitch("linkToLinkSwitch"),
      vaultSwitchToLink("vaultSwitchToLink"), linkSwitchToSlice("linkSwitchToSlice"),
      sliceToVaultSwitch("sliceToVaultSwitch"), commandCreditReturn("commandCreditReturn"),
      writeDataCreditReturn("writeDataCreditReturn"), responseCreditReturn("responseCreditReturn"),
      linkCreditReceive("linkCreditReceive"), linkCreditReturn("linkCreditReturn"),
      inputBufferBusy("inputBufferBusy") {
  SizePortsAndSignals();
  BuildLink();
  BuildVaultSwitch();
  BuildLinkSwitch();
  BuildSlices();
}

void quor2_quad::SizePortsAndSignals() {
  const unsigned others = cfg.NUM_QUADS - 1;
  InitNested(interQuadOutputLSW, others, cfg.FLITS_PER_CYCLE_LSW);
  InitNested(interQuadInputLSW, others, cfg.FLITS_PER_CYCLE_LSW);
  creditReceiveLSW.init(others);
  creditReturnLSW.init(others);
  earlyCreditReceiveLSW.init(others);
  earlyCreditReturnLSW.init(others);
  InitNested(interQuadInputVSW, others, cfg.FLITS_PER_CYCLE_VSW);
  InitNested(interQuadOutputVSW, others, cfg.FLITS_PER_CYCLE_VSW);
  creditReceiveVSW.init(others);
  creditReturnVSW.init(others);

  linkToLinkSwitch.init(cfg.FLITS_PER_CYCLE_LINK);
  vaultSwitchToLink.init(cfg.FLITS_PER_CYCLE_VSW);
  linkSwitchToSlice.init(cfg.VAULTS_PER_QUAD * cfg.FLITS_IN_PER_CYCLE_VC);
  InitNested(sliceToVaultSwitch, cfg.VAULTS_PER_QUAD, cfg.FLITS_OUT_PER_CYCLE_VC);
  commandCreditReturn.init(cfg.VAULTS_PER_QUAD);
  writeDataCreditReturn.init(cfg.VAULTS_PER_QUAD);
  responseCreditReturn.init(cfg.VAULTS_PER_QUAD);
}

void quor2_quad::BuildLink() {
  link = new quor2_link(Numbered("link", id).c_str(), cfg, stats, id);
  link->requestLinks(requestLinks);
  link->responseLinks(responseLinks);
  link->outputsToLinkSwitch.bind(linkToLinkSwitch);
  link->inputsFromVaultSwitch.bind(vaultSwitchToLink);
  link->tokenInput(linkCreditReceive);
  link->creditReturn(linkCreditReturn);
  link->inputBufferBusy(inputBufferBusy);
}

void quor2_quad::BuildVaultSwitch() {
  vsw = new quor2_vault_switch(Numbered("vsw", id).c_str(), cfg, stats, id);
  for (unsigned v = 0; v < cfg.VAULTS_PER_QUAD; ++v)
    vsw->inputFlitsFromSlices[v].bind(sliceToVaultSwitch[v]);
  vsw->outputFlitsToLM.bind(vaultSwitchToLink);
  for (unsigned k = 0; k + 1 < cfg.NUM_QUADS; ++k) {
    vsw->outputFlitsToInterQuad[k].bind(interQuadOutputVSW[k]);
    vsw->inputFlitsFromInterQuad[k].bind(interQuadInputVSW[k]);
  }
  vsw->creditInputFromLM(linkCreditReturn);
  vsw->creditInputLanes.bind(creditReceiveVSW);
  for (unsigned v = 0; v < cfg.VAULTS_PER_QUAD; ++v)
    vsw->creditOutputLanes[v](responseCreditReturn[v]);
  for (unsigned k = 0; k + 1 < cfg.NUM_QUADS; ++k)
    vsw->creditOutputLanes[cfg.VAULTS_PER_QUAD + k](creditReturnVSW[k]);
}

void quor2_quad::BuildLinkSwitch() {
  lsw = new quor2_link_switch(Numbered("lsw", id).c_str(), cfg, stats, id);
  lsw->outputFlitsToSlices.bind(linkSwitchToSlice);
  lsw->inputFlitsFromLinkSlave.bind(linkToLinkSwitch);
  for (unsigned k = 0; k + 1 < cfg.NUM_QUADS; ++k) {
    lsw->outputFlitsToInterQuad[k].bind(interQuadOutputLSW[k]);
    lsw->inputFlitsFromInterQuad[k].bind(interQuadInputLSW[k]);
  }
  lsw->creditsFromSlices.bind(commandCreditReturn);
  lsw->writeCreditsFromSlices.bind(writeDataCreditReturn);
  lsw->creditInputLanes.bind(creditReceiveLSW);
  lsw->earlyCreditInputLanes.bind(earlyCreditReceiveLSW);
  lsw->earlyCreditOutputLanes.bind(earlyCreditReturnLSW);
  lsw->inputBufferBusy(inputBufferBusy);
  for (unsigned q = 0; q < cfg.NUM_QUADS; ++q) {
    if (q == id)
      lsw->creditOutputLanes[q](linkCreditReceive);
    else
      lsw->creditOutputLanes[q](creditReturnLSW[q > id ? q - 1 : q]);
  }
}

void quor2_quad::BuildSlices() {
  for (unsigned v = 0; v < cfg.VAULTS_PER_QUAD; ++v) {
    const unsigned g = id * cfg.VAULTS_PER_QUAD + v;
    auto* slice = new quor2_slice(Numbered("slice", g).c_str(), cfg, stats, g);
    slice->commandCreditReturn(commandCreditReturn[v]);
    slice->responseCreditReturn(responseCreditReturn[v]);
    slice->writeDataCreditReturn(writeDataCreditReturn[v]);
    for (unsigned p = 0; p < cfg.FLITS_IN_PER_CYCLE_VC; ++p)
      slice->flitsInFromLSW[p](linkSwitchToSlice[v * cfg.FLITS_IN_PER_CYCLE_VC + p]);
    slice->flitsOutToVSW.bind(sliceToVaultSwitch[v]);
    slices.push_back(slice);
  }
}

void quor2_quad::DumpState() {
  std::cout << "============ Quad " << id << " ============" << std::endl;
  link->DumpState();
  lsw->DumpState();
  vsw->DumpState();
  for (auto* slice : slices) slice->DumpState();
}

void quor2_quad::CheckAtRest(RestCheck& check) const {
  link->CheckAtRest(check);
  lsw->CheckAtRest(check);
  vsw->CheckAtRest(check);
  for (const auto* slice : slices) slice->CheckAtRest(check);
}

} // namespace Orvane::Internal::QUOR2
