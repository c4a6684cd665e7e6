// Latency distribution of fixed size: log-linear buckets (HdrHistogram-like)
// over unsigned 64-bit values, so a run of any length costs the same memory.
// Values below 2^(kSubBits + 1) are kept exactly; above, each power of two is
// split into 2^kSubBits buckets, so a percentile is never more than 1/64 above
// the true value. Count, sum, min and max are exact.
#ifndef QUOR2_LATENCY_HISTOGRAM_H
#define QUOR2_LATENCY_HISTOGRAM_H

#include <array>
#include <cstdint>

namespace Orvane::Internal::QUOR2 {

class LatencyHistogram {
public:
  static constexpr unsigned kSubBits = 6;
  static constexpr unsigned kSubBuckets = 1u << kSubBits;
  static constexpr unsigned kBuckets = (64 - kSubBits + 1) * kSubBuckets;

  void Add(uint64_t value);
  void Merge(const LatencyHistogram& other);
  // The values added since `earlier`, a copy of this histogram taken before.
  // Count, sum and mean are exact; min and max to the precision of a bucket.
  LatencyHistogram Since(const LatencyHistogram& earlier) const;

  uint64_t Count() const { return count; }
  uint64_t Min() const { return count ? min : 0; }
  uint64_t Max() const { return max; }
  // Exact mean; 0 when empty.
  double Mean() const;
  // The smallest recorded bucket's highest value (clamped to [Min, Max]) below
  // which at least `percent` of the values lie; 0 when empty.
  uint64_t Percentile(double percent) const;

  // Values recorded in a bucket.
  uint64_t BucketCount(unsigned bucket) const { return buckets[bucket]; }

  // Bucket of a value, and the highest value that falls into a bucket.
  static unsigned BucketOf(uint64_t value);
  static uint64_t BucketHighest(unsigned bucket);
  static uint64_t BucketLowest(unsigned bucket);

private:
  std::array<uint64_t, kBuckets> buckets{};
  uint64_t count = 0;
  // The sum of values in ps stays far from 2^64 for any feasible run; a long
  // double keeps the mean exact enough even if it did not.
  long double sum = 0;
  uint64_t min = UINT64_MAX;
  uint64_t max = 0;
};

} // namespace Orvane::Internal::QUOR2

#endif
