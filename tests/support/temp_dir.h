#pragma once

#include <string>

namespace callsink::test {

// A fresh folder below $TMPDIR (or /tmp), removed with everything in it when
// the object goes away. Owned by the test that made it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + relative
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

  // Helpers for files inside or outside the folder.
  static std::string ReadFile(const std::string& file);
  static void WriteFile(const std::string& file, const std::string& content);
  static void MakeFolder(const std::string& folder);

 private:
  std::string path_;
};

}  // namespace callsink::test
