// The output file survives every way a run can end badly: a full disk, a
// file size limit, a device that refuses writes, a signal at any moment,
// links planted by another user, targets that cannot be replaced. A
// replaced file keeps its mode, set-id bits, extended attributes and owner,
// and a symbolic link keeps pointing to it.

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "tests/test_support.h"

namespace mek::test {
namespace {

namespace fs = std::filesystem;

Bytes text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

const Bytes kPrecious = text("precious");

// The names in a folder, to see that no temporary file was left behind.
std::string listing(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  std::string all;
  for (const std::string& name : names) all += name + " ";
  return all;
}

// Root can run a command as `nobody` (uid and gid 65534) to meet the
// permission checks that do not stop root.
bool canBeNobody() {
  return geteuid() == 0 &&
         std::system("setpriv --reuid=65534 --regid=65534 --clear-groups true 2>/dev/null") == 0;
}
const char* const kAsNobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";

class OutputSafetyTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  void SetUp() override {
    writeFile(dir / "in.txt", std::string("abc\r\n"));
    writeFile(dir / "out.txt", kPrecious);
  }
  // Runs `script` and checks its status and messages (unless ended by a
  // signal, which the shell tells in its own words), and that out.txt and
  // the folder's names are as before.
  void expectKept(const std::string& script, int status, const std::string& err = "") {
    writeFile(dir / "out.txt", kPrecious);
    const std::string before = listing(dir.path());
    const Process p = runScript(dir, script);
    EXPECT_EQ(p.status, status) << script;
    if (status < 128) {
      EXPECT_EQ(p.err, err) << script;
    }
    EXPECT_EQ(readFile(dir / "out.txt"), kPrecious) << script;
    EXPECT_EQ(listing(dir.path()), before) << script;
  }
};

// The first failed write stops the run, whatever the input still holds.
TEST_F(OutputSafetyTest, WriteErrorsStopTheRunAndKeepTheOldOutput) {
  writeFile(dir / "big.txt", Bytes(3 << 20, 'a'));
  const std::string full = ": No space left on device\n";
  const std::string large = ": File too large\n";
  const std::pair<const char*, std::string> cases[] = {
      {"\"$MEK\" -iutf8 big.txt -outf8 /dev/full", "cannot write output file '/dev/full'" + full},
      {"\"$MEK\" -iutf8 big.txt -outf8 > /dev/full", "cannot write output file" + full},
      {"timeout 60 \"$MEK\" -iutf8 /dev/zero -outf8 /dev/full",
       "cannot write output file '/dev/full'" + full},
      // A file size limit makes the write fail instead of killing the run.
      {"ulimit -f 1000; \"$MEK\" -iutf8 big.txt -outf16_le out.txt",
       "cannot write output file 'out.txt'" + large},
      {"ulimit -f 1000; \"$MEK\" -iutf8 big.txt -outf16_le >> out.txt",
       "cannot write output file" + large},
  };
  for (const auto& [script, message] : cases) expectKept(script, 1, message);

  // A file system that fills up: a small tmpfs, which only root may mount.
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  const fs::path small = dir / "small";
  fs::create_directory(small);
  if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=1m") != 0) {
    GTEST_SKIP() << "no tmpfs can be mounted here";
  }
  writeFile(small / "out.txt", kPrecious);
  const std::string before = listing(small);
  Process p = runMek(dir, "-iutf8 big.txt -outf8 small/out.txt");
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.err, "cannot write output file 'small/out.txt'" + full);
  EXPECT_EQ(readFile(small / "out.txt"), kPrecious);
  EXPECT_EQ(listing(small), before);
  // In place, too: the input is the file that cannot be replaced.
  writeFile(small / "in.txt", Bytes(600 << 10, 'b'));
  p = runMek(dir, "-iutf8 small/in.txt -outf16_le small/in.txt");
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(readFile(small / "in.txt"), Bytes(600 << 10, 'b'));
  // A held output (1<>) whose text would not fit: its old bytes stay, every
  // one, whether the disk or the size limit stops it.
  writeFile(small / "rw.txt", kPrecious);
  for (const char* limit : {"", "ulimit -f 100; "}) {
    p = runScript(dir,
                  std::string(limit) + "\"$MEK\" -iutf8 small/in.txt -outf32_le 1<> small/rw.txt");
    EXPECT_EQ(p.status, 1) << limit;
    EXPECT_EQ(readFile(small / "rw.txt"), kPrecious) << limit;
  }
  umount(small.c_str());
}

