// A scratch Windows directory for a benchmark: made under the system's temporary
// directory, set as CSLIB_WINDIR (with no OS family) for the run, removed at the end.
#ifndef CSLIB_BENCH_SCRATCH_WINDIR_H
#define CSLIB_BENCH_SCRATCH_WINDIR_H

#include <stdlib.h>

#include <filesystem>
#include <string>

class ScratchWindir {
 public:
  ScratchWindir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "cslib-bench-XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
    setenv("CSLIB_WINDIR", path_.c_str(), 1);
    unsetenv("CSLIB_OS_FAMILY");
  }
  ~ScratchWindir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchWindir(const ScratchWindir&) = delete;
  ScratchWindir& operator=(const ScratchWindir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

#endif  // CSLIB_BENCH_SCRATCH_WINDIR_H
