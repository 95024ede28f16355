// What a second writer of the same target finds, and what becomes of temporary files left by
// killed runs or removed from a signal handler. POSIX only: the cases fork writers, kill them,
// change a folder's owner and mode, and hold a lock with flock.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

#include "pst/ndb/file_placement_test.h"
#include "pst/ndb/live_temp_files.h"

namespace pst::ndb {
namespace {

namespace fs = std::filesystem;
using testing::FilePlacement;
using testing::ReadAll;
using testing::WriteText;

TEST_F(FilePlacement, ASecondWriterOfTheSameTargetIsRefusedUntilTheFirstEnds) {
  auto first = Open(target_);
  auto second = Create(target_);
  ASSERT_FALSE(second.ok());
  EXPECT_EQ(second.status().code(), quill::Status::Code::kAlreadyExists);
  EXPECT_EQ(second.status().message(), "another conversion is writing " + target_);
  // The same target written another way is the same target.
  auto spelled = Create((dir_ / "." / "out.pst").string());
  EXPECT_FALSE(spelled.ok());
  // Another process is refused as well.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto w = FileWriter::Create(target_);
    ::_exit(!w.ok() && w.status().code() == quill::Status::Code::kAlreadyExists ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  // A writer of another target in the same folder is not held up.
  auto other = Open((dir_ / "other.pst").string());
  ASSERT_NE(other, nullptr);
  ASSERT_TRUE(first->Close().ok());
  EXPECT_EQ(first->writtenPath(), target_);
  // Once the first is done, the target is free again; and an abandoned writer frees it too.
  auto third = Open(target_);
  ASSERT_NE(third, nullptr);
  third->Abandon();
  auto fourth = Open(target_);
  ASSERT_NE(fourth, nullptr);
  ASSERT_TRUE(fourth->Close().ok());
  ASSERT_TRUE(other->Close().ok());
  EXPECT_EQ(Names(), (std::set<std::string>{"out.pst", "other.pst"}));
}

// Run as an ordinary user: root may list any folder.
TEST_F(FilePlacement, AFolderThatCannotBeListedStillTakesTheFile) {
  const fs::path folder = dir_ / "drop-box";
  fs::create_directory(folder);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::getuid() == 0) {
      const uid_t nobody = 65534;
      if (::chown(dir_.c_str(), nobody, nobody) != 0 || ::chown(folder.c_str(), nobody, nobody) != 0 ||
          ::setresgid(nobody, nobody, nobody) != 0 || ::setresuid(nobody, nobody, nobody) != 0) {
        ::_exit(10);
      }
    }
    if (::chmod(folder.c_str(), 0300) != 0) ::_exit(11);
    if (::opendir(folder.c_str()) != nullptr) ::_exit(12);  // the folder can be listed after all
    FileWriterOptions o;
    auto w = FileWriter::Create((folder / "out.pst").string(), o);
    if (!w.ok()) ::_exit(13);
    ::_exit(w.value()->Close().ok() ? 0 : 14);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  fs::permissions(folder, fs::perms::owner_all);
  EXPECT_EQ(ReadAll(folder / "out.pst").substr(0, 4), "!BDN");
}

// POSIX only also because the limit there is 255 bytes of the name, where Windows counts 255 UTF-16
// units (and std::filesystem there reads narrow names in the ANSI code page, not as UTF-8).
TEST_F(FilePlacement, ANumberedNameAtTheLimitCutsTheStemBetweenCharacters) {
  // A taken name at the limit: the numbered one gives up part of the stem, never the extension,
  // and cuts between characters ("é" is two bytes).
  std::string stem;
  while (stem.size() < 250) stem += "\xC3\xA9";
  const std::string target = (dir_ / (stem + ".pst")).string();
  auto w = Open(target);
  WriteText(target, "taken");
  ASSERT_TRUE(w->Close().ok());
  const std::string written = fs::path(w->writtenPath()).filename().string();
  EXPECT_LE(written.size(), 255u);
  EXPECT_EQ(written.substr(written.size() - 8), " (2).pst");
  EXPECT_EQ(written.substr(0, written.size() - 8), stem.substr(0, written.size() - 8));
  EXPECT_EQ((written.size() - 8) % 2, 0u);
  EXPECT_TRUE(IsStore(w->writtenPath()));
}

TEST_F(FilePlacement, TemporaryFilesOfKilledRunsAreRemovedByTheNextWriterInTheFolder) {
  WriteText(target_, "old contents");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto w = FileWriter::Create((dir_ / "killed.pst").string());
    if (!w.ok()) ::_exit(1);
    ::pause();
    ::_exit(0);
  }
  for (int i = 0; i < 500 && Names().size() < 2; ++i) ::usleep(10000);
  ASSERT_EQ(Names().size(), 2u);
  std::set<std::string> names = Names();
  names.erase("out.pst");
  const std::string leftover = *names.begin();
  EXPECT_EQ(leftover.rfind(".quillsort-", 0), 0u) << leftover;
  // While that run lives, its file is left alone.
  { auto w = Open(target_); }
  EXPECT_TRUE(fs::exists(dir_ / leftover));
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  // A stale file of a run that was writing the same target, and things that only look like ours.
  auto w = Open(target_);
  const std::string own = fs::path(w->temporaryPath()).filename().string();
  w->Abandon();
  WriteText(dir_ / own, "stale");
  WriteText(dir_ / "notes.tmp", "not ours");
  WriteText(dir_ / ".quillsort-notours.tmp", "not ours either");
  WriteText(dir_ / "out.pst.tmp-Ab12Cd", "an older naming: not known to be stale");
  // A temporary file that a live writer holds, by our name pattern.
  const std::string held = ".quillsort-0123456789abcdef.tmp";
  WriteText(dir_ / held, "held");
  const int fd = ::open((dir_ / held).c_str(), O_RDONLY);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);

