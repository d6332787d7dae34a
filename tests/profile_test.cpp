// The INI engine on real files: Windows-shaped calls, byte-exact writes, refused input,
// several writer processes and threads, writers killed mid-write, and readers that
// must see every change at once however it was made.
#include "port/profile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "port/ini.h"
#include "support/child.h"
#include "support/testenv.h"

namespace {

using cslib::port::ProfileGetString;
using cslib::port::ProfileWriteString;
using cstest::Child;
using cstest::ReadFile;
using cstest::WriteFile;

class ProfileTest : public cstest::WinDirTest {
 protected:
  std::string Get(const char* section, const char* key, const char* def = "",
                  std::size_t size = 256) {
    std::string buffer(size + 1, '\x7f');
    const std::size_t n = ProfileGetString(section, key, def, buffer.data(), size, file_.c_str());
    return buffer.substr(0, n);
  }
  bool Put(const char* section, const char* key, const char* value) {
    return ProfileWriteString(section, key, value, file_.c_str());
  }
  std::vector<std::string> DirEntries() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(WinDir()))
      names.push_back(e.path().filename().string());
    return names;
  }
  // Lets the file grow older than a timestamp tick, so the engine trusts its cached copy
  // and only the change checks stand between a reader and a stale value.
  static void AgeFile() { std::this_thread::sleep_for(std::chrono::milliseconds(80)); }

  std::string file_ = WinFile("test.ini");
};

TEST_F(ProfileTest, ReadsThroughTheWindowsShapedCall) {
  WriteFile(file_, "[Sec]\nb=2\na=1\n[Other]\n");
  EXPECT_EQ(Get("sec", "A"), "1");
  EXPECT_EQ(Get("sec", "missing", "def  "), "def");  // trailing spaces of a default go
  EXPECT_EQ(Get("sec", "missing", "  def"), "  def");
  EXPECT_EQ(Get("sec", "missing", nullptr), "");
  EXPECT_EQ(Get("sec", nullptr), std::string("b\0a\0", 4));
  EXPECT_EQ(Get("other", nullptr, "dflt"), "dflt");  // empty section: the default
  EXPECT_EQ(Get(nullptr, nullptr), std::string("Sec\0Other\0", 10));
  EXPECT_EQ(Get("sec", "a", "", 0), "");
  file_ = WinFile("absent.ini");
  EXPECT_EQ(Get("sec", "a", "none"), "none");
  EXPECT_EQ(Get(nullptr, nullptr), "");
}

TEST_F(ProfileTest, BareNamesAndWinIniLiveInTheWindowsDirectory) {
  ASSERT_TRUE(ProfileWriteString("s", "k", "bare", "bare.ini"));
  ASSERT_TRUE(ProfileWriteString("s", "k", "win", nullptr));
  EXPECT_EQ(ReadFile(WinFile("bare.ini")), "[s]\nk=bare\n");
  EXPECT_EQ(ReadFile(WinFile("WIN.INI")), "[s]\nk=win\n");
  char buffer[16];
  EXPECT_EQ(ProfileGetString("s", "k", "", buffer, sizeof buffer, nullptr), 3u);
  EXPECT_STREQ(buffer, "win");
}

TEST_F(ProfileTest, WritesKeepEveryOtherByte) {
  const std::string crlf = "; settings\r\n\r\n[A]\r\n  x = 1 ; keep\r\nodd line\r\n\r\n[B]\r\ny=2";
  WriteFile(file_, crlf);
  ASSERT_TRUE(Put("a", "X", "9"));
  ASSERT_TRUE(Put("a", "new", "n"));
  ASSERT_TRUE(Put("b", "z", "3"));
  EXPECT_EQ(ReadFile(file_),
            "; settings\r\n\r\n[A]\r\n  x = 9\r\nodd line\r\nnew=n\r\n\r\n[B]\r\ny=2\r\nz=3\r\n");
  ASSERT_TRUE(Put("a", "new", nullptr));
  ASSERT_TRUE(Put("B", nullptr, nullptr));
  EXPECT_EQ(ReadFile(file_), "; settings\r\n\r\n[A]\r\n  x = 9\r\nodd line\r\n\r\n");

  const std::string lf = "[s]\nk=v\n# not a comment\n";
  WriteFile(file_, lf);
  ASSERT_TRUE(Put("t", "k", "v"));
  EXPECT_EQ(ReadFile(file_), lf + "[t]\nk=v\n");
}

