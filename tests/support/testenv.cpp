// Test fixtures: environment, scratch directories, mapped pages, unique names.
#include "support/testenv.h"

#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "port/named.h"

namespace cstest {

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
  if (const char* old = std::getenv(name)) old_ = old;
  if (value)
    setenv(name, value, 1);
  else
    unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
  if (old_)
    setenv(name_.c_str(), old_->c_str(), 1);
  else
    unsetenv(name_.c_str());
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/cslib-test-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool FileExists(const std::string& path) {
  return std::filesystem::exists(path);
}

void WriteFile(const std::string& path, const std::string& content) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

WinDirTest::WinDirTest()
    : windir_("CSLIB_WINDIR", dir_.path().c_str()), family_("CSLIB_OS_FAMILY", nullptr) {}

std::size_t MappedPages::PageSize() {
  return static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

MappedPages::MappedPages(std::size_t pages, int protection) : size_(pages * PageSize()) {
  void* p = mmap(nullptr, size_, protection, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::runtime_error("mmap failed");
  data_ = static_cast<char*>(p);
}

MappedPages::~MappedPages() {
  munmap(data_, size_);
}

std::string UniqueName(const std::string& prefix) {
  static std::atomic<int> counter{0};
  return prefix + std::to_string(getpid()) + "_" + std::to_string(counter++);
}

std::vector<std::string> SharedObjectFiles(const std::string& text) {
  std::vector<std::string> found;
  std::error_code ignored;
  for (const auto& entry :
       std::filesystem::directory_iterator(cslib::port::SharedObjectDirectory(), ignored)) {
    const std::string name = entry.path().filename().string();
    if (name.find(text) != std::string::npos) found.push_back(name);
  }
  return found;
}

}  // namespace cstest
