#include "quor2_vault_controller.h"

#include "quor2_clock.h"
#include "quor2_data_store.h"
#include "quor2_messages.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

namespace Orvane::Internal::QUOR2 {

using sc_core::sc_time;
using sc_core::SC_ZERO_TIME;

quor2_vault_controller::quor2_vault_controller(sc_core::sc_module_name name, const Config& cfg,
                                               StatsKeeper& stats, unsigned id)
    : sc_core::sc_module(name),
      flitsOutToVSW("flitsOutToVSW", cfg.FLITS_OUT_PER_CYCLE_VC),
      flitsInFromLSW("flitsInFromLSW", cfg.FLITS_IN_PER_CYCLE_VC),
      tsvCommandBus("tsvCommandBus"),
      tsvDataIn("tsvDataIn"),
      tsvDataOut("tsvDataOut"),
      commandCreditReturn("commandCreditReturn"),
      responseCreditReturn("responseCreditReturn"),
      writeDataCreditReturn("writeDataCreditReturn"),
      cfg(cfg),
      stats(stats),
      id(id),
      writeDataEvents("writeDataEvents"),
      creditDelayEvent("creditDelayEvent"),
      responseEvent("responseEvent"),
      writeCreditReturnEvent("writeCreditReturnEvent"),
      commandCreditReturnEvent("commandCreditReturnEvent"),
      responseCredits(cfg.VSW_RESPONSE_BUFFER_SIZE),
      addressMap(cfg),
      timing(cfg),
      processingCreditFloor(std::max(cfg.CREDITS_FOR_PROCESSING,
                                     cfg.MAX_BLOCK_SIZE / cfg.FLIT_SIZE + 1)),
      bankCommands(stats.perVaultBankCommands[id].data()) {
  activatedAt.resize(cfg.NUM_PARTITIONS * cfg.NUM_BANKS);
  if (cfg.STORE_DATA) store = &DataStoreOf(cfg);
  bankStates.resize(cfg.NUM_PARTITIONS);
  char bankName[32];
  for (unsigned p = 0; p < cfg.NUM_PARTITIONS; ++p) {
    for (unsigned b = 0; b < cfg.NUM_BANKS; ++b) {
      std::snprintf(bankName, sizeof bankName, "vc_bank%u%u", p, b);
      bankStates[p].push_back(std::make_unique<quor2_bank>(bankName));
    }
  }
  if (cfg.REFRESH_ENABLED)
    tREFi = RefreshInterval(cfg.Tj, cfg.NUM_BANKS, cfg.NUM_ROWS, cfg.NUM_PARTITIONS,
                            cfg.psScaleFactor);

  AssignRanks(Stage::VaultController, id,
              {&creditDelayEvent.Ordered(), &refreshEvents, &writeDataEvents.Ordered(), &issueEvents,
               &moveToRequestQueueEvent, &processEvent, &responseEvent.Ordered(), &responseDataWake,
               &commandCreditWake, &commandCreditReturnEvent.Ordered(), &writeCreditWake,
               &writeCreditReturnEvent.Ordered()});

  SC_METHOD(ReceiveInputFlits);
  for (auto& port : flitsInFromLSW) sensitive << port;
  dont_initialize();
  SC_METHOD(ProcessInputFlits);
  sensitive << processEvent;
  dont_initialize();
  processEvent.DueRuns<&quor2_vault_controller::ProcessInputFlits>(this);
  SC_METHOD(MoveToRequestQueue);
  sensitive << moveToRequestQueueEvent;
  dont_initialize();
  moveToRequestQueueEvent.DueRuns<&quor2_vault_controller::MoveToRequestQueue>(this);
  // Methods: a step each time their event comes due.
  SC_METHOD(IssuingThread);
  sensitive << issueEvents;
  dont_initialize();
  issueEvents.DueRuns<&quor2_vault_controller::IssuingThread>(this);
  SC_METHOD(SendResponseThread);
  sensitive << responseEvent;
  dont_initialize();
  responseEvent.Ordered().DueRuns<&quor2_vault_controller::SendResponseThread>(this);
  SC_METHOD(GetResponseData);
  sensitive << tsvDataIn;
  dont_initialize();
  SC_METHOD(TakeResponseData);
  sensitive << responseDataWake;
  dont_initialize();
  responseDataWake.DueRuns<&quor2_vault_controller::TakeResponseData>(this);
  SC_METHOD(ReturnCommandCredit);
  sensitive << commandCreditReturnEvent;
  dont_initialize();
  commandCreditReturnEvent.Ordered().DueRuns<&quor2_vault_controller::ReturnCommandCredit>(this);
  SC_METHOD(EndCommandCredit);
  sensitive << commandCreditWake;
  dont_initialize();
  commandCreditWake.DueRuns<&quor2_vault_controller::EndCommandCredit>(this);
  SC_METHOD(ReturnWriteCredits);
  sensitive << writeCreditReturnEvent;
  dont_initialize();
  writeCreditReturnEvent.Ordered().DueRuns<&quor2_vault_controller::ReturnWriteCredits>(this);
  SC_METHOD(EndWriteCredit);
  sensitive << writeCreditWake;
  dont_initialize();
  writeCreditWake.DueRuns<&quor2_vault_controller::EndWriteCredit>(this);
  SC_METHOD(IssueWriteDataThread);
  sensitive << writeDataEvents;
  dont_initialize();
  writeDataEvents.Ordered().DueRuns<&quor2_vault_controller::IssueWriteDataThread>(this);
  SC_METHOD(ReceiveResponseCredit);
  sensitive << responseCreditReturn;
  dont_initialize();
  SC_METHOD(IncrementResponseCredit);
  sensitive << creditDelayEvent;
  dont_initialize();
  creditDelayEvent.Ordered().DueRuns<&quor2_vault_controller::IncrementResponseCredit>(this);
  if (cfg.REFRESH_ENABLED) {
    SC_METHOD(RefreshThread);
    sensitive << refreshEvents;
    dont_initialize();
    refreshEvents.DueRuns<&quor2_vault_controller::RefreshThread>(this);
    if (tREFi > SC_ZERO_TIME) refreshEvents.notify(tREFi);
  }
}

// Flits this controller still holds when the run ends are its own.
quor2_vault_controller::~quor2_vault_controller() {
  for (auto* queue : {&transactionQueue, &pendingReads, &pendingWriteResponses, &writeResponses})
    for (const Flit_P& f : *queue) delete f.flit;
  if (transactionQueueLatch) delete transactionQueueLatch->flit;
}

// ---------------------------------------------------------------- intake

void quor2_vault_controller::ReceiveInputFlits() {
  const sc_time now = SimNow();
  if (!IsOnEdge(now, cfg.CORE_CLK)) {
    std::cout << "Off timing in VC" << id << " @ " << now << std::endl;
    AbortRun();
  }
  for (auto& port : flitsInFromLSW)
    if (port.event()) TakeFlit(port.read(), now);
}

void quor2_vault_controller::TakeFlit(const Flit_P& flit, const sc_time& now) {
  Flit& f = *flit;
  if (f.destinationField != id)
    TimedLine() << "ERROR - " << f << " sent incorrectly to VC" << id << std::endl;
  if (incomingTag != -1 && static_cast<unsigned>(incomingTag) != f.tag) {
    std::cout << "== ERROR - VC" << id << " did not receive contiguous packet of tag :"
              << incomingTag << " : " << f << std::endl;
    ExitRun(1);
  }
  if (f.header) incomingTag = static_cast<int>(f.tag);
  if (f.tail) incomingTag = -1;

  switch (f.command) {
  case READ_REQUEST:
    stats.perVaultReads[id]++;
    EnqueueTransaction(flit, now);
    break;
  case P_WRITE_REQUEST:
  case WRITE_REQUEST:
    if (!f.tail) {
      delete flit.flit;  // a data flit: its bytes are modelled by the tail's length
      break;
    }
    stats.perVaultWrites[id]++;
    stats.perVaultDataCount[id] += f.requestLength;
    if (f.command == P_WRITE_REQUEST) CountPostedWrite(f);
    EnqueueTransaction(flit, now);
    break;
  case ATOMIC_BWR:
  case ATOMIC_P_BWR:
  case ATOMIC_DADD8:
  case ATOMIC_P_DADD8:
  case ATOMIC_ADD16:
  case ATOMIC_P_ADD16:
    if (!f.tail) {
      delete flit.flit;
      break;
    }
    f.flitNumber = 1;
    EnqueueTransaction(flit, now);
    break;
  default:
    // Not ours to consume: the handle is dropped, the flit left to its owner.
    TimedLine() << "ERROR - Received wronge packet type in vault controller " << id << " - " << f
                << std::endl;
    break;
  }
}

// A posted write is delivered once its vault takes it in; a flit from a test
// double that came by no link counts for its vault only.
void quor2_vault_controller::CountPostedWrite(const Flit& tail) {
  stats.perVaultPostedWriteBytes[id] += tail.requestLength;
  if (tail.sourceLink < stats.perLinkPostedWriteBytes.size())
    stats.perLinkPostedWriteBytes[tail.sourceLink] += tail.requestLength;
}

void quor2_vault_controller::EnqueueTransaction(const Flit_P& flit, const sc_time& now) {
  Accumulate(stats.perVaultTransQAvg[id], transactionQueue.size(), lastTransQSample, now);
  flit->startTimeTransQ = now;
  transactionQueue.push_back(flit);
  unsigned partition, bank, row, col;
  AddressMap(flit->address, partition, bank, row, col);
  transactionBanks.emplace_back(partition, bank);
  processEvent.notify(cfg.CORE_CLK);
}

// At most one transaction leaves the transaction queue every two cycles: a due
// refresh first, then the oldest transaction whose bank is free, while the
// vault switch has room for a response.
void quor2_vault_controller::ProcessInputFlits() {
  const sc_time now = SimNow();
  if (!IsOnEdge(now, cfg.CORE_CLK)) std::cout << "ERROR: off timing in VC @ " << now << std::endl;
  if (now < nextProcessingTime) {
    processEvent.notify(cfg.CORE_CLK);
    return;
  }
  if (transactionQueueLatch) return;
  if (refreshNeeded > 0) {
    transactionQueueLatch = Flit_P(kRefreshTag, 0, READ_REQUEST, 32, true, true, 1);
    --refreshNeeded;
    stats.perVaultRefresh[id]++;
    nextProcessingTime = now + Cycles(cfg.CORE_CLK, 2);
    moveToRequestQueueEvent.notify(cfg.CORE_CLK);
    return;
  }
  if (responseCredits < processingCreditFloor) return;

  for (std::size_t i = 0; i < transactionQueue.size(); ++i) {
    const quor2_bank& b = Bank(transactionBanks[i].first, transactionBanks[i].second);
    if (b.bankInUse || b.refreshWaiting) continue;
    transactionQueueLatch = transactionQueue[i];
    moveToRequestQueueEvent.notify(cfg.CORE_CLK);
    nextProcessingTime = now + Cycles(cfg.CORE_CLK, 2);
    Accumulate(stats.perVaultTransQAvg[id], transactionQueue.size(), lastTransQSample, now);
    transactionQueue.erase(transactionQueue.begin() + static_cast<std::ptrdiff_t>(i));
    transactionBanks.erase(transactionBanks.begin() + static_cast<std::ptrdiff_t>(i));
    commandCreditReturnEvent.notify(Cycles(cfg.CORE_CLK, cfg.COMMAND_CREDIT_DELAY));
    break;
  }
  if (!transactionQueue.empty()) processEvent.notify(cfg.CORE_CLK);
}

// Admission of the latched transaction: its DRAM commands go into the request
// queue, its write data into the write buffer.
void quor2_vault_controller::MoveToRequestQueue() {
  if (!transactionQueueLatch) return;
  if (requestQueueCount >= cfg.REQUEST_Q_CAPACITY) return;
  const sc_time now = SimNow();
  const sc_time ready = now + cfg.CORE_CLK;
  const Flit_P flit = *transactionQueueLatch;
  if (flit->tag == kRefreshTag) {
    AdmitRefresh(ready);
    delete flit.flit;
  } else {
    AdmitTransaction(flit, now, ready);
  }
  Accumulate(stats.perVaultReqQAvg[id], requestQueueCount, lastReqQSample, now);
  ++requestQueueCount;

  const sc_time d = CyclesFromEdge(now, cfg.CORE_CLK, 1);
  issueEvents.notify(d);
  transactionQueueLatch.reset();
  processEvent.notify(d);
}

void quor2_vault_controller::AdmitRefresh(const sc_time& ready) {
  const unsigned p = nextRefreshPartition, b = nextRefreshBank, row = nextRefreshRow;
  requestQueue.emplace_back(ACTIVATE, p, b, row, 0, kRefreshTag, ready);
  requestQueue.emplace_back(READ, p, b, row, 0, kRefreshTag, ready);
  requestQueue.emplace_back(PRECHARGE, p, b, row, 0, kRefreshTag, ready);
  quor2_bank& bank = Bank(p, b);
  bank.refreshWaiting = true;
  bank.bankInUse = true;
  // Partition fastest, then row, then bank.
  if (++nextRefreshPartition == cfg.NUM_PARTITIONS) {
    nextRefreshPartition = 0;
    if (++nextRefreshRow == cfg.NUM_ROWS) {
      nextRefreshRow = 0;
      if (++nextRefreshBank == cfg.NUM_BANKS) nextRefreshBank = 0;
    }
  }
}

void quor2_vault_controller::AdmitTransaction(const Flit_P& flit, const sc_time& now,
                                              const sc_time& ready) {
  Flit& f = *flit;
  unsigned partition, bank, row, col;
  AddressMap(f.address, partition, bank, row, col);
  const unsigned n = ColumnAccessCount(f.requestLength, col, cfg.COLUMN_ACCESS_LENGTH);
  Bank(partition, bank).bankInUse = true;
  f.startTimeReqQ = now;
  const unsigned tag = f.tag;
  requestQueue.emplace_back(ACTIVATE, partition, bank, row, col, tag, ready);

  switch (f.command) {
  case READ_REQUEST:
    TakeResponseCredits(f.requestLength / cfg.FLIT_SIZE + 1, now);
    for (unsigned k = 0; k < n; ++k)
      requestQueue.emplace_back(READ, partition, bank, row, col + k, tag, ready);
    requestQueue.emplace_back(PRECHARGE, partition, bank, row, col + n, tag, ready);
    pendingReads.push_back(flit);
    break;
  case P_WRITE_REQUEST:
  case WRITE_REQUEST:
    writeCredits = static_cast<int>(WriteDataCreditCount(f.command, f.requestLength, cfg.FLIT_SIZE));
    tagToCreditMap[tag] = writeCredits;
    for (unsigned k = 0; k < n; ++k) {
      requestQueue.emplace_back(WRITE, partition, bank, row, col + k, tag, ready);
      writeDataBuffer.emplace_back(DATA, partition, bank, row, col + k, tag, ready);
    }
    requestQueue.emplace_back(PRECHARGE, partition, bank, row, col + n, tag, ready);
    if (f.command == P_WRITE_REQUEST) {
      delete flit.flit;
    } else {
      TurnIntoWriteResponse(flit);
      TakeResponseCredits(1, now);
    }
    break;
  case ATOMIC_BWR:
  case ATOMIC_DADD8:
  case ATOMIC_ADD16:
  case ATOMIC_P_BWR:
  case ATOMIC_P_DADD8:
  case ATOMIC_P_ADD16:
    tagToCreditMap[tag] = 2;
    atomicTags.push_back(tag);
    requestQueue.emplace_back(READ, partition, bank, row, col, tag, ready);
    requestQueue.emplace_back(WRITE, partition, bank, row, col, tag, ready);
    requestQueue.emplace_back(PRECHARGE, partition, bank, row, col, tag, ready);
    writeDataBuffer.emplace_back(DATA, partition, bank, row, col, tag, ready);
    if (IsPostedAtomic(f.command)) {
      delete flit.flit;
    } else {
      TurnIntoWriteResponse(flit);
      TakeResponseCredits(1, now);
    }
    break;
  default:
    TimedLine() << "ERROR - Wrong type of transaction in VC" << id << " transactioin queue - " << f
                << std::endl;
    break;
  }
}

void quor2_vault_controller::TakeResponseCredits(unsigned amount, const sc_time& now) {
  Accumulate(stats.perVaultAvgRespCredits[id], responseCredits, lastRespCreditSample, now);
  responseCredits -= std::min(amount, responseCredits);
}

void quor2_vault_controller::TurnIntoWriteResponse(const Flit_P& flit) {
  flit->command = WRITE_RESPONSE;
  flit->header = true;
  flit->tail = true;
  flit->flitNumber = 1;
  pendingWriteResponses.push_back(flit);
}

void quor2_vault_controller::ReturnCommandCredit() {
  if (commandCreditPulse.Busy()) return;
  commandCreditPulse.Start(true, cfg.CORE_CLK);
}

void quor2_vault_controller::EndCommandCredit() { commandCreditPulse.Step(); }

void quor2_vault_controller::IssueWriteDataThread() {
  stats.perVaultTSVUse[id] += cfg.BL;
  if (writeDataBuffer.empty()) return;
  tsvDataOut.write(writeDataBuffer.front());
  writeDataBuffer.pop_front();
  writeCreditReturnEvent.notify(Cycles(cfg.CORE_CLK, cfg.WRITE_CREDIT_DELAY));
}

// Returns queued write-data credits once due, at most WRITE_CREDITS_PER_CYCLE
// per cycle, each amount held for half a cycle.
void quor2_vault_controller::ReturnWriteCredits() {
  if (writeCreditPulse.Busy()) return;
  const sc_time now = SimNow();
  if (writeCreditDelay.empty() || now < writeCreditDelay.front()) return;
  const int perCycle = static_cast<int>(cfg.WRITE_CREDITS_PER_CYCLE);
  int amount;
  if (perCycle < writeCreditQueue.front()) {
    amount = perCycle;
    writeCreditQueue.front() -= perCycle;
    writeCreditReturnEvent.notify(cfg.CORE_CLK);
  } else {
    amount = writeCreditQueue.front();
    writeCreditQueue.pop_front();
    writeCreditDelay.pop_front();
    if (!writeCreditDelay.empty() && writeCreditDelay.front() <= now)
      writeCreditReturnEvent.notify(cfg.CORE_CLK);
  }
  writeCreditPulse.Start(amount, cfg.CORE_CLK);
}

void quor2_vault_controller::EndWriteCredit() { writeCreditPulse.Step(); }

// ---------------------------------------------------------------- scheduling

sc_time quor2_vault_controller::IsIssuable(size_t queueIndex) const {
  return QUOR2::IsIssuable(
      requestQueue, queueIndex, [this](unsigned p, unsigned b) -> quor2_bank& { return Bank(p, b); },
      SimNow(), timing, readBurst);
}

// Wakes on tCMD slots while commands are queued; issues the oldest issuable
// command, at most one per slot.
void quor2_vault_controller::IssuingThread() {
  const auto bankAt = [this](unsigned p, unsigned b) -> quor2_bank& { return Bank(p, b); };
  const sc_time now = SimNow();
  if (!IsOnEdge(now, cfg.tCMD))
    std::cout << "UNALIGNED CLOCK!!!!!!!!!!\n\tTime Now=" << now << ", period=" << cfg.tCMD
              << std::endl;
  sc_time shortest = sc_core::sc_max_time();
  for (size_t i = 0; i < requestQueue.size(); ++i) {
    const sc_time w = QUOR2::IsIssuable(requestQueue, i, bankAt, now, timing, readBurst);
    if (w == SC_ZERO_TIME) {
      Issue(i, now);
      shortest = SC_ZERO_TIME;
      break;
    }
    shortest = std::min(shortest, w);
  }
  if (!requestQueue.empty()) {
    const uint64_t slot = cfg.tCMD.value();
    const uint64_t w = std::max(shortest, cfg.tCMD).value();
    issueEvents.notify(TimeOfValue((w + slot - 1) / slot * slot));
  }
}

void quor2_vault_controller::Issue(size_t index, const sc_time& now) {
  const DRAMBusPacket e = requestQueue[index];
  if (cfg.DRAM_TRACING) TraceCommand(e, now);
  CountCommand(e, now);
  switch (e.command) {
  case ACTIVATE: IssueActivate(e, now); break;
  case PRECHARGE: IssuePrecharge(e, now); break;
  case READ: IssueRead(index, e, now); break;
  case WRITE: IssueWrite(index, e, now); break;
  default: TimedLine() << "ERROR - Issuing wrong packet type!!!!!" << std::endl; break;
  }
  tsvCommandBus.write(e);
  requestQueue.erase(requestQueue.begin() + static_cast<std::ptrdiff_t>(index));
}

void quor2_vault_controller::IssueActivate(const DRAMBusPacket& e, const sc_time& now) {
  ApplyActivateTiming([this](unsigned p, unsigned b) -> quor2_bank& { return Bank(p, b); }, e, now,
                      timing);
  Accumulate(stats.perVaultOpenBanks[id], numOpenBanks, lastOpenBankSample, now);
  ++numOpenBanks;
  if (e.tag != kRefreshTag) stats.perVaultPerBankCounters[id][e.partition * cfg.NUM_BANKS + e.bank]++;
  lastAct = now;
}

void quor2_vault_controller::IssuePrecharge(const DRAMBusPacket& e, const sc_time& now) {
  ApplyPrechargeTiming([this](unsigned p, unsigned b) -> quor2_bank& { return Bank(p, b); }, e,
                       now, timing);
  Accumulate(stats.perVaultOpenBanks[id], numOpenBanks, lastOpenBankSample, now);
  if (numOpenBanks > 0) --numOpenBanks;
  // The mirror bank turns idle three cycles before the DRAM bank does.
  const sc_time lead = Cycles(cfg.CORE_CLK, 3);
  Bank(e.partition, e.bank).stateChangeEvent.notify(cfg.tRP > lead ? cfg.tRP - lead : SC_ZERO_TIME);
}

void quor2_vault_controller::IssueRead(size_t index, const DRAMBusPacket& e, const sc_time& now) {
  if (store != nullptr && e.tag != kRefreshTag) store->Perform(e.tag);
  bool atomic = false;
  const auto tagIt = std::find(atomicTags.begin(), atomicTags.end(), e.tag);
  if (tagIt != atomicTags.end()) {
    atomicTags.erase(tagIt);
    atomic = true;
  }
  bool keepOpen = false;
  const unsigned k = ReadLookAhead(requestQueue, index, keepOpen);
  if (k == 0 && !keepOpen) FinishColumnCommands(now);
  if (!atomic && e.tag != kRefreshTag) readBurst = ReadBurst{k > 0, e.tag};
  ApplyReadTiming([this](unsigned p, unsigned b) -> quor2_bank& { return Bank(p, b); }, e, now, k,
                  atomic, timing);
  stats.perVaultCASs[id]++;
  if (e.tag == kRefreshTag) Bank(e.partition, e.bank).refreshWaiting = false;
  lastRead = now;
}

void quor2_vault_controller::IssueWrite(size_t index, const DRAMBusPacket& e, const sc_time& now) {
  if (store != nullptr && e.tag != kRefreshTag) store->Perform(e.tag);
  const unsigned k = WriteLookAhead(requestQueue, index);
  if (k == 0) {
    FinishColumnCommands(now);
    QueueWriteCredits(e.tag, now);
    ReleaseWriteResponse(e.tag, now);
  }
  ApplyWriteTiming([this](unsigned p, unsigned b) -> quor2_bank& { return Bank(p, b); }, e, now, k,
                   timing);
  writeDataEvents.notify(cfg.tWL);
  lastWrite = now;
  stats.perVaultCASs[id]++;
}

// A transaction's last column command has issued: it no longer counts against
// the request queue, so a waiting admission (or processing) may go on.
void quor2_vault_controller::FinishColumnCommands(const sc_time& now) {
  Accumulate(stats.perVaultReqQAvg[id], requestQueueCount, lastReqQSample, now);
  if (requestQueueCount > 0) --requestQueueCount;
  if (transactionQueueLatch)
    moveToRequestQueueEvent.notify();
  else
    processEvent.notify(DelayToNextEdge(now, cfg.CORE_CLK));
}

void quor2_vault_controller::QueueWriteCredits(unsigned tag, const sc_time& now) {
  const auto it = tagToCreditMap.find(tag);
  if (it == tagToCreditMap.end()) return;
  const sc_time delay = Cycles(cfg.CORE_CLK, cfg.WRITE_CREDIT_DELAY);
  writeCreditQueue.push_back(it->second);
  writeCreditDelay.push_back(now + delay);
  tagToCreditMap.erase(it);
  writeCreditReturnEvent.notify(delay);
}

void quor2_vault_controller::ReleaseWriteResponse(unsigned tag, const sc_time& now) {
  const auto it = std::find_if(pendingWriteResponses.begin(), pendingWriteResponses.end(),
                               [tag](const Flit_P& f) { return f->tag == tag; });
  if (it == pendingWriteResponses.end()) return;
  const sc_time delay = CyclesFromEdge(now, cfg.CORE_CLK, cfg.WRITE_RESPONSE_DELAY);
  writeResponses.push_back(*it);
  writeResponsesReady.push_back(now + delay);
  pendingWriteResponses.erase(it);
  responseEvent.notify(delay);
}

void quor2_vault_controller::CountCommand(const DRAMBusPacket& e, const sc_time& now) {
  const unsigned i = e.partition * cfg.NUM_BANKS + e.bank;
  StatsKeeper::BankCommands& counts = bankCommands[i];
  const bool refresh = e.tag == kRefreshTag;
  switch (e.command) {
  case ACTIVATE:
    ++(refresh ? counts.refreshes : counts.activates);
    activatedAt[i] = now;
    if (refresh) lastRefresh = now;
    break;
  case READ: counts.reads += !refresh; break;
  case WRITE: ++counts.writes; break;
  case PRECHARGE: {
    counts.precharges += !refresh;
    const uint64_t busy = (now + cfg.tRP - activatedAt[i]).value();
    counts.busyTicks += busy;
    if (refresh) stats.perVaultRefreshTicks[id] += busy;
    break;
  }
  default: break;
  }
}

void quor2_vault_controller::TraceCommand(const DRAMBusPacket& e, const sc_time& now) const {
  // A refresh shows as REF, then as the activate, read and precharge it is made of.
  if (e.command == ACTIVATE && e.tag == kRefreshTag)
    dramLog << now.value() << ",VC" << id << ",REF,d" << e.partition << ",b" << e.bank << ","
            << (now - lastRefresh).value() << std::endl;
  const char* name = "";
  sc_time since = SC_ZERO_TIME;
  switch (e.command) {
  case ACTIVATE: name = "ACT"; since = now - lastAct; break;
  case PRECHARGE: name = "PRE"; break;
  case READ: name = "READ"; since = now - lastRead; break;
  case WRITE: name = "WRITE"; since = now - lastWrite; break;
  default: break;
  }
  dramLog << now.value() << ",VC" << id << "," << name << ",d" << e.partition << ",b" << e.bank
          << "," << since.value() << std::endl;
}

void quor2_vault_controller::RefreshThread() {
  const sc_time now = SimNow();
  ++refreshNeeded;
  processEvent.notify(CyclesFromEdge(now, cfg.CORE_CLK, 1));
  refreshEvents.notify(tREFi);
}

// ---------------------------------------------------------------- responses

void quor2_vault_controller::GetResponseData() {
  if (responseDataPending) return;
  if (!tsvDataIn.event()) {
    std::cout << "?????????A" << std::endl;
    ExitRun(1);
  }
  responseDataPending = true;
  responseDataWake.notify(cfg.CORE_CLK);
}

void quor2_vault_controller::TakeResponseData() {
  responseDataPending = false;
  const sc_time now = SimNow();
  pendingReadResponses.push_back(tsvDataIn.read());
  pendingReadResponsesReady.push_back(now + Cycles(cfg.CORE_CLK, cfg.MI_OUT_DELAY));
  responseEvent.notify(CyclesFromEdge(now, cfg.CORE_CLK, cfg.MI_OUT_DELAY));
}

void quor2_vault_controller::SendResponseThread() { SendResponseStep(SimNow()); }

Flit_P quor2_vault_controller::MakeReadResponseFlit(const Flit& request, bool header,
                                                    bool tail) const {
  Flit* f = new Flit(request);
  f->command = READ_RESPONSE;
  f->header = header;
  f->tail = tail;
  return Flit_P(f);
}

// One step per notification: the flits of one read-data packet (the last two
// flits of a read response together), else one due write response, never in
// the middle of a read response.
void quor2_vault_controller::SendResponseStep(const sc_time& now) {
  if (!pendingReadResponses.empty() && pendingReadResponsesReady.front() <= now) {
    const uint32_t tag = pendingReadResponses.front().tag;
    pendingReadResponses.pop_front();
    pendingReadResponsesReady.pop_front();
    const auto it = std::find_if(pendingReads.begin(), pendingReads.end(),
                                 [tag](const Flit_P& f) { return f->tag == tag; });
    if (it == pendingReads.end()) return;  // refresh data or data beyond the response
    Flit* request = it->flit;
    const unsigned n = request->requestLength / cfg.FLIT_SIZE + 1;
    const unsigned k = request->flitNumber;
    bool finished = false;
    if (k == 1) stats.perVaultDataCount[id] += request->requestLength;
    if (k >= n) {
      flitsOutToVSW[0].write(MakeReadResponseFlit(*request, k == 1, true));
      finished = true;
    } else {
      flitsOutToVSW[0].write(MakeReadResponseFlit(*request, k == 1, false));
      if (k == 1) issuingResponse = true;
      request->flitNumber = k + 1;
      if (request->flitNumber == n) {
        flitsOutToVSW[1].write(MakeReadResponseFlit(*request, false, true));
        finished = true;
      }
    }
    if (!finished) return;
    issuingResponse = false;
    pendingReads.erase(it);
    delete request;
    // Every write response held back meanwhile gets its wake back (at least one
    // when one is due), or it would wait for traffic that may never come.
    if (!writeResponses.empty() && writeResponsesReady.front() <= now) {
      const unsigned wakes = std::max(1u, heldWriteResponseWakes);
      for (unsigned w = 0; w < wakes; ++w)
        responseEvent.notify(DelayToNextEdge(now, cfg.CORE_CLK) + cfg.CORE_CLK);
    }
    heldWriteResponseWakes = 0;
    return;
  }
  if (!writeResponses.empty() && writeResponsesReady.front() <= now) {
    if (issuingResponse) {
      ++heldWriteResponseWakes;
      return;
    }
    flitsOutToVSW[0].write(Flit_P(writeResponses.front().flit));
    writeResponses.pop_front();
    writeResponsesReady.pop_front();
  }
}

void quor2_vault_controller::ReceiveResponseCredit() {
  const int v = responseCreditReturn.read();
  if (v <= 0) return;
  const sc_time now = SimNow();
  if (!IsOnEdge(now, cfg.CORE_CLK)) {
    std::cout << "Off timing in VC" << id << " because of credit @ " << now << std::endl;
    AbortRun();
  }
  creditDelayQueue.push_back(static_cast<unsigned>(v));
  creditDelayEvent.notify(Cycles(cfg.CORE_CLK, cfg.CREDIT_RETURN_DELAY_VSW_VC));
}

void quor2_vault_controller::IncrementResponseCredit() {
  const sc_time now = SimNow();
  Accumulate(stats.perVaultAvgRespCredits[id], responseCredits, lastRespCreditSample, now);
  if (creditDelayQueue.empty()) return;
  responseCredits += creditDelayQueue.front();
  creditDelayQueue.pop_front();
  if (responseCredits > cfg.VSW_RESPONSE_BUFFER_SIZE) {
    std::cout << "== ERROR - Response Credit overflow in VC" << id << std::endl;
    AbortRun();
  }
  processEvent.notify(DelayToNextEdge(now, cfg.CORE_CLK));
}

void quor2_vault_controller::DumpState() const {
  std::cout << "== VC" << id << " [Response Credits : " << responseCredits << "]" << std::endl;
  std::cout << "\t\tTransaction Queue - " << transactionQueue.size() << " entries" << std::endl;
  for (size_t i = 0; i < transactionQueue.size(); ++i)
    std::cout << "\t\t\t" << i << "] " << *transactionQueue[i] << std::endl;
  std::cout << "\t\tRequest Queue" << std::endl;
  for (size_t i = 0; i < requestQueue.size(); ++i)
    std::cout << "\t\t\t" << i << "] " << requestQueue[i] << std::endl;
  std::cout << "\t\tPending Reads" << std::endl;
  for (size_t i = 0; i < pendingReads.size(); ++i)
    std::cout << "\t\t\t" << i << "] " << *pendingReads[i] << std::endl;
  std::cout << "\t\tWrite Buffer" << std::endl;
  for (size_t i = 0; i < writeDataBuffer.size(); ++i)
    std::cout << "\t\t\t" << i << "] " << writeDataBuffer[i] << std::endl;
}

// Response credits home, no credit waiting to go back to the link switch, no
// transaction, command or response left. Refreshes run on their own timer and
// are not traffic.
void quor2_vault_controller::CheckAtRest(RestCheck& check) const {
  const std::string me = name();
  const auto traffic = [](const auto& queue, const auto& tagOf) {
    std::size_t n = 0;
    for (const auto& entry : queue) n += tagOf(entry) != kRefreshTag;
    return n;
  };
  const auto flitTag = [](const Flit_P& f) { return f->tag; };
  const auto packetTag = [](const DRAMBusPacket& p) { return p.tag; };
  check.Expect(me + ".responseCredits", responseCredits, cfg.VSW_RESPONSE_BUFFER_SIZE);
  check.ExpectEmpty(me + ".creditDelayQueue", creditDelayQueue.size());
  check.ExpectEmpty(me + ".writeCreditQueue", writeCreditQueue.size());
  check.ExpectEmpty(me + ".tagToCreditMap", tagToCreditMap.size());
  check.ExpectEmpty(me + ".transactionQueue", traffic(transactionQueue, flitTag));
  check.ExpectEmpty(me + ".transactionQueueLatch",
                    transactionQueueLatch && (*transactionQueueLatch)->tag != kRefreshTag);
  check.ExpectEmpty(me + ".requestQueue", traffic(requestQueue, packetTag));
  check.ExpectEmpty(me + ".writeDataBuffer", writeDataBuffer.size());
  check.ExpectEmpty(me + ".pendingReads", pendingReads.size());
  check.ExpectEmpty(me + ".pendingReadResponses", traffic(pendingReadResponses, packetTag));
  check.ExpectEmpty(me + ".pendingWriteResponses", pendingWriteResponses.size());
  check.ExpectEmpty(me + ".writeResponses", writeResponses.size());
  check.ExpectEmpty(me + ".atomicTags", atomicTags.size());
}

} // namespace Orvane::Internal::QUOR2