// Every signal that ends a process, once a temporary file exists and once
// the text is being written, to a named file and to standard output as a
// file: the process ends by that signal and nothing is changed.
TEST_F(OutputSafetyTest, SignalsLeaveTheOldOutput) {
  const int signals[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGUSR1,  SIGUSR2,
                         SIGALRM, SIGTERM, SIGXCPU, SIGVTALRM};
  for (int signal : signals) {
    const std::string run = "ulimit -c 0; MEK_TEST_SIGNAL=%:" + std::to_string(signal) +
                            " env --default-signal \"$MEK\" -iutf8 in.txt -osjis ";
    for (const char* point : {"temporary", "write"}) {
      std::string script = run;
      script.replace(script.find('%'), 1, point);
      expectKept(script + "out.txt", 128 + signal);
    }
    std::string script = run;
    expectKept(script.replace(script.find('%'), 1, "write") + ">> out.txt", 128 + signal);
  }
  // A real signal while the run waits for its input, and while it waits to
  // write to a FIFO that nobody reads: it ends at once all the same.
  for (const char* output : {"out.txt --force", ">> out.txt"}) {
    expectKept(std::string("(head -c 8000000 /dev/zero; sleep 3) | env --default-signal "
                           "\"$MEK\" -iutf8 -outf16_le ") +
                   output + " & sleep 1; kill -TERM $!; wait $!",
               128 + SIGTERM);
  }
  writeFile(dir / "big.txt", Bytes(20 << 20, 'a'));
  const Process p =
      runScript(dir,
                "mkfifo fifo; (exec 3<fifo; sleep 30) & reader=$!; "
                "timeout 20 env --default-signal \"$MEK\" -iutf8 big.txt -outf16_le fifo & "
                "sleep 2; kill -TERM $!; wait $!; status=$?; kill $reader; exit $status");
  EXPECT_EQ(p.status, 128 + SIGTERM);
  // SIGPIPE keeps its default: a reader that stops early ends the run quietly.
  const Process head = runScript(dir, "\"$MEK\" -iutf8 big.txt -outf8 | head -c 1");
  EXPECT_EQ(head.out, "a");
  EXPECT_EQ(head.err, "");
}

// Signals the parent ignored (nohup, trap '') stay ignored; a commit under
// way finishes, and the status then tells that the file was converted.
TEST_F(OutputSafetyTest, IgnoredSignalsAndCommitsUnderWay) {
  for (const std::string script :
       {"MEK_TEST_SIGNAL=write:2 env --ignore-signal=INT \"$MEK\" -iutf8 in.txt -osjis out.txt",
        "MEK_TEST_SIGNAL=write:1 env --ignore-signal=HUP \"$MEK\" -iutf8 in.txt -osjis out.txt",
        "MEK_TEST_SIGNAL=commit:15 env --default-signal \"$MEK\" -iutf8 in.txt -osjis out.txt"}) {
    writeFile(dir / "out.txt", kPrecious);
    const Process p = runScript(dir, script);
    EXPECT_EQ(p.status, 0) << script;
    EXPECT_EQ(readFile(dir / "out.txt"), text("abc\n")) << script;
  }
  // In place, the run ends after the file whose commit the signal met, and
  // names it, so that a retry can leave it out.
  writeFile(dir / "a.txt", std::string("a\n"));
  writeFile(dir / "b.txt", std::string("b\n"));
  Process p = runScript(dir,
                        "MEK_TEST_SIGNAL=commit:15 env --default-signal \"$MEK\" --in-place "
                        "-iutf8 -outf16_le a.txt b.txt");
  EXPECT_EQ(p.status, 128 + SIGTERM);
  EXPECT_EQ(p.err.rfind("a.txt: converted\n", 0), 0u) << p.err;
  EXPECT_EQ(readFile(dir / "a.txt"), hex("61 00 0a 00"));
  EXPECT_EQ(readFile(dir / "b.txt"), text("b\n"));
  // A signal sent to the very thread that commits, as a tracer injects it
  // (the leak checker of a sanitizer build cannot run under a tracer).
  if (std::system("strace -qq -o /dev/null true 2>/dev/null") != 0) {
    GTEST_SKIP() << "strace cannot trace here";
  }
  writeFile(dir / "out.txt", kPrecious);
  p = runScript(dir,
                "ASAN_OPTIONS=\"${ASAN_OPTIONS:-}:detect_leaks=0\" "
                "strace -f -qq -o /dev/null -e trace=fsync -e inject=fsync:signal=SIGTERM "
                "env --default-signal \"$MEK\" -iutf8 in.txt -osjis out.txt");
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(readFile(dir / "out.txt"), text("abc\n"));
}

