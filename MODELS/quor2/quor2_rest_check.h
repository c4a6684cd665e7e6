// Conservation check of a run that drained: every tag, token and credit back at
// its starting value and no flit left in any buffer. Each module adds what it
// owns; the entry prints the mismatches.
#ifndef QUOR2_REST_CHECK_H
#define QUOR2_REST_CHECK_H

#include <cstdint>
#include <string>
#include <vector>

namespace Orvane::Internal::QUOR2 {

class RestCheck {
public:
  // `counter` names the owner and the counter ("cube.quad0.link.tokenCount").
  void Expect(const std::string& counter, int64_t value, int64_t expected);
  void ExpectEmpty(const std::string& buffer, std::size_t entries) {
    Expect(buffer, static_cast<int64_t>(entries), 0);
  }
  // Every value of a counter vector against its starting values.
  template <typename T>
  void ExpectAll(const std::string& counter, const std::vector<T>& values,
                 const std::vector<T>& expected) {
    for (std::size_t i = 0; i < values.size() && i < expected.size(); ++i)
      Expect(counter + "[" + std::to_string(i) + "]", static_cast<int64_t>(values[i]),
             static_cast<int64_t>(expected[i]));
  }
  // Every buffer of a vector of buffers empty.
  template <typename Buffers>
  void ExpectAllEmpty(const std::string& buffer, const Buffers& buffers) {
    for (std::size_t i = 0; i < buffers.size(); ++i)
      ExpectEmpty(buffer + "[" + std::to_string(i) + "]", buffers[i].size());
  }

  bool Clean() const { return failures.empty(); }
  // One "ERROR - " line per mismatch, without line ends.
  const std::vector<std::string>& Failures() const { return failures; }

private:
  std::vector<std::string> failures;
};

} // namespace Orvane::Internal::QUOR2

#endif
