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

// The messages shown and the exit codes asked for, one a line.
std::string shown(const std::vector<Message>& messages, const std::vector<int>& exitCodes = {}) {
  std::string lines;
  for (const Message& m : messages) lines += m.text + " | " + m.caption + (m.owner ? " | owned\n" : "\n");
  for (const int code : exitCodes) lines += "exit " + std::to_string(code) + "\n";
  return lines;
}

struct ChildOutcome {
  std::string skipped;  // why the case could not be set up here; empty when it ran
  std::string shown;    // shown() of the child's records, then what its check found wrong
};

// Forks; the child runs prepare (which gives "" or why it cannot run the case), then action,
// then check (which gives "" or what it found wrong), and sends back one byte ('S' skipped,
// 'R' ran) and the text. The child ends by itself within 20 s, so an action that blocks fails
// the case instead of hanging the tests.
ChildOutcome inChild(const std::function<std::string()>& prepare, const std::function<void()>& action,
                     const std::function<std::string()>& check = [] { return ""s; }) {
  int channel[2];
  if (pipe(channel) != 0) return {lastError("pipe"), ""};
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    alarm(20);
    rec.messages.clear();
    rec.exitCodes.clear();
    const std::string skipped = prepare();
    if (skipped.empty()) action();
    writeAll(channel[1], skipped.empty() ? "R" + shown(rec.messages, rec.exitCodes) + check() : "S" + skipped);
    _exit(0);
  }
  close(channel[1]);
  const std::string report = readAll(channel[0]);
  close(channel[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ChildOutcome outcome;
  (report.starts_with("S") ? outcome.skipped : outcome.shown) = report.empty() ? "" : report.substr(1);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) outcome.shown += "child status " + std::to_string(status);
  return outcome;
}

ChildOutcome changeInChild(const std::function<std::string()>& prepare, std::int32_t levelIndex,
                           const std::function<std::string()>& check = [] { return ""s; }) {
  return inChild(prepare, [=] { changeCharacterLevel("abc", levelIndex); }, check);
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

// A FIFO, a device or a link to a folder at the character path: the load error, nothing
// changed, and no wait for a FIFO's writer. The same kinds of path as XPHex.txt: the table's
// error, the end of the process, no list, and no endless read of /dev/zero.
TEST_F(Editor, NoPlainFile) {
  writeTable("00000064\n", 1);
  fs::create_directories(fs::path(CHARACTER).parent_path());
  const std::string tableError = shown({{"Can not open file 'XPHex.txt'!", "Error", nullptr}}, {0});
  struct Case {
    const char* name;
    const char* path;
    int (*make)(const char* path);
  } cases[] = {
      {"FIFO", CHARACTER, [](const char* path) { return mkfifo(path, 0644); }},
      {"link to /dev/null", CHARACTER, [](const char* path) { return symlink("/dev/null", path); }},
      {"link to a folder", CHARACTER, [](const char* path) { return symlink(".", path); }},
      {"table FIFO", "XPHex.txt", [](const char* path) { return mkfifo(path, 0644); }},
      {"table link to /dev/zero", "XPHex.txt", [](const char* path) { return symlink("/dev/zero", path); }},
      {"table link to nothing", "XPHex.txt", [](const char* path) { return symlink("gone.txt", path); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(c.path);
    ASSERT_EQ(c.make(c.path), 0) << std::strerror(errno);
    const Tree before = snapshot();
    const bool table = c.path != CHARACTER;
    const ChildOutcome outcome =
        table ? inChild([] { return ""s; }, [] { onInitDialog(DIALOG); },
                        [] { return rec.levelEntries.empty() ? ""s : "the list was filled"s; })
              : changeInChild([] { return ""s; }, 0);
    EXPECT_EQ(outcome.shown, table ? tableError : shown({{LOAD_ERROR, CHARACTER, nullptr}}));
    EXPECT_EQ(treeDifference(before, snapshot()), "");
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
  expectOutcome([] { changeCharacterLevel("abc", 0); }, LEVEL_CHANGED, CHARACTER, LEVEL_1_WRITES);
  close(release[1]);
  waitpid(holder, nullptr, 0);
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
    if (c.message == LEVEL_CHANGED) expected[CHARACTER].bytes = withWrites(expected[CHARACTER].bytes, LEVEL_1_WRITES);
    const ChildOutcome outcome = changeInChild(becomeNobody, 0);
    fs::permissions(folder198, fs::perms(0755));
    if (!outcome.skipped.empty()) GTEST_SKIP() << outcome.skipped;
    EXPECT_EQ(outcome.shown, shown({c.message}));
    expected[folder198].perms = fs::perms(0755);
    EXPECT_EQ(treeDifference(expected, snapshot()), "");
    fs::permissions(CHARACTER, fs::perms(0644));
  }
}

// [SECTION] Mounts

// userdata bound read-only onto itself, where the file opens for reading but not for update;
// and a full disk, a 64 KiB tmpfs filled up, with an entry whose bytes would grow the file past
// its first 4 KiB page: half a megabyte fails in fwrite itself, 4000 bytes fit the stream's
// buffer and fail only when fclose flushes them. The save error each time; the file is not cut
// and bytes outside the ones the change writes stay as they were.
TEST_F(Editor, ReadOnlyOrFullMount) {
  writeTable("00000064\n" + std::string(1024 * 1024, '7') + "\n" + std::string(8000, '7') + "\n", 3);
  static const std::string original = characterBytes(512);
  writeFile(CHARACTER, original);
  const Tree before = snapshot();
  const auto readOnly = [] {
    const char* const userdata = "Dataserver/userdata";
    if (mount(userdata, userdata, nullptr, MS_BIND, nullptr) != 0) return lastError("bind");
    if (mount(nullptr, userdata, nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0)
      return lastError("remount read-only");
    return ""s;
  };
  const auto full = [] {
    if (mount("tmpfs", "Dataserver", "tmpfs", 0, "size=64k") != 0) return lastError("tmpfs");
    writeFile(CHARACTER, original);
    std::FILE* filler = std::fopen("Dataserver/filler", "wb");
    const std::string block(4096, 'F');
    while (filler != nullptr && std::fwrite(block.data(), 1, block.size(), filler) == block.size() &&
           std::fflush(filler) == 0) {
    }
    if (filler != nullptr) std::fclose(filler);
    return ""s;
  };
  struct Case {
    const char* name;
    std::int32_t levelIndex;
    std::string (*mountIt)();
  } cases[] = {{"read-only", 1, readOnly}, {"full, half a megabyte", 1, full}, {"full, 4000 bytes", 2, full}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ChildOutcome outcome = changeInChild(
        [&] {
          const std::string why = privateMounts();
          return why.empty() ? c.mountIt() : why;
        },
        c.levelIndex,
        [] {
          const std::string now = readFile(CHARACTER);
          if (now.size() < original.size()) return "the file was cut"s;
          for (std::size_t i = 0; i < original.size(); ++i) {
            const bool written = i == 200 || (i >= 332 && i < 336) || i >= 404;
            if (!written && now[i] != original[i]) return "byte " + std::to_string(i) + " changed";
          }
          return ""s;
        });
    if (!outcome.skipped.empty()) GTEST_SKIP() << outcome.skipped;
    EXPECT_EQ(outcome.shown, shown({{SAVE_ERROR, CHARACTER, nullptr}}));
    EXPECT_EQ(treeDifference(before, snapshot()), "");
  }
}

}  // namespace
}  // namespace editortest
