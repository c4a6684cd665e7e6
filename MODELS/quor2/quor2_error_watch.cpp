#include "quor2_error_watch.h"

namespace Orvane::Internal::QUOR2 {

namespace {
// Long enough for the longest time prefix before "ERROR".
constexpr std::size_t kLineStartKept = 64;

bool StartsWith(const std::string& s, std::size_t at, const char* prefix) {
  return s.compare(at, std::char_traits<char>::length(prefix), prefix) == 0;
}
} // namespace

// An error line, whatever the spacing after its prefix: "ERROR", "== ERROR",
// "==ERROR" or "=[<time>]= ERROR". A line that starts with a blank is not one.
bool IsErrorLine(const std::string& line) {
  std::size_t at = 0;
  if (StartsWith(line, 0, "=[")) {
    const std::size_t close = line.find("]=");
    if (close == std::string::npos) return false;
    at = line.find_first_not_of(" \t", close + 2);
  } else if (StartsWith(line, 0, "=")) {
    at = line.find_first_not_of(" \t", line.find_first_not_of('='));
  }
  return at != std::string::npos && StartsWith(line, at, "ERROR");
}

ErrorLineWatch::ErrorLineWatch(std::ostream& stream) : stream(stream), target(stream.rdbuf()) {
  stream.rdbuf(this);
}

ErrorLineWatch::~ErrorLineWatch() {
  stream.flush();
  stream.rdbuf(target);
}

void ErrorLineWatch::Scan(const char* s, std::streamsize n) {
  for (std::streamsize i = 0; i < n; ++i) {
    if (s[i] == '\n') {
      if (IsErrorLine(lineStart)) ++errorLines;
      lineStart.clear();
    } else if (lineStart.size() < kLineStartKept) {
      lineStart.push_back(s[i]);
    }
  }
}

ErrorLineWatch::int_type ErrorLineWatch::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  const char ch = traits_type::to_char_type(c);
  Scan(&ch, 1);
  return target->sputc(ch);
}

std::streamsize ErrorLineWatch::xsputn(const char* s, std::streamsize n) {
  Scan(s, n);
  return target->sputn(s, n);
}

int ErrorLineWatch::sync() { return target->pubsync(); }

} // namespace Orvane::Internal::QUOR2
