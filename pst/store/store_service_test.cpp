#include "pst/store/store_service.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "fs/temp_tree_test.h"
#include "pst/folder_depth.h"
#include "pst/read/checker.h"
#include "pst/read/messaging.h"
#include "pst/read/pst_file.h"

namespace pst::store {
namespace {

namespace stdfs = std::filesystem;

// Runs the reader harness over `pst` and returns its JSON output ("" when it could not run).
std::string Dump(const std::string& reader, const std::string& pst) {
  const std::string script = std::string(QUILL_SOURCE_DIR) + "/tests/readers/pst_dump.py";
  FILE* p = popen(("/usr/bin/python3 '" + script + "' " + reader + " '" + pst + "' 2>&1").c_str(), "r");
  if (p == nullptr) return "";
  std::string out;
  char buf[4096];
  while (std::size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  pclose(p);
  return out;
}

bool Contains(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : stdfs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class StoreServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    service_ = MakeStoreService();
    auto session = service_->CreateSession();
    ASSERT_TRUE(session.ok());
    session_ = std::move(session.value());
    target_ = tree_.Folder("out") + "/Mail.pst";
  }

  engine::Store* Logon(const std::string& name = "Mail : Created - 7.12.26 1.34.05") {
    auto store = session_->LogonPstStore(target_, engine::kStoreFormatUnicode, name);
    EXPECT_TRUE(store.ok()) << store.status().ToString();
    if (!store.ok()) return nullptr;
    EXPECT_TRUE(store.value()->ValidateIPMTree().ok());
    return store.value();
  }

  fs::testing::TempTree tree_;
  std::unique_ptr<engine::StoreService> service_;
  std::unique_ptr<engine::StoreSession> session_;
  std::string target_;
};

TEST_F(StoreServiceTest, DefaultFoldersAndPathsAsTheEngineUsesThem) {
  engine::Store* store = Logon("Box");
  ASSERT_NE(store, nullptr);
  auto again = session_->GetStoreFromID(store->EntryID());
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(again.value(), store);
  EXPECT_FALSE(session_->GetStoreFromID("00").ok());
  EXPECT_EQ(store->GetDefaultFolder(engine::kDefaultFolderInbox).value()->Name(), "Inbox");
  EXPECT_EQ(store->GetDefaultFolder(engine::kDefaultFolderSent).value()->Name(), "Sent Items");
  auto names = store->IPMRootFolder().value()->FolderNames();
  ASSERT_TRUE(names.ok());
  for (const char* expected : {"Deleted Items", "Inbox", "Outbox", "Sent Items", "Drafts", "Calendar",
                               "Contacts", "Journal", "Notes", "Tasks", "Junk E-mail"}) {
    EXPECT_NE(std::find(names->begin(), names->end(), expected), names->end()) << expected;
  }
  // Validating twice makes nothing twice.
  EXPECT_TRUE(store->ValidateIPMTree().ok());
  EXPECT_EQ(store->IPMRootFolder().value()->FolderNames()->size(), names->size());

  auto inbox = session_->GetFolderFromPath("\\\\Box\\Inbox");
  ASSERT_TRUE(inbox.ok());
  ASSERT_TRUE(inbox.value()->AddFolder("Projects", engine::kFolderKindMail).ok());
  for (const char* path : {"\\\\Box", "\\\\Box\\", "\\\\Box\\Inbox\\", "\\\\Box\\inbox\\PROJECTS",
                           "\\\\box\\Inbox\\Projects\\"}) {
    EXPECT_TRUE(session_->GetFolderFromPath(path).ok()) << path;
  }
  EXPECT_EQ(session_->GetFolderFromPath("\\\\Box").value()->Name(), "Top of Personal Folders");
  auto missing = session_->GetFolderFromPath("\\\\Box\\Inbox\\Nope\\Deeper");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.status().message(), "Folder \"Nope\" does not exist");