TEST_F(ProfileTest, WriteThatChangesNothingLeavesTheFileAlone) {
  WriteFile(file_, "[s]\nk=v\n");
  struct stat before;
  ASSERT_EQ(stat(file_.c_str(), &before), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(Put("s", "k", "v"));
  EXPECT_TRUE(Put("s", "gone", nullptr));
  EXPECT_TRUE(Put("gone", nullptr, nullptr));
  struct stat after;
  ASSERT_EQ(stat(file_.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
}

// The file a write puts in place keeps the permissions of the one it replaces, also
// when they changed after the engine last read the file, and when its copy is trusted.
TEST_F(ProfileTest, WritesKeepTheFilesMode) {
  const auto mode = [this] {
    struct stat st;
    return ::stat(file_.c_str(), &st) == 0 ? st.st_mode & 07777 : 0u;
  };
  WriteFile(file_, "[s]\nk=1\n");
  ASSERT_EQ(::chmod(file_.c_str(), 0600), 0);
  ASSERT_TRUE(Put("s", "k", "2"));
  EXPECT_EQ(mode(), 0600u);
  AgeFile();
  EXPECT_EQ(Get("s", "k"), "2");
  ASSERT_EQ(::chmod(file_.c_str(), 0640), 0);
  ASSERT_TRUE(Put("s", "k", "3"));
  EXPECT_EQ(mode(), 0640u);
  AgeFile();
  EXPECT_EQ(Get("s", "k"), "3");
  ASSERT_TRUE(Put("s", "k", "4"));
  EXPECT_EQ(mode(), 0640u);
}

TEST_F(ProfileTest, RefusedInputWritesNothing) {
  WriteFile(file_, "[s]\nk=v\n");
  const struct {
    const char *section, *key, *value;
  } cases[] = {{"s", "k", "a\nb"}, {"s", "k", "a\r"},  {"s", "a=b", "v"},
               {"s", "[k", "v"},   {"s", ";k", "v"},   {"s", "", "v"},
               {"a]b", "k", "v"},  {"a\nb", "k", "v"}, {"", "k", "v"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.section) + "/" + c.key + "/" + c.value);
    EXPECT_FALSE(Put(c.section, c.key, c.value));
    EXPECT_EQ(ReadFile(file_), "[s]\nk=v\n");
  }
  file_ = WinFile("never.ini");
  EXPECT_FALSE(Put("s", "k", "a\nb"));
  EXPECT_FALSE(cstest::FileExists(file_));
}

TEST_F(ProfileTest, DirectoriesAreCreatedButDeletesCreateNothing) {
  EXPECT_TRUE(Put("s", "k", nullptr));
  EXPECT_TRUE(Put("s", nullptr, nullptr));
  EXPECT_TRUE(ProfileWriteString("s", "k", nullptr, (WinDir() + "/no/such/dir.ini").c_str()));
  EXPECT_TRUE(DirEntries().empty());

  const std::string deep = WinDir() + "/a/b/c.ini";
  ASSERT_TRUE(ProfileWriteString("s", "k", "v", deep.c_str()));
  EXPECT_EQ(ReadFile(deep), "[s]\nk=v\n");
}

TEST_F(ProfileTest, FailuresAreReported) {
  // A path whose directory is a file, and a path that is a directory.
  WriteFile(WinFile("plain"), "x");
  EXPECT_FALSE(ProfileWriteString("s", "k", "v", (WinDir() + "/plain/x.ini").c_str()));
  EXPECT_FALSE(ProfileWriteString("s", "k", "v", (WinDir() + "/").c_str()));
  if (geteuid() != 0) {  // root writes anywhere
    WriteFile(file_, "[s]\nk=v\n");
    chmod(WinDir().c_str(), 0555);
    EXPECT_FALSE(Put("s", "k", "w"));
    chmod(WinDir().c_str(), 0755);
    EXPECT_EQ(ReadFile(file_), "[s]\nk=v\n");
  }
}

TEST_F(ProfileTest, ConcurrentWritersInProcessesAndThreadsLoseNothing) {
  constexpr int kProcesses = 4, kThreads = 2, kKeys = 15;
  WriteFile(file_, "; shared\n[s]\n");
  std::vector<std::unique_ptr<Child>> children;
  for (int p = 0; p < kProcesses; ++p) {
    children.push_back(std::make_unique<Child>([&, p] {
      std::vector<std::thread> threads;
      int failures = 0;
      std::mutex m;
      for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
          for (int k = 0; k < kKeys; ++k) {
            const std::string key =
                "p" + std::to_string(p) + "t" + std::to_string(t) + "k" + std::to_string(k);
            if (!Put(k % 2 ? "s" : "other", key.c_str(), key.c_str())) {
              std::lock_guard<std::mutex> g(m);
              ++failures;
            }
          }
        });
      for (auto& th : threads) th.join();
      return failures;
    }));
  }
  for (auto& c : children) EXPECT_EQ(c->Wait(), 0);
  for (int p = 0; p < kProcesses; ++p)
    for (int t = 0; t < kThreads; ++t)
      for (int k = 0; k < kKeys; ++k) {
        const std::string key =
            "p" + std::to_string(p) + "t" + std::to_string(t) + "k" + std::to_string(k);
        EXPECT_EQ(Get(k % 2 ? "s" : "other", key.c_str()), key);
      }
  EXPECT_EQ(ReadFile(file_).rfind("; shared\n[s]\n", 0), 0u);
}

