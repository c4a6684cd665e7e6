// One vault's controller: reassembles request packets from the link switch into
// transactions, expands each into a closed-page DRAM command sequence, issues
// the commands against its mirror of every bank's timing (with refresh), and
// sends read and write responses to the vault switch. Flow control: command and
// write-data credits back to the link switch, response credits from the vault
// switch.
#ifndef QUOR2_VAULT_CONTROLLER_H
#define QUOR2_VAULT_CONTROLLER_H

#include "quor2_event_queue.h"
#include "quor2_bank.h"
#include "quor2_clock.h"
#include "quor2_dram_bus_packet.h"
#include "quor2_flit.h"
#include "quor2_rest_check.h"
#include "quor2_utils.h"
#include "quor2_vault_controller_rules.h"

#include <systemc>

#include <deque>
#include <utility>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace Orvane::Internal::QUOR2 {

class quor2_vault_controller : public sc_core::sc_module {
public:
  sc_core::sc_vector<sc_core::sc_out<Flit_P>> flitsOutToVSW;
  sc_core::sc_vector<sc_core::sc_in<Flit_P>> flitsInFromLSW;
  sc_core::sc_out<DRAMBusPacket> tsvCommandBus;
  sc_core::sc_in<DRAMBusPacket> tsvDataIn;
  sc_core::sc_out<DRAMBusPacket> tsvDataOut;
  sc_core::sc_out<bool> commandCreditReturn;
  sc_core::sc_in<int> responseCreditReturn;
  sc_core::sc_out<int> writeDataCreditReturn;

  const Config& cfg;
  StatsKeeper& stats;
  unsigned id;

  int writeCredits = 0;
  std::deque<int> writeCreditQueue;
  std::deque<sc_core::sc_time> writeCreditDelay;
  std::map<unsigned, int> tagToCreditMap;
  std::deque<DRAMBusPacket> writeDataBuffer;
  CommandQueue requestQueue;
  std::deque<Flit_P> transactionQueue;
  // The bank of each queued transaction (partition, bank), mapped once on
  // arrival: the queue is searched for a free bank at every core cycle.
  std::deque<std::pair<unsigned, unsigned>> transactionBanks;
  std::deque<Flit_P> pendingReads;
  std::deque<DRAMBusPacket> pendingReadResponses;
  std::deque<sc_core::sc_time> pendingReadResponsesReady;
  std::deque<Flit_P> pendingWriteResponses;
  std::deque<Flit_P> writeResponses;
  std::deque<sc_core::sc_time> writeResponsesReady;
  std::vector<std::vector<std::unique_ptr<quor2_bank>>> bankStates;
  std::deque<unsigned> atomicTags;

  OrderedEvent issueEvents;
  EventQueue writeDataEvents;
  OrderedEvent refreshEvents;
  OrderedEvent processEvent;
  OrderedEvent moveToRequestQueueEvent;
  EventQueue creditDelayEvent;
  EventQueue responseEvent;
  EventQueue writeCreditReturnEvent;
  EventQueue commandCreditReturnEvent;
  // The credit pulses' second halves, and the read data taken a cycle after
  // it appears on the bus (the bus is not watched in between).
  OrderedEvent commandCreditWake, writeCreditWake, responseDataWake;
  PulseSteps<sc_core::sc_out<bool>, bool> commandCreditPulse{commandCreditReturn, false,
                                                             commandCreditWake};
  PulseSteps<sc_core::sc_out<int>, int> writeCreditPulse{writeDataCreditReturn, 0, writeCreditWake};
  bool responseDataPending = false;