  // Names compare without regard to case: a second "projects" cannot be added.
  EXPECT_EQ(inbox.value()->AddFolder("projects", engine::kFolderKindMail).status().code(),
            quill::Status::Code::kAlreadyExists);
  ASSERT_TRUE(session_->Logoff().ok());
}

TEST_F(StoreServiceTest, ImportedMessagesReadBackWithTheIndependentReaders) {
  const std::string eml = tree_.File("mail/a.eml",
                                     "From: Ada Marrow <ada@example.org>\r\n"
                                     "To: Bruno <bruno@example.org>\r\n"
                                     "Subject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe?= from the store test\r\n"
                                     "Date: Mon, 02 Nov 2026 09:15:00 +0100\r\n"
                                     "Content-Type: text/plain; charset=utf-8\r\n\r\n"
                                     "Hello from the facade.\r\n");
  engine::Store* store = Logon("Box");
  ASSERT_NE(store, nullptr);
  auto inbox = store->GetDefaultFolder(engine::kDefaultFolderInbox);
  ASSERT_TRUE(inbox.ok());
  auto sub = inbox.value()->AddFolder("Тема", engine::kFolderKindMail);  // a name outside Latin-1
  ASSERT_TRUE(sub.ok());
  for (engine::StoreFolder* folder : {inbox.value().get(), sub.value().get()}) {
    auto message = folder->AddItem(engine::kItemKindMail);
    ASSERT_TRUE(message.ok());
    ASSERT_TRUE(message.value()->Import(eml, engine::kImportRfc822).ok());
    auto utils = service_->CreateUtils();
    ASSERT_TRUE(utils.ok());
    ASSERT_TRUE(
        utils.value()->HrSetOneProp(message.value()->MAPIOBJECT(), engine::kPropMessageFlags, 17, true).ok());
    ASSERT_TRUE(message.value()->Save().ok());
  }
  // A message that is never saved leaves no trace.
  ASSERT_TRUE(inbox.value()->AddItem(engine::kItemKindMail).ok());
  auto unreadable = inbox.value()->AddItem(engine::kItemKindMail);
  const quill::Status missing =
      unreadable.value()->Import(tree_.Path("mail/none.eml"), engine::kImportRfc822);
  EXPECT_EQ(missing.code(), quill::Status::Code::kIOError);
  EXPECT_TRUE(Contains(missing.message(), "none.eml"));

  ASSERT_TRUE(session_->Logoff().ok());
  EXPECT_EQ(FilesIn(tree_.Path("out")), std::vector<std::string>{"Mail.pst"});

  EXPECT_EQ(std::system((std::string(QUILL_PSTCHECK) + " '" + target_ + "' >/dev/null").c_str()), 0)
      << "our structural checker finds faults";
  const std::string pypff = Dump("pypff", target_);
  EXPECT_TRUE(Contains(pypff, "\"name\": \"Тема\"")) << pypff;
  EXPECT_TRUE(Contains(pypff, "\"subject\": \"Grüße from the store test\"")) << pypff;
  EXPECT_TRUE(Contains(pypff, "Hello from the facade.")) << pypff;
  const std::string readpst = Dump("readpst", target_);
  EXPECT_TRUE(Contains(readpst, "\"errors\": []")) << readpst;
  EXPECT_TRUE(Contains(readpst, "Inbox\": 1")) << readpst;
  const std::string extractor = Dump("extractor", target_);
  EXPECT_TRUE(Contains(extractor, "\"subject\": \"Grüße from the store test\"")) << extractor;
  EXPECT_TRUE(Contains(extractor, "\"displayName\": \"Box\"")) << extractor;
}

// What Apple Mail, Thunderbird and mbox programs recorded (unread, flagged, answered, forwarded)
// survives the import loop's "read and has attachments" request; mail that records nothing stays
// read. Checked with our reader, with pypff and with the shared structural checker.
TEST_F(StoreServiceTest, RecordedReadFlagAndReplyStateSurviveTheFlagsRequest) {
  const std::string emlxBody = "From: a@example.org\nSubject: apple unread flagged\n\nbody\n";
  const std::vector<std::string> files = {
      // unread (no bit 0), flagged (1<<4), forwarded (1<<8)
      tree_.File("mail/a.emlx",
                 std::to_string(emlxBody.size()) + "\n" + emlxBody +
                     "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
                     "\t<key>flags</key>\n\t<integer>272</integer>\n</dict>\n</plist>\n"),
      tree_.File("mail/b.eml",
                 "From: b@example.org\r\nSubject: mbox unread answered\r\nStatus: O\r\n"
                 "X-Status: A\r\n\r\nbody\r\n"),
      tree_.File("mail/c.eml",
                 "From: c@example.org\r\nSubject: thunderbird read forwarded\r\n"
                 "X-Mozilla-Status: 1001\r\nX-Mozilla-Status2: 00000000\r\n\r\nbody\r\n"),
      tree_.File("mail/d.eml",
                 "From: d@example.org\r\nSubject: nothing recorded\r\nMIME-Version: 1.0\r\n"
                 "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\n"
                 "body\r\n--b\r\nContent-Type: application/octet-stream; name=x.bin\r\n\r\nxyz\r\n--b--\r\n"),
  };
  engine::Store* store = Logon("Box");
  ASSERT_NE(store, nullptr);
  auto inbox = store->GetDefaultFolder(engine::kDefaultFolderInbox);
  ASSERT_TRUE(inbox.ok());
  for (const std::string& file : files) {
    auto message = inbox.value()->AddItem(engine::kItemKindMail);
    ASSERT_TRUE(message.ok());
    ASSERT_TRUE(message.value()->Import(file, engine::kImportRfc822).ok()) << file;
    auto utils = service_->CreateUtils();
    ASSERT_TRUE(utils.ok());
    ASSERT_TRUE(
        utils.value()->HrSetOneProp(message.value()->MAPIOBJECT(), engine::kPropMessageFlags, 17, true).ok());
    ASSERT_TRUE(message.value()->Save().ok());
  }
  ASSERT_TRUE(session_->Logoff().ok());

  // subject -> {message flags, flag status, follow-up icon, icon index, last verb}; -1: absent
  using State = std::array<std::int32_t, 5>;
  const std::map<std::string, State> expected = {
      {"apple unread flagged", {0, 2, 6, 0x106, 104}},
      {"mbox unread answered", {0, -1, -1, 0x105, 102}},
      {"thunderbird read forwarded", {1, -1, -1, 0x106, 104}},
      {"nothing recorded", {17, -1, -1, -1, -1}},
  };
  auto file = pst::read::PstFile::Open(target_);
  ASSERT_TRUE(file.ok()) << file.status().ToString();
  std::map<std::string, State> ours;
  for (const auto& [nid, node] : (*file)->nodes()) {
    if ((nid & 0x1F) != 0x04) continue;
    auto m = pst::read::ReadMessage(**file, nid);
    ASSERT_TRUE(m.ok()) << m.status().ToString();
    State state;
    std::size_t i = 0;
    for (std::uint16_t id : {0x0E07, 0x1090, 0x1095, 0x1080, 0x1081}) {
      state[i++] = pst::read::GetInt32(m->props, id).value_or(-1);
    }
    const std::string subject = pst::read::GetString(m->props, 0x0E1D).value_or("?");
    ours[subject] = state;
    // A flagged message also names its flag, in a named property, as Outlook does.
    int followUpTexts = 0;
    for (const auto& [id, value] : m->props) {
      if (id >= 0x8000 && value.type == 0x001F && pst::read::GetString(m->props, id) == "Follow up")
        ++followUpTexts;
    }
    EXPECT_EQ(followUpTexts, subject == "apple unread flagged" ? 1 : 0) << subject;
  }
  EXPECT_EQ(ours, expected);

  const std::string pypff = Dump("pypff", target_);
  auto compact = [](std::string s) {
    s.erase(std::remove_if(s.begin(), s.end(), [](char c) { return c == ' ' || c == '\n'; }), s.end());
    return s;
  };
  for (const auto& [subject, s] : expected) {
    std::string state = "\"flags\":" + std::to_string(s[0]);
    if (s[1] >= 0)
      state += ",\"flag_status\":" + std::to_string(s[1]) + ",\"followup_icon\":" + std::to_string(s[2]);
    if (s[3] >= 0)
      state += ",\"icon_index\":" + std::to_string(s[3]) + ",\"last_verb\":" + std::to_string(s[4]);
    const std::size_t at = pypff.find("\"subject\": \"" + subject + "\"");
    ASSERT_NE(at, std::string::npos) << subject << "\n" << pypff;
    const std::size_t open = pypff.find("\"state\": {", at);
    ASSERT_NE(open, std::string::npos) << pypff;
    const std::string got = compact(pypff.substr(open + 10, pypff.find('}', open) - open - 10));
    // pypff lists the properties in the order the store holds them; compare as sets of items.
    auto items = [](const std::string& list) {
      std::set<std::string> out;
      std::size_t from = 0;
      while (from <= list.size()) {
        const std::size_t comma = std::min(list.find(',', from), list.size());
        out.insert(list.substr(from, comma - from));
        from = comma + 1;
      }
      return out;
    };
    EXPECT_EQ(items(got), items(state)) << subject;
  }

  EXPECT_EQ(std::system((std::string(QUILL_PSTCHECK) + " --strict '" + target_ + "' >/dev/null").c_str()), 0);
  const char* shared = std::getenv("QUILL_SHARED_DIR");
  const std::string tool =
      (shared != nullptr ? std::string(shared) : std::string(QUILL_SOURCE_DIR) + "/../shared") +
      "/tools/pst-check/pst-check";
  if (!stdfs::exists(tool)) {
    ADD_FAILURE() << "no pst-check at " << tool;
  } else {
    EXPECT_EQ(std::system(("'" + tool + "' '" + target_ + "' >/dev/null 2>&1").c_str()), 0) << tool;
  }
}

// Messages enclosed deeper than the store nests them are kept whole as an .eml attachment at the
// deepest level it holds, with a note, instead of failing the whole message.
TEST_F(StoreServiceTest, MessagesEnclosedTooDeeplyKeepTheirDeepestLevelsAsEml) {
  std::string nested = "From: x@example.org\nSubject: level 12\n\ninnermost text\n";
  for (int i = 11; i >= 0; --i) {
    nested = "From: a@example.org\nSubject: level " + std::to_string(i) +
             "\nContent-Type: message/rfc822\n\n" + nested;
  }
  const std::string eml = tree_.File("mail/deep.eml", nested);
  engine::Store* store = Logon("Box");
  ASSERT_NE(store, nullptr);
  auto inbox = store->GetDefaultFolder(engine::kDefaultFolderInbox);
  ASSERT_TRUE(inbox.ok());
  auto message = inbox.value()->AddItem(engine::kItemKindMail);
  ASSERT_TRUE(message.ok());
  ASSERT_TRUE(message.value()->Import(eml, engine::kImportRfc822).ok());
  const std::vector<std::string> notes = message.value()->ImportNotes();
  EXPECT_NE(std::find(notes.begin(), notes.end(),
                      "messages enclosed deeper than 8 levels kept as an .eml attachment"),
            notes.end());
  const quill::Status saved = message.value()->Save();
  ASSERT_TRUE(saved.ok()) << saved.ToString();
  ASSERT_TRUE(session_->Logoff().ok());

  EXPECT_EQ(std::system((std::string(QUILL_PSTCHECK) + " --strict '" + target_ + "' >/dev/null").c_str()), 0);
  const std::string pypff = Dump("pypff", target_);
  EXPECT_TRUE(Contains(pypff, "\"subject\": \"level 0\"")) << pypff;
  // pffexport writes enclosed messages out level by level; the ninth level and below arrive as
  // one .eml file with all of their text.
  const std::string exported = tree_.Folder("export");
  ASSERT_EQ(std::system(("pffexport -q -t '" + exported + "/x' '" + target_ + "' >/dev/null 2>&1").c_str()),
            0);
  const std::string found = exported + "/found.txt";
  std::system(("grep -rl 'innermost text' '" + exported + "' > '" + found + "'").c_str());
  std::ifstream list(found);
  const std::string hits((std::istreambuf_iterator<char>(list)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(Contains(hits, ".eml")) << hits;
}

std::string Base64(const std::string& bytes) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::uint32_t v = static_cast<std::uint8_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<std::uint8_t>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) v |= static_cast<std::uint8_t>(bytes[i + 2]);
    for (int k = 0; k < 4; ++k) out += i + k <= bytes.size() ? kDigits[(v >> (18 - 6 * k)) & 63] : '=';
    if (i % 57 == 54) out += "\r\n";
  }
  return out + "\r\n";
}

