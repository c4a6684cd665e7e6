#include "quor2_vault.h"

#include "quor2_messages.h"

#include <cstdio>
#include <iostream>

namespace Orvane::Internal::QUOR2 {

using sc_core::sc_time;

quor2_vault::quor2_vault(sc_core::sc_module_name name, const Config& cfg, StatsKeeper& stats,
                         unsigned id)
    : sc_core::sc_module(name), tsvCommandBus("tsvCommandBus"), tsvDataIn("tsvDataIn"),
      tsvDataOut("tsvDataOut"), cfg(cfg), stats(stats), id(id),
      responseDataEvent("responseDataEvent"), dram(cfg) {
  banks.resize(cfg.NUM_PARTITIONS);
  for (unsigned p = 0; p < cfg.NUM_PARTITIONS; ++p) {
    for (unsigned b = 0; b < cfg.NUM_BANKS; ++b) {
      char bankName[32];
      std::snprintf(bankName, sizeof bankName, "v_bank%u%u", p, b);
      banks[p].push_back(std::make_unique<quor2_bank>(bankName));
      const uint64_t bank = (uint64_t{id} * cfg.NUM_PARTITIONS + p) * cfg.NUM_BANKS + b;
      AssignRanks(Stage::Bank, bank, {&banks[p].back()->stateChangeEvent});
    }
  }
  AssignRanks(Stage::Vault, id, {&responseDataEvent.Ordered(), &commandWake});

  // Write data on tsvDataIn is consumed and not stored: nothing watches it.
  SC_METHOD(ReceiveCommand);
  sensitive << tsvCommandBus;
  dont_initialize();
  SC_METHOD(TakeCommand);
  sensitive << commandWake;
  dont_initialize();
  commandWake.DueRuns<&quor2_vault::TakeCommand>(this);
  SC_METHOD(ResponseDataThread);
  sensitive << responseDataEvent;
  dont_initialize();
  responseDataEvent.Ordered().DueRuns<&quor2_vault::ResponseDataThread>(this);
}

void quor2_vault::ReceiveCommand() {
  if (commandPending) return;
  commandPending = true;
  commandWake.notify(cfg.tCMD);
}

void quor2_vault::TakeCommand() {
  commandPending = false;
  HandleCommand(tsvCommandBus.read(), SimNow());
}

void quor2_vault::ResponseDataThread() {
  stats.perVaultTSVUse[id] += cfg.CORE_CLK;
  tsvDataOut.write(readResponseQueue.front());
  readResponseQueue.pop_front();
}

void quor2_vault::HandleCommand(const DRAMBusPacket& p, const sc_time& now) {
  const bool isCommand = p.command == ACTIVATE || p.command == PRECHARGE ||
                         p.command == REFRESH || p.command == READ || p.command == WRITE;
  // A command for a bank the vault does not have cannot be applied; it is
  // reported like any other packet the vault does not understand.
  if (!isCommand || p.partition >= banks.size() || p.bank >= banks[p.partition].size()) {
    TimedLine() << "ERROR - Received unknown packet - " << p << std::endl;
    return;
  }
  CheckCommand(p, now);
  switch (p.command) {
  case ACTIVATE: ApplyActivate(p, now); break;
  case PRECHARGE: ApplyPrecharge(p, now); break;
  case REFRESH: ApplyRefresh(p, now); break;
  case READ:
    QueueReadData(p);
    ApplyRead(p, now);
    break;
  case WRITE: ApplyWrite(p, now); break;
  default: break;
  }
}

void quor2_vault::ReportViolation(const DRAMBusPacket& p, const char* what) {
  TimedLine() << "ERROR - Received " << p << " in Vault " << id << what << std::endl;
}

void quor2_vault::CheckCommand(const DRAMBusPacket& p, const sc_time& now) {
  const quor2_bank& bank = *banks[p.partition][p.bank];
  if (DramAccepts(bank, p, now)) return;
  // Which rule the command broke, in the DRAM's own words.
  switch (p.command) {
  case ACTIVATE:
    if (bank.currentBankState != IDLE || now < bank.nextAct)
      ReportViolation(p, " when we shouldn't have");
    break;
  case PRECHARGE:
    if (bank.currentBankState != ROW_ACTIVE) {
      ReportViolation(p, " when we shouldn't have");
      std::cout << "Bank not active - current state : "
                << static_cast<int>(bank.currentBankState) << std::endl;
    } else if (bank.lastCommand == READ || bank.lastCommand == WRITE) {
      if (now < bank.nextPre) {
        ReportViolation(p, " when we shouldn't have");
        std::cout << "next:" << bank.nextPre << std::endl;
      }
    } else {
      ReportViolation(p, " when we shouldn't have");
      std::cout << " Last command was not read or write - last command was : "
                << static_cast<int>(bank.lastCommand) << std::endl;
    }
    break;
  case REFRESH:
    if (bank.currentBankState != IDLE) {
      TimedLine() << "ERROR - Received refresh for partition " << p.partition << " bank "
                  << p.bank << " in Vault " << id << " when bank not idle" << std::endl;
      std::cout << "\t\t State : " << static_cast<int>(bank.currentBankState) << std::endl;
    }
    if (now < bank.nextRef)
      TimedLine() << "ERROR - Received refresh before we should have in Vault " << id
                  << std::endl;
    break;
  case READ:
    if (bank.currentBankState != ROW_ACTIVE || bank.openRow != p.row || now < bank.nextRead)
      ReportViolation(p, " when we shouldn't have");
    break;
  case WRITE:
    if (bank.currentBankState != ROW_ACTIVE) ReportViolation(p, " - ROW NOT OPEN");
    if (bank.openRow != p.row) ReportViolation(p, " - WRONG ROW");
    if (now < bank.nextWrite) {
      TimedLine() << "ERROR - Received " << p << " in Vault " << id << " - TOO EARLY (next is "
                  << bank.nextWrite << ")" << std::endl;
    }
    break;
  default: break;
  }
}

void quor2_vault::ApplyActivate(const DRAMBusPacket& p, const sc_time& now) {
  DramActivate<DramUpdate::Exact>(BankAt(), p, now, dram);
}

void quor2_vault::ApplyPrecharge(const DRAMBusPacket& p, const sc_time& now) {
  DramPrecharge<DramUpdate::Exact>(BankAt(), p, now, dram);
  banks[p.partition][p.bank]->stateChangeEvent.notify(cfg.tRP);
}

void quor2_vault::ApplyRefresh(const DRAMBusPacket& p, const sc_time& now) {
  quor2_bank& bank = *banks[p.partition][p.bank];
  bank.lastCommand = REFRESH;
  bank.currentBankState = REFRESHING;
  bank.nextAct = now + cfg.tRC;
  bank.stateChangeEvent.notify(cfg.tRC);
}

void quor2_vault::ApplyRead(const DRAMBusPacket& p, const sc_time& now) {
  DramRead<DramUpdate::Exact>(BankAt(), p, now, dram);
}

void quor2_vault::ApplyWrite(const DRAMBusPacket& p, const sc_time& now) {
  DramWrite<DramUpdate::Exact>(BankAt(), p, now, dram);
}

// Two read-data packets per column read: the first carries the read's own even
// flag, the second even = false, one core cycle later.
void quor2_vault::QueueReadData(const DRAMBusPacket& p) {
  DRAMBusPacket data = p;
  data.command = DATA;
  responseDataEvent.notify(cfg.tAA + cfg.tAC);
  readResponseQueue.push_back(data);
  data.even = false;
  responseDataEvent.notify(cfg.tAA + cfg.tAC + cfg.CORE_CLK);
  readResponseQueue.push_back(data);
}

} // namespace Orvane::Internal::QUOR2