// Names are resolved once and safely: a link loop and a link planted by
// another user in a shared folder are refused, a name for standard output
// is standard output, and a file named twice in place is converted once.
TEST_F(OutputSafetyTest, TargetsAreResolvedSafely) {
  fs::create_symlink("B", dir / "A");
  fs::create_symlink("A", dir / "B");
  expectKept("\"$MEK\" -iutf8 in.txt -osjis A", 1,
             "cannot open output file 'A': Too many levels of symbolic links\n");

  writeFile(dir / "log", std::string("log\n"));
  Process p = runScript(dir,
                        "\"$MEK\" -iutf8 in.txt -osjis /dev/stdout >> log; "
                        "\"$MEK\" -iutf8 in.txt -osjis /dev/fd/1 | cat >> log");
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(readFile(dir / "log"), text("log\nabc\nabc\n"));

  writeFile(dir / "t.txt", std::string("t\n"));
  fs::create_symlink("t.txt", dir / "link");
  fs::create_hard_link(dir / "t.txt", dir / "hard");
  p = runMek(dir, "--in-place -iutf8 -outf16_le t.txt t.txt ./t.txt link hard");
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(readFile(dir / "t.txt"), hex("74 00 0a 00"));
  EXPECT_EQ(readFile(dir / "hard"), hex("74 00 0a 00"));

  if (geteuid() != 0) GTEST_SKIP() << "a link owned by another user needs root";
  const fs::path shared = dir / "shared";
  fs::create_directory(shared);
  fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
  fs::create_symlink(dir / "out.txt", shared / "report.txt");
  ASSERT_EQ(lchown((shared / "report.txt").c_str(), 65534, 65534), 0);
  expectKept("\"$MEK\" -iutf8 in.txt -osjis shared/report.txt", 1,
             "cannot open output file 'shared/report.txt': refusing to follow a symbolic link "
             "another user owns in a shared folder\n");
  // The caller's own link there is followed.
  fs::create_symlink(dir / "out.txt", shared / "mine.txt");
  p = runMek(dir, "-iutf8 in.txt -osjis shared/mine.txt");
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(readFile(dir / "out.txt"), text("abc\n"));
  EXPECT_TRUE(fs::is_symlink(shared / "mine.txt"));
}