// An attachment entry of pst_dump.py's JSON, whitespace removed.
std::string DumpedAttachment(std::size_t size, const std::string& sha1) {
  return "{\"size\":" + std::to_string(size) + ",\"sha1\":\"" + sha1 + "\"}";
}

// A message whose attachments are of every kind the store writes: small bytes (kept in the
// attachment's heap), bytes over one piece (a stream written piece by piece, with the caller's
// turn between pieces), an enclosed message with an attachment of its own, and more than the
// read-ahead builds ahead, so that the last ones, an enclosed message among them, are made while
// the message is written. Read back by our checker and libpff; the shared checker reads the
// same message without the enclosed ones (it does not open an enclosed message of ours: an
// attach-method error on its attachment, the same before attachment data had a type of its own).
TEST_F(StoreServiceTest, AttachmentsOfEveryKindReadBack) {
  const std::string small(100, 's');
  std::string large(std::size_t{5} << 20, '\0');
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 31 + i / 1000);
  constexpr int kParts = 70;  // past the 64 built ahead
  auto mail = [&](bool withEnclosed) {
    std::string eml =
        "From: a@example.org\r\nSubject: every kind\r\nMIME-Version: 1.0\r\n"
        "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\nbody\r\n";
    auto binary = [&eml](const std::string& name, const std::string& bytes) {
      eml += "--b\r\nContent-Type: application/octet-stream; name=" + name +
             "\r\nContent-Transfer-Encoding: base64\r\n\r\n" + Base64(bytes);
    };
    auto enclosed = [&eml](const std::string& subject) {
      eml += "--b\r\nContent-Type: message/rfc822\r\n\r\nFrom: b@example.org\r\nSubject: " + subject +
             "\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=c\r\n\r\n--c\r\n"
             "Content-Type: text/plain\r\n\r\ninner\r\n--c\r\nContent-Type: application/octet-stream; "
             "name=in.bin\r\n\r\n"
             "inner bytes\r\n--c--\r\n";
    };
    binary("small.bin", small);
    binary("large.bin", large);
    if (withEnclosed) enclosed("enclosed early");
    for (int i = 0; i < kParts; ++i) {
      if (withEnclosed && i == kParts - 2) {
        enclosed("enclosed late");
      } else {
        binary("p" + std::to_string(i) + ".txt", "part " + std::to_string(i));
      }
    }
    return eml + "--b--\r\n";
  };
  // Converts the mail into `target`; returns the caller's turns during Save.
  auto convert = [&](engine::StoreSession& session, const std::string& target, bool withEnclosed) {
    const std::string path = tree_.File("mail/kinds.eml", mail(withEnclosed));
    auto store = session.LogonPstStore(target, engine::kStoreFormatUnicode, "Box");
    EXPECT_TRUE(store.ok() && store.value()->ValidateIPMTree().ok());
    if (!store.ok()) return -1;
    int turns = 0;
    session.SetYield([&turns] { ++turns; });
    auto inbox = store.value()->GetDefaultFolder(engine::kDefaultFolderInbox);
    EXPECT_TRUE(inbox.ok());
    if (!inbox.ok()) return -1;
    auto message = inbox.value()->AddItem(engine::kItemKindMail);
    EXPECT_TRUE(message.ok() && message.value()->Import(path, engine::kImportRfc822).ok());
    turns = 0;
    const quill::Status saved = message.value()->Save();
    EXPECT_TRUE(saved.ok()) << saved.ToString();
    const int during = turns;
    EXPECT_TRUE(session.Logoff().ok());
    return during;
  };
  EXPECT_EQ(convert(*session_, target_, true), 1)
      << "one turn between the two pieces of the large attachment";

  quill::Result<pst::read::CheckReport> report = pst::read::CheckFile(target_);
  ASSERT_TRUE(report.ok()) << report.status().ToString();
  for (const pst::read::Finding& f : report->findings) ADD_FAILURE() << f.where << ": " << f.what;
  EXPECT_EQ(report->messages, 3u) << "the message and the two enclosed in it";
  EXPECT_EQ(report->attachments, 2u + 1u + kParts + 2u);

  std::string pypff = Dump("pypff", target_);
  pypff.erase(std::remove_if(pypff.begin(), pypff.end(), [](char c) { return c == ' ' || c == '\n'; }),
              pypff.end());
  auto sha1 = [](const std::string& file) {
    FILE* p = popen(("sha1sum '" + file + "'").c_str(), "r");
    char digest[41] = {};
    if (p != nullptr) {
      if (fread(digest, 1, 40, p) != 40) digest[0] = '\0';
      pclose(p);
    }
    return std::string(digest);
  };
  EXPECT_TRUE(Contains(pypff, DumpedAttachment(small.size(), sha1(tree_.File("small.bin", small)))))
      << pypff.substr(0, 2000);
  EXPECT_TRUE(Contains(pypff, DumpedAttachment(large.size(), sha1(tree_.File("large.bin", large)))));
  for (int i : {0, 40, kParts - 1}) {  // one built ahead, two made while written
    const std::string text = "part " + std::to_string(i);
    EXPECT_TRUE(Contains(pypff, DumpedAttachment(text.size(), sha1(tree_.File("p.txt", text))))) << text;
  }

  auto plain = service_->CreateSession();
  ASSERT_TRUE(plain.ok());
  const std::string plainTarget = tree_.Folder("out") + "/Plain.pst";
  EXPECT_EQ(convert(*plain.value(), plainTarget, false), 1);
  const char* shared = std::getenv("QUILL_SHARED_DIR");
  const std::string tool =
      (shared != nullptr ? std::string(shared) : std::string(QUILL_SOURCE_DIR) + "/../shared") +
      "/tools/pst-check/pst-check";
  if (!stdfs::exists(tool)) {
    ADD_FAILURE() << "no pst-check at " << tool;
  } else {
    EXPECT_EQ(std::system(("'" + tool + "' '" + plainTarget + "' >/dev/null 2>&1").c_str()), 0) << tool;
  }
}