  int incomingTag = -1;
  unsigned nextRefreshPartition = 0;
  unsigned nextRefreshBank = 0;
  unsigned nextRefreshRow = 0;
  unsigned refreshNeeded = 0;
  unsigned requestQueueCount = 0;
  unsigned responseCredits;
  std::deque<unsigned> creditDelayQueue;
  VaultAddressMap addressMap;
  // Set under STORE_DATA only: a request's bytes move at its first column command.
  class quor2_data_store* store = nullptr;
  sc_core::sc_time lastTransQSample, lastReqQSample, lastOpenBankSample, lastRespCreditSample;
  sc_core::sc_time lastAct, lastRead, lastWrite, lastRefresh;
  // When each bank's row was last activated, for its busy time.
  std::vector<sc_core::sc_time> activatedAt;
  unsigned numOpenBanks = 0;
  sc_core::sc_time tREFi;
  sc_core::sc_time nextProcessingTime;
  bool issuingResponse = false;
  // Wakes of the response sender that found a due write response held back by
  // a read response; that many are given back when the read response ends.
  unsigned heldWriteResponseWakes = 0;
  ReadBurst readBurst;
  std::optional<Flit_P> transactionQueueLatch;

  SC_HAS_PROCESS(quor2_vault_controller);
  quor2_vault_controller(sc_core::sc_module_name name, const Config& cfg, StatsKeeper& stats,
                         unsigned id);
  ~quor2_vault_controller() override;

  // Processes.
  void ReceiveInputFlits();
  void ProcessInputFlits();
  void MoveToRequestQueue();
  void IssuingThread();
  void SendResponseThread();
  void GetResponseData();
  void TakeResponseData();
  void ReturnCommandCredit();
  void EndCommandCredit();
  void ReturnWriteCredits();
  void EndWriteCredit();
  void IssueWriteDataThread();
  void ReceiveResponseCredit();
  void IncrementResponseCredit();
  void RefreshThread();

  void AddressMap(uint64_t physicalAddress, unsigned& partition, unsigned& bank, unsigned& row,
                  unsigned& col) const {
    addressMap.Map(physicalAddress, partition, bank, row, col);
  }
  sc_core::sc_time IsIssuable(size_t queueIndex) const;
  void DumpState() const;
  // Adds every tag, token, credit and buffer this module owns to a check of a
  // drained run.
  void CheckAtRest(RestCheck& check) const;

private:
  VcTiming timing;
  // Admission waits while fewer credits than this remain: never below the
  // largest response, so taking a response's credits cannot wrap the count.
  unsigned processingCreditFloor;
  // This vault's per-bank command counts in the statistics, sized once.
  StatsKeeper::BankCommands* bankCommands;

  quor2_bank& Bank(unsigned partition, unsigned bank) const { return *bankStates[partition][bank]; }

  void TakeFlit(const Flit_P& flit, const sc_core::sc_time& now);
  void EnqueueTransaction(const Flit_P& flit, const sc_core::sc_time& now);
  void CountPostedWrite(const Flit& tail);
  void AdmitRefresh(const sc_core::sc_time& ready);
  void AdmitTransaction(const Flit_P& flit, const sc_core::sc_time& now,
                        const sc_core::sc_time& ready);
  void TakeResponseCredits(unsigned amount, const sc_core::sc_time& now);
  void TurnIntoWriteResponse(const Flit_P& flit);

  void Issue(size_t index, const sc_core::sc_time& now);
  void IssueActivate(const DRAMBusPacket& e, const sc_core::sc_time& now);
  void IssuePrecharge(const DRAMBusPacket& e, const sc_core::sc_time& now);
  void IssueRead(size_t index, const DRAMBusPacket& e, const sc_core::sc_time& now);
  void IssueWrite(size_t index, const DRAMBusPacket& e, const sc_core::sc_time& now);
  void FinishColumnCommands(const sc_core::sc_time& now);
  void QueueWriteCredits(unsigned tag, const sc_core::sc_time& now);
  void ReleaseWriteResponse(unsigned tag, const sc_core::sc_time& now);
  void TraceCommand(const DRAMBusPacket& e, const sc_core::sc_time& now) const;
  void CountCommand(const DRAMBusPacket& e, const sc_core::sc_time& now);

  void SendResponseStep(const sc_core::sc_time& now);
  Flit_P MakeReadResponseFlit(const Flit& request, bool header, bool tail) const;

  // Time-weighted statistics: level x time since the last sample.
  static void Accumulate(uint64_t& sum, uint64_t level, sc_core::sc_time& lastSample,
                         const sc_core::sc_time& now) {
    sum += level * (now - lastSample).value();
    lastSample = now;
  }
};

} // namespace Orvane::Internal::QUOR2

#endif