TEST_F(ProfileTest, WriterKilledAtAnyMomentLeavesAWholeFile) {
  // A file large enough that writing it takes a while, so kills land mid-write.
  std::string fixture = "[keep]\n";
  for (int i = 0; i < 4000; ++i) fixture += "entry" + std::to_string(i) + "=value\n";
  fixture += "[s]\nk=old\n";
  WriteFile(file_, fixture);
  std::mt19937 random(12345);
  for (int round = 0; round < 25; ++round) {
    Child writer([&] {
      for (int i = 0;; ++i)
        if (!Put("s", "k", i % 2 ? "old" : "new-value-longer")) return 1;
    });
    std::this_thread::sleep_for(std::chrono::microseconds(200 + random() % 3000));
    writer.Kill(SIGKILL);
    ASSERT_EQ(writer.Wait(), 128 + SIGKILL);
    const std::string content = ReadFile(file_);
    ASSERT_TRUE(content == fixture ||
                content == fixture.substr(0, fixture.size() - 4) + "new-value-longer\n")
        << "round " << round << ": " << content.size() << " bytes";
  }
  // The lock died with the writer: the next write goes through.
  EXPECT_TRUE(Put("s", "after", "1"));
  EXPECT_EQ(Get("s", "after"), "1");
}

TEST_F(ProfileTest, ReaderSeesAnotherProcesssWriteAtOnce) {
  WriteFile(file_, "[s]\nk=aaaa\n");
  AgeFile();
  ASSERT_EQ(Get("s", "k"), "aaaa");
  for (const char* value : {"bbbb", "cccc", "dddd"}) {  // same size, one after the other
    Child writer([&] { return Put("s", "k", value) ? 0 : 1; });
    ASSERT_EQ(writer.Wait(), 0);
    EXPECT_EQ(Get("s", "k"), value);
  }
}

TEST_F(ProfileTest, ReaderSeesOutsideEditsAtOnce) {
  // Each edit comes right after a read, inside one timestamp tick, and keeps the size.
  WriteFile(file_, "[s]\nk=aaaa\n");
  ASSERT_EQ(Get("s", "k"), "aaaa");
  {  // edited in place, as a text editor that overwrites its file does
    const int fd = open(file_.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, "bbbb", 4, 6), 4);
    close(fd);
  }
  EXPECT_EQ(Get("s", "k"), "bbbb");
  // Replaced by a rename, as editors that write a new file do.
  WriteFile(WinFile("edit.tmp"), "[s]\nk=cccc\n");
  ASSERT_EQ(rename(WinFile("edit.tmp").c_str(), file_.c_str()), 0);
  EXPECT_EQ(Get("s", "k"), "cccc");
  // And the same once the cached copy is old enough to be trusted.
  AgeFile();
  EXPECT_EQ(Get("s", "k"), "cccc");
  WriteFile(file_, "[s]\nk=dddd\n");
  EXPECT_EQ(Get("s", "k"), "dddd");
  std::filesystem::remove(file_);
  EXPECT_EQ(Get("s", "k", "gone"), "gone");
}

TEST_F(ProfileTest, ForkedChildDoesNotTakeTheParentsChangeNotices) {
  WriteFile(file_, "[s]\nk=aaaa\n");
  AgeFile();
  ASSERT_EQ(Get("s", "k"), "aaaa");
  WriteFile(file_, "[s]\nk=bbbb\n");  // an outside edit the parent has not looked at yet
  Child reader([&] { return Get("s", "k") == "bbbb" ? 0 : 1; });
  ASSERT_EQ(reader.Wait(), 0);
  EXPECT_EQ(Get("s", "k"), "bbbb");
}

TEST_F(ProfileTest, ReaderSeesADirectoryOnThePathReplaced) {
  file_ = WinDir() + "/a/b/test.ini";
  WriteFile(file_, "[s]\nk=aaaa\n");
  AgeFile();
  ASSERT_EQ(Get("s", "k"), "aaaa");
  std::filesystem::rename(WinDir() + "/a", WinDir() + "/old");
  WriteFile(file_, "[s]\nk=bbbb\n");
  EXPECT_EQ(Get("s", "k"), "bbbb");
}

TEST_F(ProfileTest, UnwatchedDirectoryIsCheckedThroughTheFile) {
  // A relative path is never watched (it moves with the working directory).
  const std::filesystem::path old_cwd = std::filesystem::current_path();
  std::filesystem::current_path(WinDir());
  file_ = "rel/test.ini";
  WriteFile(file_, "[s]\nk=aaaa\n");
  AgeFile();
  EXPECT_EQ(Get("s", "k"), "aaaa");
  WriteFile(file_, "[s]\nk=bbbb\n");
  EXPECT_EQ(Get("s", "k"), "bbbb");
  std::filesystem::current_path(old_cwd);
}

}  // namespace