// Folder names that differ only in letter case, in any script, are one folder; the name stays
// as it was first given.
TEST_F(StoreServiceTest, FolderNamesDifferingOnlyInCaseAreOneFolder) {
  engine::Store* store = Logon("\xC3\x84rchiv");  // Ärchiv: the store's name in a path compares alike
  ASSERT_NE(store, nullptr);
  auto root = store->IPMRootFolder();
  ASSERT_TRUE(root.ok());
  ASSERT_TRUE(root.value()->AddFolder("\xC3\x84rger", engine::kFolderKindMail).ok());          // Ärger
  EXPECT_EQ(root.value()->AddFolder("\xC3\xA4rger", engine::kFolderKindMail).status().code(),  // ärger
            quill::Status::Code::kAlreadyExists);
  EXPECT_EQ(root.value()->AddFolder("INBOX", engine::kFolderKindMail).status().code(),
            quill::Status::Code::kAlreadyExists);
  auto found = session_->GetFolderFromPath("\\\\\xC3\xA4RCHIV\\\xC3\xA4RGER");
  ASSERT_TRUE(found.ok());
  EXPECT_EQ(found.value()->Name(), "\xC3\x84rger");
  EXPECT_TRUE(root.value()->AddFolder("Arger", engine::kFolderKindMail).ok())
      << "another letter, another folder";
  auto names = root.value()->FolderNames();
  ASSERT_TRUE(names.ok());
  EXPECT_EQ(std::count(names->begin(), names->end(), "\xC3\x84rger"), 1);
  EXPECT_EQ(std::count(names->begin(), names->end(), "\xC3\xA4rger"), 0);
  ASSERT_TRUE(session_->Logoff().ok());
}