TEST_F(OutputSafetyTest, AttributesAreKept) {
  fs::permissions(dir / "out.txt",
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const bool xattrs = setxattr((dir / "out.txt").c_str(), "user.mek", "kept", 4, 0) == 0;
  fs::create_symlink("out.txt", dir / "link");
  Process p = runMek(dir, "-iutf8 in.txt -outf8 link");
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_TRUE(fs::is_symlink(dir / "link"));
  EXPECT_EQ(readFile(dir / "out.txt"), text("abc\n"));
  EXPECT_EQ(fs::status(dir / "out.txt").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  char value[8] = {};
  if (xattrs) {
    EXPECT_EQ(getxattr((dir / "out.txt").c_str(), "user.mek", value, 8), 4);
    EXPECT_EQ(std::string(value), "kept");
  }
  // A new file gets the mode that the file mode mask leaves.
  p = runMek(dir, "-iutf8 in.txt -outf8 new.txt", "; umask");
  struct stat status;
  ASSERT_EQ(stat((dir / "new.txt").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0666 & ~std::stoul(p.out, nullptr, 8)) << p.out;

  // Set-id bits survive for the owner who is not root: they are set after
  // the text is written, since writing clears them.
  if (!canBeNobody()) GTEST_SKIP() << "needs root and the user nobody";
  const fs::path own = dir / "own";
  fs::create_directory(own);
  writeFile(own / "tool", kPrecious);
  ASSERT_EQ(chown(own.c_str(), 65534, 65534), 0);
  ASSERT_EQ(chown((own / "tool").c_str(), 65534, 65534), 0);
  ASSERT_EQ(chmod((own / "tool").c_str(), 06755), 0);
  fs::permissions(dir.path(), fs::perms::others_exec, fs::perm_options::add);
  p = runScript(dir, kAsNobody + std::string("\"$MEK\" -iutf8 in.txt -osjis own/tool"));
  EXPECT_EQ(p.status, 0) << p.err;
  ASSERT_EQ(stat((own / "tool").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 06755u);
  EXPECT_EQ(status.st_uid, 65534u);
}

// Targets that cannot be replaced whole are refused before anything is
// written: a file in a folder that cannot hold a temporary file, and a file
// bind mounted over another.
TEST_F(OutputSafetyTest, TargetsThatCannotBeReplacedAreRefused) {
  if (!canBeNobody()) GTEST_SKIP() << "needs root and the user nobody";
  fs::permissions(dir.path(), fs::perms::others_exec, fs::perm_options::add);
  const fs::path locked = dir / "locked";
  fs::create_directory(locked);
  writeFile(locked / "out.txt", kPrecious);
  ASSERT_EQ(chown((locked / "out.txt").c_str(), 65534, 65534), 0);
  expectKept(kAsNobody + std::string("\"$MEK\" -iutf8 in.txt -osjis locked/out.txt"), 1,
             "cannot open output file 'locked/out.txt': Permission denied (its folder cannot "
             "hold a temporary file)\n");
  EXPECT_EQ(readFile(locked / "out.txt"), kPrecious);

  writeFile(dir / "other.txt", std::string("other"));
  if (mount((dir / "other.txt").c_str(), (dir / "out.txt").c_str(), nullptr, MS_BIND, nullptr) !=
      0) {
    GTEST_SKIP() << "no bind mount here";
  }
  const Process p = runMek(dir, "-iutf8 in.txt -osjis out.txt");
  umount((dir / "out.txt").c_str());
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.err,
            "cannot open output file 'out.txt': Device or resource busy (it cannot be "
            "replaced)\n");
  EXPECT_EQ(readFile(dir / "other.txt"), text("other"));
}

// Standard output opened for reading and writing (1<>) keeps every byte
// after its position until the run has succeeded, also beyond what memory
// holds.
TEST_F(OutputSafetyTest, StandardOutputWithBytesAfterItsPosition) {
  fs::create_directory(dir / "tmp");
  const std::string tail(17 << 20, 'a');
  writeFile(dir / "long.txt", tail + "\xff");
  writeFile(dir / "ok.txt", tail);
  for (const char* input : {"long.txt", "in.txt"}) {
    writeFile(dir / "bad.txt", readFile(dir / input));
    writeFile(dir / "rw.txt", kPrecious);
    const Process p = runScript(
        dir, std::string("printf '\\377' >> bad.txt; TMPDIR=tmp \"$MEK\" -iutf8 -osjis < bad.txt "
                         "1<> rw.txt"));
    EXPECT_EQ(p.status, 1) << input;
    EXPECT_EQ(readFile(dir / "rw.txt"), kPrecious) << input;
  }
  writeFile(dir / "rw.txt", kPrecious);
  Process p = runScript(dir, "printf 'ok' | \"$MEK\" -iutf8 -osjis 1<> rw.txt");
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(readFile(dir / "rw.txt"), text("okecious"));
  p = runScript(dir, "TMPDIR=tmp \"$MEK\" -iutf8 -osjis < ok.txt 1<> rw.txt");
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(readFile(dir / "rw.txt"), text(tail));
  EXPECT_EQ(listing(dir / "tmp"), "");
}

// The second round: a held output whose temporary file cannot be made says
// so and where; a closed reader of standard error, and a signal once every
// file is done, change nothing.
TEST_F(OutputSafetyTest, TemporaryFilesReadersAndLateSignals) {
  const std::string tail(17 << 20, 'a');
  writeFile(dir / "ok.txt", tail);
  Process p = runScript(dir, "TMPDIR=missing \"$MEK\" -iutf8 -osjis < ok.txt 1<> out.txt");
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.err, "cannot write temporary file in 'missing': No such file or directory\n");
  EXPECT_EQ(readFile(dir / "out.txt"), kPrecious);
  // Standard error a pipe whose reader has gone: the run's own status, the
  // file replaced, no temporary file left.
  writeFile(dir / "bad.txt", std::string("a\xff\n"));
  p = runScript(dir,
                "python3 -c 'import os, subprocess, sys; r, w = os.pipe(); os.close(r); "
                "print(\"status\", subprocess.call(sys.argv[1:], stderr=w))' "
                "\"$MEK\" -iutf8 bad.txt -osjis out.txt --errors=replace");
  EXPECT_EQ(p.out, "status 0\n");
  EXPECT_EQ(readFile(dir / "out.txt"), text("a?\n"));
  EXPECT_EQ(listing(dir.path()), "bad.txt in.txt ok.txt out.txt ");
  // A signal once the file is replaced: status 0.
  writeFile(dir / "out.txt", kPrecious);
  p = runScript(dir, "MEK_TEST_SIGNAL=ended:15 \"$MEK\" -iutf8 in.txt -osjis out.txt");
  EXPECT_EQ(p.status, 0);
  EXPECT_EQ(readFile(dir / "out.txt"), text("abc\n"));
}

// Memory that runs out is a message and status 1, never an abort.
TEST_F(OutputSafetyTest, MemoryThatRunsOutIsAMessage) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "sanitizers reserve far more address space than any limit";
#endif
  writeFile(dir / "big.txt", Bytes(5 << 20, 'a'));
  for (const char* limit : {"20000", "30000"}) {
    const Process p = runScript(dir, std::string("ulimit -v ") + limit +
                                         "; { \"$MEK\" -iutf8 big.txt -outf16_le; echo $? > "
                                         "status; } | wc -c > /dev/null; cat status");
    EXPECT_TRUE(p.out == "0\n" || (p.out == "1\n" && p.err == "cannot allocate enough memory\n"))
        << limit << ": " << p.out << p.err;
  }
}

TEST_F(OutputSafetyTest, InPlaceConvertsEachFileOnItsOwn) {
  // A good, a bad and a missing file: the good one converts, the bad one
  // keeps its contents, every failure is told under its name, and the status
  // tells that something failed.
  writeFile(dir / "good.txt", hex("82 a0 0d 0a"));  // あ CR LF in Shift_JIS
  writeFile(dir / "bad.txt", hex("82 a0 81 20 41"));
  Process p = runMek(dir, "--in-place -isjis -outf8 good.txt bad.txt missing.txt");
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.err,
            "bad.txt: cannot convert bytes at byte 2 (line 1, column 2): invalid sjis bytes 81\n"
            "missing.txt: cannot open input file 'missing.txt': No such file or directory\n");
  EXPECT_EQ(readFile(dir / "good.txt"), hex("e3 81 82 0a"));
  EXPECT_EQ(readFile(dir / "bad.txt"), hex("82 a0 81 20 41"));
  EXPECT_FALSE(fs::exists(dir / "missing.txt"));
  // Each file is detected on its own.
  writeFile(dir / "euc.txt", hex("a4 a2"));
  writeFile(dir / "utf16.txt", hex("ff fe 42 30"));
  p = runMek(dir, "--in-place -osjis euc.txt good.txt utf16.txt");
  EXPECT_EQ(p.status, 0) << p.err;
  for (const char* name : {"euc.txt", "utf16.txt"}) EXPECT_EQ(readFile(dir / name), hex("82 a0"));
}

}  // namespace
}  // namespace mek::test
