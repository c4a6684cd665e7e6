#include "quor2_offered_load.h"

#include <cmath>
#include <sstream>

namespace Orvane::Internal::QUOR2 {

namespace {

double MeanSize(std::initializer_list<unsigned> percentages) {
  double sum = 0;
  unsigned size = 16;
  for (unsigned p : percentages) {
    sum += p * static_cast<double>(size);
    size += 16;
  }
  return sum / 100.0;
}

std::string Text(double v) {
  std::ostringstream os;
  os << v;
  return os.str();
}

// Distinguishes this stream's seed from any other use of the same run seed.
constexpr unsigned kStreamTag = 0x4c4f4144;

} // namespace

double MeanRequestBytes(const Config& cfg) {
  const double rd = MeanSize({cfg.PERCENTAGE_RD_16B, cfg.PERCENTAGE_RD_32B, cfg.PERCENTAGE_RD_48B,
                              cfg.PERCENTAGE_RD_64B, cfg.PERCENTAGE_RD_80B, cfg.PERCENTAGE_RD_96B,
                              cfg.PERCENTAGE_RD_112B, cfg.PERCENTAGE_RD_128B});
  const double wr = MeanSize({cfg.PERCENTAGE_WR_16B, cfg.PERCENTAGE_WR_32B, cfg.PERCENTAGE_WR_48B,
                              cfg.PERCENTAGE_WR_64B, cfg.PERCENTAGE_WR_80B, cfg.PERCENTAGE_WR_96B,
                              cfg.PERCENTAGE_WR_112B, cfg.PERCENTAGE_WR_128B});
  const double read = cfg.PERCENTAGE_READ / 100.0;
  return read * rd + (1.0 - read) * wr;
}

std::vector<std::string> LoadKeyErrors(const Config& cfg) {
  std::vector<std::string> lines;
  const double rate = cfg.INJECTION_RATE;
  if (!std::isfinite(rate) || rate < 0) {
    lines.push_back("ERROR - INJECTION_RATE must be at least 0 GB/s (0: closed loop): " +
                    Text(rate) + " is not an offered load");
  } else if (rate > 0) {
    // Below one kernel tick between arrivals the times could not be told apart.
    const double most = MeanRequestBytes(cfg) * 1000.0;
    if (most > 0 && rate > most)
      lines.push_back("ERROR - INJECTION_RATE must be at most " + Text(most) +
                      " GB/s: the mean time between requests would be below 1 ps");
  }
  if (cfg.INJECTION_PROCESS != "fixed" && cfg.INJECTION_PROCESS != "poisson")
    lines.push_back("ERROR - INJECTION_PROCESS must be fixed or poisson, not '" +
                    cfg.INJECTION_PROCESS + "'");
  if (cfg.TRACE_FORMAT != "auto" && cfg.TRACE_FORMAT != "model" && cfg.TRACE_FORMAT != "address")
    lines.push_back("ERROR - TRACE_FORMAT must be auto, model or address, not '" +
                    cfg.TRACE_FORMAT + "'");
  if (cfg.TRACE_TIMING != "timed" && cfg.TRACE_TIMING != "as_fast_as_possible")
    lines.push_back("ERROR - TRACE_TIMING must be timed or as_fast_as_possible, not '" +
                    cfg.TRACE_TIMING + "'");
  return lines;
}

ArrivalStream::ArrivalStream(const Config& cfg, unsigned sourceId)
    : meanGapPs(cfg.INJECTION_RATE > 0 ? MeanRequestBytes(cfg) / cfg.INJECTION_RATE * 1000.0 : 0),
      poisson(cfg.INJECTION_PROCESS == "poisson") {
  std::seed_seq seed{cfg.RANDOM_SEED, sourceId, kStreamTag};
  random.seed(seed);
}

uint64_t ArrivalStream::NextPs() {
  ++count;
  if (!poisson) return static_cast<uint64_t>(std::llround(meanGapPs * static_cast<double>(count)));
  // 53 random bits, centred in their interval: u lies in (0, 1), never 0.
  const double u = (static_cast<double>(random() >> 11) + 0.5) * 0x1.0p-53;
  clockPs += -meanGapPs * std::log(u);
  return static_cast<uint64_t>(std::llround(clockPs));
}

} // namespace Orvane::Internal::QUOR2
