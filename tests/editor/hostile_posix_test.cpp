// Hostile input to the editor that takes POSIX means to set up: FIFOs and devices at the
// character path, another process holding or locking the file, a user without rights
// (nobody, 65534), read-only and full mounts in a private mount namespace. The change runs in
// a forked child wherever it needs other ids or mounts; the parent compares the whole tree.
#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/editor/editor_fixture.h"

namespace editortest {
namespace {


// [SECTION] Child processes

std::string lastError(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

void writeAll(int fd, const std::string& bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
    if (written <= 0) return;
    done += std::size_t(written);
  }
}

std::string readAll(int fd) {
  std::string bytes;
  char buffer[4096];
  for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;) bytes.append(buffer, std::size_t(got));
  return bytes;
}

struct ChildOutcome {
  std::string skipped;  // why the case could not be set up here; empty when it ran
  std::vector<Message> messages;
  std::string problem;  // what the child's own check after the change found wrong
  std::vector<int> exitCodes;
};

// Forks; the child runs prepare (which gives "" or why it cannot run the case), then action,
// then check (which gives "" or what it found wrong), and sends back the messages shown and
// the exit codes asked for. The child ends by itself within 20 s, so an action that blocks
// fails the case instead of hanging the tests. Records on the pipe: tag, then three
// NUL-ended fields.
ChildOutcome inChild(const std::function<std::string()>& prepare, const std::function<void()>& action,
                     const std::function<std::string()>& check) {
  int channel[2];
  if (pipe(channel) != 0) return {lastError("pipe"), {}, {}, {}};
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    alarm(20);
    rec.messages.clear();
    rec.exitCodes.clear();
    std::string report;
    const std::string skipped = prepare();
    if (!skipped.empty()) {
      report = "S"s + skipped + '\0' + '\0' + '\0';
    } else {
      action();
      for (const Message& m : rec.messages) {
        report += "M"s + m.text + '\0' + m.caption + '\0' + (m.owner ? "owned" : "") + '\0';
      }
      for (const int code : rec.exitCodes) report += "X"s + std::to_string(code) + '\0' + '\0' + '\0';
      report += "C"s + check() + '\0' + '\0' + '\0';
    }
    writeAll(channel[1], report);
    _exit(0);
  }
  close(channel[1]);
  const std::string report = readAll(channel[0]);
  close(channel[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ChildOutcome outcome;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    outcome.problem = "the child did not end normally, status " + std::to_string(status);
  }
  std::vector<std::string> fields;
  for (std::size_t at = 0; at < report.size();) {
    const std::size_t end = report.find('\0', at);
    fields.push_back(report.substr(at, end - at));
    at = end + 1;
  }
  for (std::size_t i = 0; i + 2 < fields.size(); i += 3) {
    const char tag = fields[i].empty() ? '?' : fields[i][0];
    const std::string first = fields[i].substr(1);
    if (tag == 'S') outcome.skipped = first;
    if (tag == 'M') outcome.messages.push_back({first, fields[i + 1], fields[i + 2].empty() ? nullptr : DIALOG});
    if (tag == 'X') outcome.exitCodes.push_back(std::stoi(first));
    if (tag == 'C') outcome.problem += first;
  }
  return outcome;
}

ChildOutcome changeInChild(const std::function<std::string()>& prepare, const std::string& name,
                           std::int32_t levelIndex,
                           const std::function<std::string()>& check = [] { return ""s; }) {
  return inChild(prepare, [&] { changeCharacterLevel(name, levelIndex); }, check);
}

// Nobody's user and group and no supplementary groups, so the mode bits apply as to any
// user; root writes through them. A user other than root is bound by them already.
std::string becomeNobody() {
  if (geteuid() != 0) return "";
  if (setgroups(0, nullptr) != 0) return lastError("setgroups");
  if (setresgid(65534, 65534, 65534) != 0) return lastError("setresgid");
  if (setresuid(65534, 65534, 65534) != 0) return lastError("setresuid");
  return "";
}

// A mount namespace of the child's own, so that its mounts vanish with it.
std::string privateMounts() {
  if (unshare(CLONE_NEWNS) != 0) return lastError("unshare(CLONE_NEWNS)");
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return lastError("mount private");
  return "";
}

constexpr const char* CHARACTER = "Dataserver/userdata/198/abc.dat";  // "abc" is in bucket 198

// [SECTION] Not a file

// A FIFO, a device or a link to a folder at the character path: the load
// error, nothing changed, and no wait for a FIFO's writer.
TEST_F(Editor, NoPlainFileAtThePath) {
  writeTable("00000064\n", 1);
  struct Case {
    const char* name;
    bool (*make)(const char* path);
  } cases[] = {
      {"FIFO", [](const char* path) { return mkfifo(path, 0644) == 0; }},
      {"link to /dev/null", [](const char* path) { return symlink("/dev/null", path) == 0; }},
      {"link to a folder", [](const char* path) { return symlink(".", path) == 0; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::error_code ignored;
    fs::remove_all("Dataserver", ignored);
    fs::create_directories(fs::path(CHARACTER).parent_path());
    ASSERT_TRUE(c.make(CHARACTER)) << std::strerror(errno);
    const Tree before = snapshot();
    const ChildOutcome outcome = changeInChild([] { return ""s; }, "abc", 0);
    EXPECT_EQ(outcome.problem, "");
    EXPECT_EQ(outcome.messages, (std::vector<Message>{{LOAD_ERROR, CHARACTER, nullptr}}));
    EXPECT_EQ(treeDifference(before, snapshot()), "");
  }
}

// The same kinds of path as XPHex.txt: the table's error, the end of the process, no list, and
// no wait for a FIFO's writer nor an endless read of /dev/zero.
TEST_F(Editor, NoPlainFileForTheTable) {
  struct Case {
    const char* name;
    bool (*make)();
  } cases[] = {
      {"FIFO", [] { return mkfifo("XPHex.txt", 0644) == 0; }},
      {"link to /dev/zero", [] { return symlink("/dev/zero", "XPHex.txt") == 0; }},
      {"link to nothing", [] { return symlink("gone.txt", "XPHex.txt") == 0; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::error_code ignored;
    fs::remove("XPHex.txt", ignored);
    ASSERT_TRUE(c.make()) << std::strerror(errno);
    const ChildOutcome outcome = inChild(
        [] { return ""s; }, [] { onInitDialog(DIALOG); },
        [] { return rec.levelEntries.empty() ? ""s : "the list was filled"s; });
    EXPECT_EQ(outcome.problem, "");
    EXPECT_EQ(outcome.messages,
              (std::vector<Message>{{"Can not open file 'XPHex.txt'!", "Error", nullptr}}));
    EXPECT_EQ(outcome.exitCodes, std::vector<int>{0});
  }
}

// [SECTION] Another process

// POSIX locks are advisory and an open file is no obstacle: another process that holds the
// file open for update under flock and fcntl write locks does not stop the change.
TEST_F(Editor, FileHeldAndLockedByAnotherProcess) {
  writeTable("00000064\n", 1);
  writeFile(CHARACTER, characterBytes(512));
  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  std::fflush(nullptr);
  const pid_t holder = fork();
  if (holder == 0) {
    close(ready[0]);
    close(release[1]);
    alarm(20);
    const int fd = open(CHARACTER, O_RDWR);
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    const bool locked = fd >= 0 && flock(fd, LOCK_EX) == 0 && fcntl(fd, F_SETLK, &whole) == 0;
    writeAll(ready[1], locked ? "L" : "-");
    close(ready[1]);
    char ignored;
    (void)!read(release[0], &ignored, 1);  // until the parent closes its end
    _exit(0);
  }
  close(ready[1]);
  close(release[0]);
  EXPECT_EQ(readAll(ready[0]), "L") << "the other process could not lock the file";
  close(ready[0]);
  // The lock is real: this process cannot take it too.
  const int fd = open(CHARACTER, O_RDWR);
  EXPECT_NE(flock(fd, LOCK_EX | LOCK_NB), 0);
  close(fd);

  Tree expected = snapshot();
  expected[CHARACTER].bytes = withWrites(expected[CHARACTER].bytes, {{200, "\0"s}, {332, "\x64\0\0\0"s}});
  changeCharacterLevel("abc", 0);
  close(release[1]);
  waitpid(holder, nullptr, 0);
  EXPECT_EQ(rec.messages, std::vector<Message>{LEVEL_CHANGED});
  EXPECT_EQ(treeDifference(expected, snapshot()), "");
}

// [SECTION] Rights

// The change made by nobody. Only the file's own mode decides: a read-only file gives the
// save error, an unreadable file or folder the load error, and a file that nobody may write
// is changed in place even in a folder that nobody may change.
TEST_F(Editor, NoRightsAsNobody) {
  writeTable("00000064\n", 1);
  const std::string folder198 = fs::path(CHARACTER).parent_path();
  const Message saveError = {SAVE_ERROR, CHARACTER, nullptr};
  const Message loadError = {LOAD_ERROR, CHARACTER, nullptr};
  struct Case {
    const char* name;
    fs::perms folderMode, fileMode;
    Message message;
  } cases[] = {
      {"read-only file", fs::perms(0755), fs::perms(0444), saveError},
      {"read-only file in a read-only folder", fs::perms(0555), fs::perms(0444), saveError},
      {"unreadable file", fs::perms(0755), fs::perms(0000), loadError},
      {"folder nobody may enter", fs::perms(0000), fs::perms(0666), loadError},
      {"writable file in a read-only folder", fs::perms(0555), fs::perms(0666), LEVEL_CHANGED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(CHARACTER, characterBytes(512));
    fs::permissions(CHARACTER, c.fileMode);
    fs::permissions(folder198, c.folderMode);
    Tree expected = snapshot();
    if (c.message == LEVEL_CHANGED) {
      expected[CHARACTER].bytes = withWrites(expected[CHARACTER].bytes, {{200, "\0"s}, {332, "\x64\0\0\0"s}});
    }
    const ChildOutcome outcome = changeInChild(becomeNobody, "abc", 0);
    fs::permissions(folder198, fs::perms(0755));
    if (!outcome.skipped.empty()) GTEST_SKIP() << outcome.skipped;
    EXPECT_EQ(outcome.problem, "");
    EXPECT_EQ(outcome.messages, std::vector<Message>{c.message});
    expected[folder198].perms = fs::perms(0755);
    EXPECT_EQ(treeDifference(expected, snapshot()), "");
    fs::permissions(CHARACTER, fs::perms(0644));
  }
}

// [SECTION] Mounts

// userdata bound read-only onto itself: the file opens for reading but not for update, so the
// save error, and nothing changed.
TEST_F(Editor, ReadOnlyMount) {
  writeTable("0123456789ABCDEF\n", 1);
  const std::string original = characterBytes(512);
  writeFile(CHARACTER, original);
  const Tree before = snapshot();
  const ChildOutcome outcome = changeInChild(
      [] {
        const char* const userdata = "Dataserver/userdata";
        std::string why = privateMounts();
        if (!why.empty()) return why;
        if (mount(userdata, userdata, nullptr, MS_BIND, nullptr) != 0) return lastError("bind");
        if (mount(nullptr, userdata, nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0)
          return lastError("remount read-only");
        return ""s;
      },
      "abc", 0, [&] { return readFile(CHARACTER) == original ? ""s : "the file changed"s; });
  if (!outcome.skipped.empty()) GTEST_SKIP() << outcome.skipped;
  EXPECT_EQ(outcome.problem, "");
  EXPECT_EQ(outcome.messages, (std::vector<Message>{{SAVE_ERROR, CHARACTER, nullptr}}));
  EXPECT_EQ(treeDifference(before, snapshot()), "");
}

// A full disk: a 64 KiB tmpfs filled up, and an entry whose bytes would grow the file past its
// first 4 KiB page. Half a megabyte fails in fwrite itself; 4000 bytes fit the stream's buffer
// and fail only when fclose flushes them. The save error either way; bytes outside the ones
// the change writes stay as they were.
TEST_F(Editor, FullDisk) {
  writeTable("00000064\n" + std::string(1024 * 1024, '7') + "\n" + std::string(8000, '7') + "\n", 3);
  const std::string original = characterBytes(512);
  fs::create_directories("Dataserver");
  for (const std::int32_t levelIndex : {1, 2}) {
  SCOPED_TRACE(levelIndex == 1 ? "half a megabyte" : "4000 bytes");
  const ChildOutcome outcome = changeInChild(
      [&] {
        std::string why = privateMounts();
        if (!why.empty()) return why;
        if (mount("tmpfs", "Dataserver", "tmpfs", 0, "size=64k") != 0) return lastError("tmpfs");
        writeFile(CHARACTER, original);
        std::FILE* filler = std::fopen("Dataserver/filler", "wb");
        const std::string block(4096, 'F');
        while (filler != nullptr && std::fwrite(block.data(), 1, block.size(), filler) == block.size() &&
               std::fflush(filler) == 0) {
        }
        if (filler != nullptr) std::fclose(filler);
        return ""s;
      },
      "abc", levelIndex,
      [&] {
        const std::string now = readFile(CHARACTER);
        if (now.size() < original.size()) return "the file was cut"s;
        for (std::size_t i = 0; i < original.size(); ++i) {
          const bool written = i == 200 || (i >= 332 && i < 336) || i >= 404;
          if (!written && now[i] != original[i]) return "byte " + std::to_string(i) + " changed";
        }
        return ""s;
      });
  if (!outcome.skipped.empty()) GTEST_SKIP() << outcome.skipped;
  EXPECT_EQ(outcome.problem, "");
  EXPECT_EQ(outcome.messages, (std::vector<Message>{{SAVE_ERROR, CHARACTER, nullptr}}));
  }
}

}  // namespace
}  // namespace editortest