// The folder an entry id names: its nid is the last four bytes.
std::string FolderNamed(const pst::read::PstFile& file, const std::vector<std::uint8_t>& entryId) {
  if (entryId.size() != 24) return "<entry id of " + std::to_string(entryId.size()) + " bytes>";
  const std::uint32_t nid =
      entryId[20] | entryId[21] << 8 | entryId[22] << 16 | static_cast<std::uint32_t>(entryId[23]) << 24;
  auto folder = pst::read::ReadFolder(file, nid);
  return folder.ok() ? folder->name : "<no folder " + std::to_string(nid) + ">";
}

TEST_F(StoreServiceTest, OutlookFindsEveryDefaultFolderByItsEntryId) {
  ASSERT_NE(Logon("Box"), nullptr);
  ASSERT_TRUE(session_->Logoff().ok());
  auto file = pst::read::PstFile::Open(target_);
  ASSERT_TRUE(file.ok()) << file.status().ToString();
  auto root = pst::read::ReadFolder(**file, 0x122);
  ASSERT_TRUE(root.ok());
  auto top = pst::read::ReadFolder(**file, 0x8022);
  ASSERT_TRUE(top.ok() && top->hierarchy);
  std::uint32_t inboxNid = 0;
  for (const auto& row : top->hierarchy->rows) {
    if (pst::read::GetString(row.cells, 0x3001) == std::optional<std::string>("Inbox")) inboxNid = row.row_id;
  }
  auto inbox = pst::read::ReadFolder(**file, inboxNid);
  ASSERT_TRUE(inbox.ok());
  const std::pair<std::uint16_t, const char*> expected[] = {{0x36D0, "Calendar"}, {0x36D1, "Contacts"},
                                                            {0x36D2, "Journal"},  {0x36D3, "Notes"},
                                                            {0x36D4, "Tasks"},    {0x36D7, "Drafts"}};
  for (const pst::read::Folder* holder : {&root.value(), &inbox.value()}) {
    for (const auto& [id, name] : expected) {
      auto entryId = pst::read::GetBinary(holder->props, id);
      ASSERT_TRUE(entryId.has_value()) << std::hex << id << " on " << holder->name;
      EXPECT_EQ(FolderNamed(**file, *entryId), name);
    }
    // Junk E-mail is the fifth entry of a multi-valued binary: count, then offsets, then the ids.
    const auto junk = holder->props.find(0x36D8);
    ASSERT_NE(junk, holder->props.end());
    const std::vector<std::uint8_t>& b = junk->second.bytes;
    ASSERT_GE(b.size(), 4u + 5 * 4 + 24);
    EXPECT_EQ(b[0], 5);
    EXPECT_EQ(FolderNamed(**file, std::vector<std::uint8_t>(b.end() - 24, b.end())), "Junk E-mail");
  }
}

