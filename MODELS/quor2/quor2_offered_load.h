// Offered load of an open-loop source: the arrival times of its requests, and
// the checks of the keys that set them. Plain code, no kernel: the sources ask
// for the next arrival and send a request once the clock has reached it.
#ifndef QUOR2_OFFERED_LOAD_H
#define QUOR2_OFFERED_LOAD_H

#include "quor2_utils.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace Orvane::Internal::QUOR2 {

// Mean bytes of a generator's request: the PERCENTAGE_READ share of the mean
// read size, the rest of the mean write size (PERCENTAGE_RD_* / _WR_*).
double MeanRequestBytes(const Config& cfg);

// The "ERROR - " lines of the load and trace keys (INJECTION_RATE,
// INJECTION_PROCESS, TRACE_FORMAT, TRACE_TIMING); ValidationErrors adds them.
std::vector<std::string> LoadKeyErrors(const Config& cfg);

// The arrival times, in ps from time 0, of one source's requests at
// INJECTION_RATE: a fixed gap of mean bytes / rate, or exponential gaps of that
// mean drawn from a stream of the source's own (seeded by RANDOM_SEED and the
// source's id), so that no other random draw of the run moves.
class ArrivalStream {
public:
  ArrivalStream(const Config& cfg, unsigned sourceId);
  // The arrival after the last one handed out (the first: one gap after 0).
  uint64_t NextPs();
  double MeanGapPs() const { return meanGapPs; }

private:
  double meanGapPs;
  bool poisson;
  double clockPs = 0;
  uint64_t count = 0;
  std::mt19937_64 random;
};

} // namespace Orvane::Internal::QUOR2

#endif
