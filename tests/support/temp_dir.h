// A fresh temporary directory for files a test writes, removed afterwards.
#ifndef QUORSIM_TEST_TEMP_DIR_H
#define QUORSIM_TEST_TEMP_DIR_H

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace quortest {

class TempDir {
public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quorsim-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    path = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // Writes content to name inside the directory, byte for byte; returns its path.
  std::string Write(const std::string& name, const std::string& content) const {
    const std::string file = (std::filesystem::path(path) / name).string();
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << content;
    return file;
  }
  std::string File(const std::string& name) const {
    return (std::filesystem::path(path) / name).string();
  }

  std::string path;
};

} // namespace quortest

#endif