  w = Open(target_);
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(w->Close().ok());
  ::close(fd);
  EXPECT_EQ(Names(), (std::set<std::string>{"out.pst", "notes.tmp", ".quillsort-notours.tmp",
                                            "out.pst.tmp-Ab12Cd", held}));
  EXPECT_TRUE(IsStore(target_));
}

// POSIX only also because a removed name goes at once there, and the writers go on to fail;
// Windows keeps the name until the writer's handle closes, for a hasty exit the process's end.
TEST_F(FilePlacement, RemoveLiveTemporaryFilesLeavesTargetsAsTheyWere) {
  WriteText(target_, "old contents");
  auto a = Open(target_);
  auto b = Open((dir_ / "b.pst").string());
  ASSERT_EQ(Names().size(), 3u);
  RemoveLiveTemporaryFiles();
  EXPECT_EQ(Names(), std::set<std::string>{"out.pst"});
  // The writers find their files gone and fail; nothing appears.
  EXPECT_FALSE(a->Close().ok());
  EXPECT_FALSE(b->Close().ok());
  EXPECT_EQ(ReadAll(target_), "old contents");
  EXPECT_EQ(Names(), std::set<std::string>{"out.pst"});
  // Closed writers are no longer in the table: a new one's file is the only one removed.
  auto c = Open((dir_ / "c.pst").string());
  ASSERT_TRUE(c->Close().ok());
  auto d = Open((dir_ / "d.pst").string());
  RemoveLiveTemporaryFiles();
  EXPECT_EQ(Names(), (std::set<std::string>{"out.pst", "c.pst"}));
}

// What a program's second Ctrl-C does: from a signal handler, in the middle of writing.
TEST_F(FilePlacement, RemoveLiveTemporaryFilesWorksFromASignalHandler) {
  WriteText(target_, "old contents");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGINT, [](int) {
      RemoveLiveTemporaryFiles();
      ::_exit(3);
    });
    FileWriterOptions o;
    o.bufferSize = 64 << 10;
    o.sync = false;
    auto w = FileWriter::Create(target_, o);
    if (!w.ok()) ::_exit(1);
    const std::vector<std::uint8_t> data(kMaxBlockData, 7);
    for (;;) {
      if (!w.value()->WriteDataBlock(data).ok()) ::_exit(2);
    }
  }
  std::uintmax_t size = 0;
  for (int i = 0; i < 500 && size < (1u << 20); ++i) {
    ::usleep(10000);
    for (const auto& e : fs::directory_iterator(dir_)) {
      if (e.path() != fs::path(target_)) size = e.file_size();
    }
  }
  ::kill(child, SIGINT);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
  EXPECT_GE(size, 1u << 20);
  EXPECT_EQ(Names(), std::set<std::string>{"out.pst"});
  EXPECT_EQ(ReadAll(target_), "old contents");
}

}  // namespace
}  // namespace pst::ndb