TEST_F(StoreServiceTest, ASessionThatNeverLogsOffLeavesTheTargetAsItWas) {
  { std::ofstream(target_) << "an older data file"; }
  ASSERT_NE(Logon(), nullptr);
  session_.reset();
  EXPECT_EQ(FilesIn(tree_.Path("out")), std::vector<std::string>{"Mail.pst"});
  std::ifstream in(target_);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "an older data file");
}

TEST_F(StoreServiceTest, ASecondSessionOnTheSameTargetIsRefused) {
  ASSERT_NE(Logon(), nullptr);
  auto other = service_->CreateSession();
  ASSERT_TRUE(other.ok());
  auto store = other.value()->LogonPstStore(target_, engine::kStoreFormatUnicode, "Other");
  ASSERT_FALSE(store.ok());
  EXPECT_EQ(store.status().message(), "another conversion is writing " + target_);
  EXPECT_EQ(other.value()->WrittenPath(), "");
  ASSERT_TRUE(session_->Logoff().ok());
  EXPECT_EQ(session_->WrittenPath(), target_);
  // The first has finished: the target may be written again.
  auto again = service_->CreateSession();
  ASSERT_TRUE(again.value()->LogonPstStore(target_, engine::kStoreFormatUnicode, "Again").ok());
  ASSERT_TRUE(again.value()->Logoff().ok());
  EXPECT_EQ(FilesIn(tree_.Path("out")), std::vector<std::string>{"Mail.pst"});
}

