#include "quor2_rest_check.h"

namespace Orvane::Internal::QUOR2 {

void RestCheck::Expect(const std::string& counter, int64_t value, int64_t expected) {
  if (value == expected) return;
  failures.push_back("ERROR - " + counter + " is " + std::to_string(value) +
                     " at the end of the run, expected " + std::to_string(expected));
}

} // namespace Orvane::Internal::QUOR2
