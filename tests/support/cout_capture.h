// Collects everything written to std::cout while alive, so a test can compare
// the model's whole output lines.
#ifndef QUORSIM_TEST_COUT_CAPTURE_H
#define QUORSIM_TEST_COUT_CAPTURE_H

#include <iostream>
#include <sstream>
#include <string>

namespace quortest {

class CoutCapture {
public:
  CoutCapture() : old(std::cout.rdbuf(buffer.rdbuf())) {}
  ~CoutCapture() { std::cout.rdbuf(old); }
  CoutCapture(const CoutCapture&) = delete;
  CoutCapture& operator=(const CoutCapture&) = delete;
  std::string str() const { return buffer.str(); }

private:
  std::ostringstream buffer;
  std::streambuf* old;
};

} // namespace quortest

#endif
