// Watches standard output for error lines, so that a run that printed one and
// went on can still end with a non-zero status. Installed by the program
// entries around the whole run; output passes through unchanged.
#ifndef QUOR2_ERROR_WATCH_H
#define QUOR2_ERROR_WATCH_H

#include <cstddef>
#include <ostream>
#include <streambuf>
#include <string>

namespace Orvane::Internal::QUOR2 {

// True for a message line that reports an error: "ERROR" at the start, after
// "== " or after a "=[<time>]= " prefix.
bool IsErrorLine(const std::string& line);

class ErrorLineWatch : public std::streambuf {
public:
  // Puts itself between `stream` and its buffer until destroyed.
  explicit ErrorLineWatch(std::ostream& stream);
  ~ErrorLineWatch() override;
  ErrorLineWatch(const ErrorLineWatch&) = delete;
  ErrorLineWatch& operator=(const ErrorLineWatch&) = delete;

  std::size_t ErrorLines() const { return errorLines; }

protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;
  int sync() override;

private:
  std::ostream& stream;
  std::streambuf* target;
  std::string lineStart; // the first characters of the current line
  std::size_t errorLines = 0;

  void Scan(const char* s, std::streamsize n);
};

} // namespace Orvane::Internal::QUOR2

#endif
