#include "quor2_generator.h"

#include "quor2_atomics_extension.h"
#include "quor2_link_extension.h"
#include "quor2_flit_p.h"
#include "quor2_messages.h"
#include "quor2_reseed.h"

#include <cstdlib>
#include <iostream>

namespace Orvane::Internal::QUOR2 {

namespace {

// One draw of the shared C generator, reduced to [0, bound).
unsigned Draw(unsigned bound) { return static_cast<unsigned>(std::rand()) % bound; }

unsigned Sum(const std::vector<unsigned>& values) {
  unsigned total = 0;
  for (unsigned v : values) total += v;
  return total;
}

unsigned ShiftOrZero(int bits) { return bits > 0 ? static_cast<unsigned>(bits) : 0; }

} // namespace

quor2_generator::quor2_generator(sc_core::sc_module_name name, unsigned int id,
                                 const Config& cfg, unsigned int randomSeed)
    : sc_core::sc_module(name),
      clk("clk"),
      done("done"),
      cfg(cfg),
      randomSeed(randomSeed),
      requestSocket("requestSocket"),
      tlmDelay(sc_core::SC_ZERO_TIME),
      id(id),
      openLoop(cfg.INJECTION_RATE > 0),
      arrivals(cfg, id) {
  std::cout << "=== Creating generator " << id << " ===" << std::endl;
  switch (cfg.REQUEST_STREAM) {
  case 0: std::cout << "=== Random addressing to any vault" << std::endl; break;
  case 1: std::cout << "=== Random addressing to local vaults" << std::endl; break;
  case 2: std::cout << "=== Round-robin addressing to local vaults" << std::endl; break;
  case 3: std::cout << "=== Random addressing to local and adjacent vaults" << std::endl; break;
  case 4: std::cout << "=== Round-robin addressing to local and adjacent vaults" << std::endl; break;
  default: break;
  }

  readProbabilities = {cfg.PERCENTAGE_RD_16B, cfg.PERCENTAGE_RD_32B, cfg.PERCENTAGE_RD_48B,
                       cfg.PERCENTAGE_RD_64B, cfg.PERCENTAGE_RD_80B, cfg.PERCENTAGE_RD_96B,
                       cfg.PERCENTAGE_RD_112B, cfg.PERCENTAGE_RD_128B};
  if (Sum(readProbabilities) != 100)
    std::cout << "== ERROR - Read request size percentages don't equal 100%" << std::endl;
  writeProbabilities = {cfg.PERCENTAGE_WR_16B, cfg.PERCENTAGE_WR_32B, cfg.PERCENTAGE_WR_48B,
                        cfg.PERCENTAGE_WR_64B, cfg.PERCENTAGE_WR_80B, cfg.PERCENTAGE_WR_96B,
                        cfg.PERCENTAGE_WR_112B, cfg.PERCENTAGE_WR_128B};
  if (Sum(writeProbabilities) != 100)
    std::cout << "== ERROR - Write request size percentages don't equal 100%" << std::endl;

  if ((cfg.REQUEST_STREAM == 3 || cfg.REQUEST_STREAM == 4) && cfg.NUM_GENERATORS != 2) {
    std::cout << "ERROR - Request streams 3 and 4 are for 2-Link simulations only" << std::endl;
    std::cout << "        Please set NUM_GENERATORS to 2" << std::endl;
    ExitRun(1);
  }

  AssignRanks(Stage::Source, id, {&ticks.Event(), &doneEvent});
  SC_THREAD(SendTraffic);
  SC_METHOD(ToggleDone);
  sensitive << doneEvent;
  dont_initialize();
  requestSocket.register_nb_transport_bw(this, &quor2_generator::nb_transport_bw);

  tempVault = id * cfg.VAULTS_PER_QUAD;
  // A posted write is out of the source only once the controller lets go of
  // it as it leaves; the source is done when every payload is home.
  memoryManager.onReturn = [this] { CheckCompletion(); };

  offsetShift = log2(cfg.BYTE_OFFSET);
  blockShift = ShiftOrZero(static_cast<int>(log2(cfg.MAX_BLOCK_SIZE)) -
                           static_cast<int>(offsetShift));
  colHighShift = ShiftOrZero(static_cast<int>(log2(cfg.NUM_COLS) + offsetShift) -
                             static_cast<int>(log2(cfg.MAX_BLOCK_SIZE)));
  banksPerVault = cfg.NUM_PARTITIONS * cfg.NUM_BANKS;
  bankShift = log2(banksPerVault);
  vaultShift = log2(cfg.NUM_VAULTS);
  if (openLoop) TakeNextArrival();
}

void quor2_generator::TakeNextArrival() {
  nextArrival = sc_core::sc_time(static_cast<double>(arrivals.NextPs()), sc_core::SC_PS);
}

void quor2_generator::SetClock(sc_core::sc_clock* c) { clk(*c); }

void quor2_generator::SetDone(sc_core::sc_signal<bool, sc_core::SC_ONE_WRITER>* d) { done(*d); }

quor2_generator::socket_type* quor2_generator::GetRequestSocket() { return &requestSocket; }

uint64_t quor2_generator::GenerateAddress() {
  Reseed(static_cast<unsigned>(issuedRequests + randomSeed));
  PickFields();

  tempColH = tempCol >> blockShift;
  tempColL = tempCol & ((cfg.MAX_BLOCK_SIZE - 1) >> offsetShift);
  if (cfg.ALIGNED_32B) tempColL &= ~1u;

  uint64_t address = tempRow;
  address = (address << colHighShift) + tempColH;
  address = (address << bankShift) + tempBank;
  address = (address << vaultShift) + tempVault;
  address = (address << blockShift) + tempColL;
  address <<= offsetShift;

  if (cfg.REQUEST_STREAM == 2 || cfg.REQUEST_STREAM == 4) AdvanceRoundRobin();
  tempFinalAddress = address;
  return address;
}

void quor2_generator::PickFields() {
  const unsigned vpq = cfg.VAULTS_PER_QUAD;
  switch (cfg.REQUEST_STREAM) {
  case 0:
    tempVault = Draw(cfg.NUM_VAULTS);
    break;
  case 1:
    tempVault = Draw(vpq) + vpq * id;
    break;
  case 3:
    if (Draw(100) > 49)
      tempVault = Draw(vpq) + vpq * (id + 2);
    else
      tempVault = Draw(vpq) + vpq * id;
    break;
  default:
    break;
  }
  if (cfg.REQUEST_STREAM == 0 || cfg.REQUEST_STREAM == 1 || cfg.REQUEST_STREAM == 3)
    tempBank = Draw(banksPerVault);
  if (cfg.REQUEST_STREAM <= 4) {
    tempRow = Draw(cfg.NUM_ROWS);
    tempCol = Draw(cfg.NUM_COLS);
  }
}

// Stream 2 walks the local quad's vaults; stream 4 walks the local quad, then
// the adjacent quad id + 2. The bank advances after each full walk.
void quor2_generator::AdvanceRoundRobin() {
  const unsigned vpq = cfg.VAULTS_PER_QUAD;
  ++tempVault;
  if (cfg.REQUEST_STREAM == 2) {
    if (tempVault == (id + 1) * vpq) {
      tempVault = id * vpq;
      AdvanceBank();
    }
    return;
  }
  if (tempVault == (id + 1) * vpq) {
    tempVault = (id + 2) * vpq;
  } else if (tempVault == (id + 3) * vpq) {
    tempVault = id * vpq;
    AdvanceBank();
  }
}

void quor2_generator::AdvanceBank() {
  ++tempBank;
  if (tempBank == banksPerVault) tempBank = 0;
}

// A reused payload may still carry the extension of an earlier non-posted
// atomic. The payload has no automatic extension clean-up, so it is removed
// and deleted here; the controller frees those of posted atomics itself.
void quor2_generator::DropAtomicsExtension() {
  quor2_atomics_extension* extension = nullptr;
  transaction->get_extension(extension);
  if (extension == nullptr) return;
  transaction->clear_extension(extension);
  delete extension;
}

// The share is a percentage: draws 0..99 below it make an atomic, so a share of
// 0 issues none and 100 issues only atomics.
void quor2_generator::AttachAtomic() {
  if (Draw(100) >= cfg.ATOMICS_PERCENTAGE) return;
  const auto command = static_cast<QUORCommand>(ATOMIC_BWR + Draw(6));
  transaction->set_extension(new quor2_atomics_extension(command));
  postedAtomic = IsPostedAtomic(command);
}

unsigned int quor2_generator::PickLength(const std::vector<unsigned int>& probabilities) {
  unsigned runningSum = 0;
  for (unsigned k = 0; k < probabilities.size(); ++k) {
    runningSum += probabilities[k];
    if (requestSizePick < runningSum) return 16 * (k + 1);
  }
  return 0;
}

void quor2_generator::GenerateRequestTLM() {
  while (issuedRequests <= cfg.NUM_REQUESTS && NextHasArrived()) {
    transaction = memoryManager.allocate();
    transaction->acquire();
    DropAtomicsExtension();
    transaction->set_address(GenerateAddress());
    postedAtomic = false;
    if (cfg.USE_ATOMICS != 0) AttachAtomic();
    transaction->set_streaming_width(id);
    SetLinkExtension(*transaction, id);

    requestTypePick = Draw(100);
    const bool read = requestTypePick < cfg.PERCENTAGE_READ;
    transaction->set_command(read ? tlm::TLM_READ_COMMAND : tlm::TLM_WRITE_COMMAND);
    requestSizePick = Draw(100);
    const unsigned length = PickLength(read ? readProbabilities : writeProbabilities);
    if (length != 0) transaction->set_data_length(length);

    tlmPhase = tlm::BEGIN_REQ;
    // Open loop, the wait in the source is part of the latency.
    SourceStats::StampIssue(*transaction, openLoop ? nextArrival : sc_core::sc_time_stamp());
    returnValue = requestSocket->nb_transport_fw(*transaction, tlmPhase, tlmDelay);
    if (returnValue == tlm::TLM_UPDATED) {
      CountAccepted();
    } else if (returnValue == tlm::TLM_ACCEPTED) {
      failedRequest = true;
      return;
    } else {
      // The target has handed the request straight back: it is ours again.
      // Trying the same request number again in this call would never end.
      TimedLine() << "ERROR - Unknown TLM response in generator" << std::endl;
      transaction->release();
      return;
    }
  }
}

void quor2_generator::CountAccepted() {
  ++issuedRequests;
  if (openLoop) TakeNextArrival();
  if (!postedAtomic) {
    if (transaction->get_command() == tlm::TLM_READ_COMMAND)
      ++issuedReads;
    else
      ++issuedWrites;
    if (HasAtomicsExtension(*transaction)) ++issuedNonPostedAtomics;
  }
  if (issuedRequests > cfg.NUM_REQUESTS) {
    PrintFinishLine();
    CheckCompletion();
  }
}

void quor2_generator::PrintFinishLine() {
  // Only posted atomics issued: no read or write to share out.
  const uint64_t counted = issuedReads + issuedWrites;
  const float readShare =
      counted == 0 ? 0.0f
                   : 100.0f * static_cast<float>(issuedReads) / static_cast<float>(counted);
  TimedLine() << "Generator " << id << " finished issuing [" << readShare << "% R/W]"
              << std::endl;
}

bool quor2_generator::AwaitedResponsesIn() const {
  const uint64_t awaitedWrites = cfg.POSTED_WRITES ? issuedNonPostedAtomics : issuedWrites;
  return readResponses == issuedReads && writeResponses == awaitedWrites;
}

// Under POSTED_WRITES plain writes go unanswered, but a non-posted atomic (sent
// as a write) is still answered.
bool quor2_generator::ExpectsWriteResponse(tlm::tlm_generic_payload& trans) const {
  return !cfg.POSTED_WRITES || HasAtomicsExtension(trans);
}

void quor2_generator::CheckCompletion() {
  if (issuedRequests > cfg.NUM_REQUESTS && AwaitedResponsesIn() && memoryManager.out == 0)
    doneEvent.notify(sc_core::SC_ZERO_TIME);
}

// Never returns once done, but waits: a thread that ends frees its coroutine
// stack, which the leak checker of a sanitizer build may still read at exit.
void quor2_generator::SendTraffic() {
  ticks.WaitFirst();
  while (true) {
    ticks.WaitNext();
    if (issuedRequests > cfg.NUM_REQUESTS) break;
    if (!failedRequest) GenerateRequestTLM();
  }
  for (;;) sc_core::wait(doneEvent);
}

void quor2_generator::ToggleDone() { done.write(true); }

tlm::tlm_sync_enum quor2_generator::nb_transport_bw(tlm::tlm_generic_payload& trans,
                                                    tlm::tlm_phase& phase,
                                                    sc_core::sc_time& delay) {
  if (phase == tlm::END_REQ) {
    failedRequest = false;
    CountAccepted();
    return tlm::TLM_ACCEPTED;
  }
  if (phase == tlm::BEGIN_RESP) {
    sourceStats.CountResponse(trans, sc_core::sc_time_stamp());
    if (trans.get_command() == tlm::TLM_READ_COMMAND) {
      ++readResponses;
    } else if (!ExpectsWriteResponse(trans)) {
      TimedLine() << "ERROR - Received a WRITE response to Generator who is not expecting them"
                  << std::endl;
      ExitRun(1);
    } else {
      ++writeResponses;
    }
    if (issuedRequests > cfg.NUM_REQUESTS && AwaitedResponsesIn()) {
      TimedLine() << "All responses receives in Generator " << id << std::endl;
    }
    trans.release(); // done once this is home too (CheckCompletion)
    delay = sc_core::SC_ZERO_TIME;
    return tlm::TLM_COMPLETED;
  }
  TimedLine() << "ERROR - Unrecognized phase in nb_transport_bw in Generator " << id
              << std::endl;
  ExitRun(1);
}

} // namespace Orvane::Internal::QUOR2
