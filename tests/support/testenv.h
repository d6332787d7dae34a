// Test fixtures shared by the test programs: environment switches, scratch Windows
// directories, pages of chosen protection and unique names for named objects.
#ifndef CSLIB_TESTS_SUPPORT_TESTENV_H
#define CSLIB_TESTS_SUPPORT_TESTENV_H

#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace cstest {

// Sets (or, with nullptr, unsets) an environment variable for the scope and puts
// the old value back afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// A fresh directory under $TMPDIR (or /tmp), removed with its contents at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);  // empty when missing
bool FileExists(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

// Each test runs with its own empty Windows directory and no OS family set.
class WinDirTest : public ::testing::Test {
 protected:
  WinDirTest();
  std::string WinFile(const std::string& name) const { return dir_.File(name); }
  const std::string& WinDir() const { return dir_.path(); }

 private:
  TempDir dir_;
  ScopedEnv windir_;
  ScopedEnv family_;
};

// Whole pages mapped with the given protection (PROT_* flags), unmapped at the end.
class MappedPages {
 public:
  MappedPages(std::size_t pages, int protection);
  ~MappedPages();
  MappedPages(const MappedPages&) = delete;
  MappedPages& operator=(const MappedPages&) = delete;
  char* data() const { return data_; }
  std::size_t size() const { return size_; }
  static std::size_t PageSize();

 private:
  char* data_;
  std::size_t size_;
};

// A name no other test process uses at the same time: prefix, process id, counter.
std::string UniqueName(const std::string& prefix);

// The files of the named-object directory whose names hold text.
std::vector<std::string> SharedObjectFiles(const std::string& text);

}  // namespace cstest

#endif  // CSLIB_TESTS_SUPPORT_TESTENV_H
