// Collects everything written to std::cout while alive, so a test can compare
// the model's whole output lines.
#ifndef QUORSIM_TEST_COUT_CAPTURE_H
#define QUORSIM_TEST_COUT_CAPTURE_H

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace quortest {

// With passOn, the text goes on to the real stream when the capture ends, so a
// death-test expectation still sees it.
class CoutCapture {
public:
  explicit CoutCapture(bool passOn = false)
      : passOn(passOn), old(std::cout.rdbuf(buffer.rdbuf())) {}
  ~CoutCapture() {
    std::cout.rdbuf(old);
    if (passOn) std::cout << buffer.str() << std::flush;
  }
  CoutCapture(const CoutCapture&) = delete;
  CoutCapture& operator=(const CoutCapture&) = delete;
  std::string str() const { return buffer.str(); }
  std::string Text() const { return buffer.str(); }
  // The captured text split into lines (without their ends).
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream in(buffer.str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

private:
  std::ostringstream buffer;
  bool passOn;
  std::streambuf* old;
};

} // namespace quortest

#endif