TEST_F(StoreServiceTest, AFileThatTookTheTargetMeanwhileIsKeptAndTheStoreGoesBesideIt) {
  ASSERT_NE(Logon(), nullptr);
  { std::ofstream(target_) << "written by someone else meanwhile"; }
  EXPECT_EQ(session_->WrittenPath(), "");
  ASSERT_TRUE(session_->Logoff().ok());
  EXPECT_EQ(session_->WrittenPath(), tree_.Path("out/Mail (2).pst"));
  EXPECT_EQ(FilesIn(tree_.Path("out")), (std::vector<std::string>{"Mail (2).pst", "Mail.pst"}));
  std::ifstream in(target_);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "written by someone else meanwhile");
  EXPECT_EQ(
      std::system((std::string(QUILL_PSTCHECK) + " '" + session_->WrittenPath() + "' >/dev/null").c_str()),
      0);
}

// The writer stops where the checker would complain, and not a level earlier.
TEST_F(StoreServiceTest, FoldersGoAsDeepAsTheCheckerAllowsAndNoDeeper) {
  engine::Store* store = Logon();
  ASSERT_NE(store, nullptr);
  auto folder = store->IPMRootFolder();
  ASSERT_TRUE(folder.ok());
  std::unique_ptr<engine::StoreFolder> at = std::move(folder.value());
  for (int level = 1; level <= pst::kMaxFolderDepth; ++level) {
    auto child = at->AddFolder("L" + std::to_string(level), engine::kFolderKindMail);
    ASSERT_TRUE(child.ok()) << level << ": " << child.status().ToString();
    at = std::move(child.value());
  }
  auto deeper = at->AddFolder("one too many", engine::kFolderKindMail);
  ASSERT_FALSE(deeper.ok());
  EXPECT_EQ(deeper.status().message(),
            "the folder tree is deeper than " + std::to_string(pst::kMaxFolderDepth) + " levels");
  // The session goes on: a message in the deepest folder, and folders elsewhere.
  auto message = at->AddItem(engine::kItemKindMail);
  ASSERT_TRUE(message.ok());
  ASSERT_TRUE(message.value()->Save().ok());
  auto inbox = store->GetDefaultFolder(engine::kDefaultFolderInbox);
  ASSERT_TRUE(inbox.value()->AddFolder("Beside", engine::kFolderKindMail).ok());
  ASSERT_TRUE(session_->Logoff().ok());
  EXPECT_EQ(std::system((std::string(QUILL_PSTCHECK) + " --strict '" + target_ + "' >/dev/null").c_str()), 0)
      << "pstcheck --strict finds faults in a tree as deep as the writer allows";
  // The checker counts steps from the root folder: the deepest folder is one step further down
  // than its level.
  auto report = pst::read::CheckFile(target_);
  ASSERT_TRUE(report.ok());
  int deepest = 0;
  for (const auto& f : report->folders) deepest = std::max(deepest, f.depth);
  EXPECT_EQ(deepest, pst::kMaxFolderDepth + 1);
  EXPECT_TRUE(report->findings.empty());
}

TEST_F(StoreServiceTest, AFileThatCannotBeCreatedIsReportedWithItsPath) {
  auto store = session_->LogonPstStore(tree_.Path("no/such/folder/x.pst"), engine::kStoreFormatUnicode, "X");
  ASSERT_FALSE(store.ok());
  EXPECT_TRUE(Contains(store.status().message(), "no/such/folder")) << store.status().message();
  EXPECT_FALSE(session_->LogonPstStore(target_, 2, "X").ok());
}

}  // namespace
}  // namespace pst::store
