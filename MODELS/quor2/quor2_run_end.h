// How a testbench run ends: the kernel runs until SIM_TIME or until every
// source is done; after the report, a drained run is left to settle and then
// checked for lost tags, tokens, credits and flits, and the exit status says
// whether anything went wrong.
#ifndef QUOR2_RUN_END_H
#define QUOR2_RUN_END_H

#include "quor2_utils.h"

#include <systemc>

#include <vector>

namespace Orvane::Internal::QUOR2 {

class kvl_monitor;
class quor2_quor_controller;
class quor2_cube;

// Something that looks at the run between slices (time series, progress). It
// only reads the model, so observing a run leaves its results unchanged.
class RunObserver {
public:
  virtual ~RunObserver() = default;
  // The next time at which a slice must end for this observer; the run's limit
  // or later when any time will do.
  virtual sc_core::sc_time NextStop() const = 0;
  // Called after every slice, at the slice's end.
  virtual void AfterSlice(const sc_core::sc_time& now) = 0;
  // Called once when the run is over, at its end.
  virtual void RunEnded(const sc_core::sc_time& now) = 0;
};

// Runs the kernel for `limit`. Returns true when the monitor ended the run
// because every source was done, announced as a stopped run is. The kernel
// runs in slices, so an interrupt (see CatchInterrupts) ends the run early at a
// slice's end; the slices leave the order of events unchanged.
// Every observer sees every slice's end and the run's end.
bool RunUntilSourcesDone(const sc_core::sc_time& limit, const kvl_monitor& monitor,
                         const std::vector<RunObserver*>& observers = {});

// From now on SIGINT and SIGTERM stop the run at the next safe point instead of
// killing the process; a second one kills it as usual.
void CatchInterrupts();
// Back to the default: once the run is over, a signal ends the process at once.
void ReleaseInterrupts();
// The signal that interrupted the run, 0 when none did.
int InterruptSignal();
// "SIGINT", "SIGTERM" or "" for no signal.
const char* SignalName(int signal);
// The exit status of a run ended by `signal`: 128 + its number (130, 143).
inline int InterruptedExitStatus(int signal) { return 128 + signal; }

// Lets the requests and credits still in flight after the sources finished
// settle, then checks that everything is home. Prints an "ERROR - " line per
// counter that is not and returns false then.
bool SettleAndCheckAtRest(const Config& cfg, const quor2_quor_controller& controller,
                          const quor2_cube& cube);

// One line on standard error when a run stopped at its time limit with
// requests still awaiting their responses.
void ReportOutstanding(const quor2_quor_controller& controller, const Config& cfg);

// Exit status of a run that printed `errorLines` error lines, whose
// conservation check came out `atRest` and whose report file, if asked for,
// was `reportWritten`.
inline int RunExitStatus(std::size_t errorLines, bool atRest, bool reportWritten) {
  return errorLines == 0 && atRest && reportWritten ? 0 : 1;
}

} // namespace Orvane::Internal::QUOR2

#endif
