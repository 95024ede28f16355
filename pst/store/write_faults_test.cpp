// The writer under failing file calls: every call a small store's session makes is made to fail in
// turn (a full disk, an I/O error, a short write), and the result must be either a complete store
// or a failure that names its cause, with the target as it was and no temporary file left.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fs/faulty_env.h"
#include "fs/temp_tree_test.h"
#include "pst/read/checker.h"
#include "pst/store/store_service.h"

namespace pst::store {
namespace {

namespace stdfs = std::filesystem;
using Fault = fs::FaultyEnv::Fault;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : stdfs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Output of a command and its exit status.
std::string RunCommand(const std::string& command, int* status) {
  FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  std::string out;
  if (p == nullptr) {
    *status = -1;
    return out;
  }
  char buf[4096];
  while (std::size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  const int rc = ::pclose(p);
  *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

std::string SharedDir() {
  const char* env = std::getenv("QUILL_SHARED_DIR");
  return env != nullptr ? env : std::string(QUILL_SOURCE_DIR) + "/../shared";
}

class WriteFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    // A message whose attachment (about 2.5 MB) takes several of the writer's buffers, so that
    // writes run behind and blocks already written are read back.
    std::string body;
    body.reserve(3500000);
    std::uint32_t x = 12345;
    for (int line = 0; line < 45000; ++line) {
      for (int i = 0; i < 76; ++i) {
        x = x * 1103515245u + 12345u;
        body.push_back("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"[(x >> 16) & 63]);
      }
      body += "\r\n";
    }
    big_ = tree_.File("mail/big.eml",
                      "From: Ada <ada@example.org>\r\nTo: Bo <bo@example.org>\r\nSubject: big\r\n"
                      "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
                      "--b\r\nContent-Type: text/plain\r\n\r\nsee the attachment\r\n"
                      "--b\r\nContent-Type: application/octet-stream; name=data.bin\r\n"
                      "Content-Transfer-Encoding: base64\r\n\r\n" +
                          body + "--b--\r\n");
    small_ = tree_.File(
        "mail/small.eml",
        "From: Ada <ada@example.org>\r\nTo: Bo <bo@example.org>\r\nSubject: small\r\n\r\nhello\r\n");
  }

  // Writes the store through a session whose writer makes its calls through `env`. Returns the
  // first failure (logon or logoff), or Ok.
  quill::Status WriteStore(fs::Env* env, const std::string& target, std::string* written = nullptr) {
    auto service = MakeStoreService(env);
    auto session = service->CreateSession();
    if (!session.ok()) return session.status();
    auto store = session.value()->LogonPstStore(target, engine::kStoreFormatUnicode, "Mail");
    if (!store.ok()) return store.status();
    EXPECT_TRUE(store.value()->ValidateIPMTree().ok());
    auto inbox = store.value()->GetDefaultFolder(engine::kDefaultFolderInbox);
    EXPECT_TRUE(inbox.ok());
    if (!inbox.ok()) return inbox.status();
    auto sub = inbox.value()->AddFolder("Projects", engine::kFolderKindMail);
    EXPECT_TRUE(sub.ok());
    for (engine::StoreFolder* folder : {inbox.value().get(), sub.value().get()}) {
      for (const std::string& file : {small_, big_}) {
        auto message = folder->AddItem(engine::kItemKindMail);
        EXPECT_TRUE(message.ok());
        // A failure here may be the fault surfacing early (a write running behind); Logoff
        // must then report it too.
        if (!message.value()->Import(file, engine::kImportRfc822).ok()) continue;
        (void)message.value()->Save();
      }
    }
    quill::Status s = session.value()->Logoff();
    if (written != nullptr) *written = session.value()->WrittenPath();
    return s;
  }

  // pstcheck's verdict: empty when the store is sound (findings and notes alike).
  static std::string CheckProblems(const std::string& path) {
    auto report = pst::read::CheckFile(path);
    if (!report.ok()) return report.status().ToString();
    std::string problems;
    for (const auto& f : report->findings) problems += f.where + ": " + f.what + "\n";
    for (const auto& f : report->notes) problems += "note " + f.where + ": " + f.what + "\n";
    if (report->messages != 4) problems += "messages: " + std::to_string(report->messages) + "\n";
    return problems;
  }

  // The independent readers: pypff sees both folders' messages, pst-check finds nothing wrong.
  static void ExpectIndependentReadersAgree(const std::string& path) {
    int status = 0;
    const std::string pypff = RunCommand("/usr/bin/python3 '" + std::string(QUILL_SOURCE_DIR) +
                                             "/tests/readers/pst_dump.py' pypff '" + path + "'",
                                         &status);
    EXPECT_EQ(status, 0) << pypff;
    EXPECT_NE(pypff.find("\"name\": \"Projects\""), std::string::npos) << pypff;
    EXPECT_NE(pypff.find("\"subject\": \"big\""), std::string::npos) << pypff;
    const std::string tool = SharedDir() + "/tools/pst-check/pst-check";
    if (!stdfs::exists(tool)) {
      ADD_FAILURE() << "no pst-check at " << tool;
      return;
    }
    const std::string out = RunCommand("'" + tool + "' '" + path + "'", &status);
    // Exit 1 comes only from errors; the attachments here are plain, so none is expected.
    EXPECT_EQ(status, 0) << out;
  }

  fs::testing::TempTree tree_;
  std::string big_, small_;
};

struct Case {
  const char* name;
  int err;
  Fault fault;
};

// Every call of a small store's session, failed in turn with each kind of fault.
TEST_F(WriteFaults, EveryCallFailingLeavesTheTargetAsItWasOrACompleteStore) {
  fs::FaultyEnv env(fs::PosixEnv());
  const std::string clean = tree_.Folder("clean") + "/Mail.pst";
  env.FailCall(0, 0);
  ASSERT_TRUE(WriteStore(&env, clean).ok());
  const std::uint64_t calls = env.calls();
  ASSERT_EQ(CheckProblems(clean), "");
  ExpectIndependentReadersAgree(clean);
  // The last three calls are the rename into place, the flush of the folder entry and the close
  // that gives up the lock; after the rename the file is in place, so only a failure before it
  // can fail the store. Before it, only calls with a reason to be passed over may fail quietly:
  // the stale-file clean-up (list), a lock on a file system without locks, a look-up right after
  // the lock (the file is opened again), and the write-back hint.
  const std::uint64_t placed = calls - 2;
  auto passedOver = [](const std::string& call) {
    return call == "list" || call == "lock" || call == "stat" || call == "start writeback";
  };
  ASSERT_GE(calls, 12u) << "the store should take several writes";
  std::printf("a small store takes %llu file calls\n", static_cast<unsigned long long>(calls));

  const Case cases[] = {{"full disk", ENOSPC, Fault::kError},
                        {"I/O error", EIO, Fault::kError},
                        {"short write", 0, Fault::kShort},
                        {"short write, then a full disk", ENOSPC, Fault::kShortThenError}};
  for (const Case& c : cases) {
    bool readersRun = c.fault != Fault::kShort;  // the clean store stands for the others
    bool hitWrite = false;
    for (std::uint64_t n = 1; n <= calls; ++n) {
      SCOPED_TRACE(std::string(c.name) + " at call " + std::to_string(n));
      const std::string folder = tree_.Folder("run-" + std::to_string(n) + "-" + std::to_string(c.err) +
                                              (c.fault == Fault::kError ? "" : "-short"));
      const std::string target = folder + "/Mail.pst";
      // Half the runs replace an older file, half write a new one.
      const bool older = n % 2 == 0;
      if (older) std::ofstream(target) << "an older data file";
      env.FailCall(n, c.err, c.fault);
      std::string written;
      const quill::Status s = WriteStore(&env, target, &written);
      const std::string faulted = env.faulted();
      hitWrite = hitWrite || faulted == "write";
      const bool shouldFail = c.fault == Fault::kError
                                  ? n <= placed && !passedOver(faulted)
                                  : c.fault == Fault::kShortThenError && faulted == "write";
      const bool mayFail = c.fault == Fault::kError && n <= placed && passedOver(faulted);
      if (shouldFail || (mayFail && !s.ok())) {
        ASSERT_FALSE(s.ok()) << "the " << faulted << " failed, yet the store was written";
        EXPECT_NE(s.message().find(std::strerror(c.err)), std::string::npos) << s.ToString();
        EXPECT_NE(s.message().find(target), std::string::npos) << s.ToString();
        if (older) {
          EXPECT_EQ(ReadAll(target), "an older data file");
          EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"Mail.pst"});
        } else {
          EXPECT_EQ(FilesIn(folder), std::vector<std::string>{});
        }
      } else {
        ASSERT_TRUE(s.ok()) << s.ToString() << " (the " << faulted << ")";
        EXPECT_EQ(written, target);
        EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"Mail.pst"});
        EXPECT_EQ(CheckProblems(target), "");
        if (!readersRun && faulted == "write") {
          ExpectIndependentReadersAgree(target);
          readersRun = true;
        }
      }
      stdfs::remove_all(folder);
    }
    EXPECT_TRUE(hitWrite) << c.name << ": no call was a write";
    EXPECT_TRUE(readersRun) << c.name
                            << ": the independent readers never saw a store written through a short write";
  }
}

