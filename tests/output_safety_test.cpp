// The output file survives every way a run can end badly: a full disk, a
// device that refuses writes, a signal in the middle of writing. A replaced
// file keeps its mode, and a symbolic link keeps pointing to it.

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/test_support.h"

namespace mek::test {
namespace {

namespace fs = std::filesystem;

// The names in a folder, to see that no temporary file was left behind.
std::string listing(const fs::path& folder) {
  std::string names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names += entry.path().filename().string() + " ";
  }
  return names;
}

TEST(OutputSafetyTest, FailedWritesLeaveTheOldOutput) {
  ScratchDir dir;
  const Bytes big(3 << 20, 'a');
  writeFile(dir / "big.txt", big);
  writeFile(dir / "out.txt", std::string("precious"));
  // A device that is always full, named as the output and as standard output.
  for (const char* arguments : {"-iutf8 big.txt -outf8 /dev/full", "-iutf8 big.txt -outf8"}) {
    Process p = runMek(dir, arguments, "> /dev/full");
    EXPECT_EQ(p.status, 1) << arguments;
    EXPECT_EQ(p.err, "cannot write output file\n") << arguments;
  }
  // A file system that fills up: a small tmpfs, which only root may mount.
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  const fs::path small = dir / "small";
  fs::create_directory(small);
  if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=1m") != 0) {
    GTEST_SKIP() << "no tmpfs can be mounted here";
  }
  writeFile(small / "out.txt", std::string("precious"));
  const std::string before = listing(small);
  Process p = runMek(dir, "-iutf8 big.txt -outf8 small/out.txt");
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.err, "cannot write output file\n");
  EXPECT_EQ(readFile(small / "out.txt"), Bytes({'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));
  EXPECT_EQ(listing(small), before);
  // In place, too: the input is the file that cannot be replaced.
  writeFile(small / "in.txt", Bytes(600 << 10, 'b'));
  p = runMek(dir, "-iutf8 small/in.txt -outf16_le small/in.txt");
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(readFile(small / "in.txt"), Bytes(600 << 10, 'b'));
  umount(small.c_str());
}

TEST(OutputSafetyTest, SignalsLeaveTheOldOutput) {
  ScratchDir dir;
  writeFile(dir / "out.txt", std::string("precious"));
  // The input stalls after 8 MB, so the signal finds the run writing.
  for (const char* signal : {"INT", "TERM", "HUP"}) {
    const std::string command = "cd " + shellQuote(dir.path().string()) +
                                " && { (head -c 8000000 /dev/zero; sleep 2) | " +
                                shellQuote(MEK_EXECUTABLE) + " -iutf8 -outf16_le out.txt & " +
                                "sleep 1; kill -" + signal + " $!; wait $!; } 2>/dev/null";
    const int raw = std::system(command.c_str());
    // The shell reports a run ended by a signal as 128 + its number.
    EXPECT_GT(WEXITSTATUS(raw), 128) << signal;
    EXPECT_EQ(readFile(dir / "out.txt"), Bytes({'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'})) << signal;
    EXPECT_EQ(listing(dir.path()), "out.txt ") << signal;
  }
}

TEST(OutputSafetyTest, ModeAndLinksAreKept) {
  ScratchDir dir;
  writeFile(dir / "in.txt", std::string("abc\r\n"));
  writeFile(dir / "out.txt", std::string("old"));
  fs::permissions(dir / "out.txt",
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink("out.txt", dir / "link");
  Process p = runMek(dir, "-iutf8 in.txt -outf8 link");
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_TRUE(fs::is_symlink(dir / "link"));
  EXPECT_EQ(readFile(dir / "out.txt"), Bytes({'a', 'b', 'c', '\n'}));
  EXPECT_EQ(fs::status(dir / "out.txt").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  // A new file gets the mode that the file mode mask leaves.
  p = runMek(dir, "-iutf8 in.txt -outf8 new.txt", "; umask");
  struct stat status;
  ASSERT_EQ(stat((dir / "new.txt").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0666 & ~std::stoul(p.out, nullptr, 8)) << p.out;
  EXPECT_EQ(listing(dir.path()).size(), std::string("in.txt out.txt link new.txt ").size());
}

}  // namespace
}  // namespace mek::test

namespace mek::test {
namespace {

// --in-place with a good, a bad and a missing file: the good one converts,
// the bad one keeps its contents, every failure is told under its name, and
// the status tells that something failed.
TEST(OutputSafetyTest, InPlaceConvertsEachFileOnItsOwn) {
  ScratchDir dir;
  writeFile(dir / "good.txt", hex("82 a0 0d 0a"));  // あ CR LF in Shift_JIS
  writeFile(dir / "bad.txt", hex("82 a0 81 20 41"));
  Process p = runMek(dir, "--in-place -isjis -outf8 good.txt bad.txt missing.txt");
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.err, "bad.txt: cannot convert bytes\nmissing.txt: cannot open input file\n");
  EXPECT_EQ(readFile(dir / "good.txt"), hex("e3 81 82 0a"));
  EXPECT_EQ(readFile(dir / "bad.txt"), hex("82 a0 81 20 41"));
  EXPECT_FALSE(std::filesystem::exists(dir / "missing.txt"));
  // Each file is detected on its own.
  writeFile(dir / "euc.txt", hex("a4 a2"));
  writeFile(dir / "utf16.txt", hex("ff fe 42 30"));
  p = runMek(dir, "--in-place -osjis euc.txt good.txt utf16.txt");
  EXPECT_EQ(p.status, 0) << p.err;
  for (const char* name : {"euc.txt", "utf16.txt"}) EXPECT_EQ(readFile(dir / name), hex("82 a0"));
}

}  // namespace
}  // namespace mek::test