// Failures the system gives only for a rename: a folder that became read-only, a name limit.
TEST_F(WriteFaults, AFailingRenameIsReportedWithItsCause) {
  fs::FaultyEnv env(fs::PosixEnv());
  const std::string clean = tree_.Folder("clean") + "/Mail.pst";
  env.FailCall(0, 0);
  ASSERT_TRUE(WriteStore(&env, clean).ok());
  const std::uint64_t rename = env.calls() - 2;
  for (int err : {EACCES, EROFS, EXDEV, EDQUOT}) {
    const std::string folder = tree_.Folder("rename-" + std::to_string(err));
    const std::string target = folder + "/Mail.pst";
    std::ofstream(target) << "an older data file";
    env.FailCall(rename, err);
    const quill::Status s = WriteStore(&env, target);
    EXPECT_EQ(env.faulted(), "rename");
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.message(), std::string("rename failed (") + std::strerror(err) + "): " + target);
    EXPECT_EQ(ReadAll(target), "an older data file");
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"Mail.pst"});
  }
}

TEST_F(WriteFaults, AVanishingTargetFolderFailsTheLogoffAndLeavesNothing) {
  const std::string folder = tree_.Folder("gone");
  const std::string target = folder + "/Mail.pst";
  auto service = MakeStoreService();
  auto session = service->CreateSession();
  ASSERT_TRUE(session.ok());
  auto store = session.value()->LogonPstStore(target, engine::kStoreFormatUnicode, "Mail");
  ASSERT_TRUE(store.ok());
  ASSERT_TRUE(store.value()->ValidateIPMTree().ok());
  auto inbox = store.value()->GetDefaultFolder(engine::kDefaultFolderInbox);
  auto message = inbox.value()->AddItem(engine::kItemKindMail);
  ASSERT_TRUE(message.value()->Import(big_, engine::kImportRfc822).ok());
  ASSERT_TRUE(message.value()->Save().ok());
  stdfs::remove_all(folder);
  const quill::Status s = session.value()->Logoff();
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.message().find(std::strerror(ENOENT)), std::string::npos) << s.ToString();
  EXPECT_NE(s.message().find(target), std::string::npos) << s.ToString();
  EXPECT_EQ(session.value()->WrittenPath(), "");
  EXPECT_FALSE(stdfs::exists(folder));
}

}  // namespace
}  // namespace pst::store
