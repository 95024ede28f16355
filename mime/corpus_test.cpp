// Parses the shared real-world corpus ($QUILL_SHARED_DIR/corpus): every file must give a
// ParsedMessage with valid UTF-8 throughout, and a few messages must hold what Python's email
// package (policy=default) reports for them.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "mime/charset.h"
#include "mime/message_file.h"

namespace mime {
namespace {

namespace fs = std::filesystem;

fs::path CorpusDir() {
  const char* shared = std::getenv("QUILL_SHARED_DIR");
  return shared == nullptr ? fs::path() : fs::path(shared) / "corpus";
}

// Every text the model hands to a store must be valid UTF-8, however broken the input was.
void ExpectValidUtf8(const ParsedMessage& m, const std::string& where) {
  std::vector<const std::string*> texts = {&m.subject,    &m.subject_prefix, &m.normalized_subject,
                                           &m.message_id, &m.in_reply_to,    &m.references,
                                           &m.headers,    &m.text_body};
  for (const auto* list : {&m.from, &m.sender, &m.reply_to, &m.to, &m.cc, &m.bcc}) {
    for (const Mailbox& b : *list) {
      texts.push_back(&b.name);
      texts.push_back(&b.address);
    }
  }
  for (const Attachment& a : m.attachments) {
    texts.push_back(&a.file_name);
    texts.push_back(&a.content_id);
    if (a.embedded) ExpectValidUtf8(*a.embedded, where + " (embedded)");
  }
  for (const std::string* t : texts) EXPECT_TRUE(IsValidUtf8(*t)) << where << ": " << t->substr(0, 80);
  EXPECT_EQ(m.subject, m.subject_prefix + m.normalized_subject) << where;
}

TEST(MimeCorpus, EveryFileParses) {
  const fs::path dir = CorpusDir();
  if (dir.empty() || !fs::is_directory(dir)) GTEST_SKIP() << "QUILL_SHARED_DIR/corpus not available";
  int files = 0;
  size_t bytes = 0;
  std::chrono::steady_clock::duration parsing{};
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(dir)) {
    if (!e.is_regular_file()) continue;
    const auto start = std::chrono::steady_clock::now();
    quill::Result<ParsedMessage> m = ReadMessageFile(e.path().string());
    parsing += std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(m.ok()) << m.status().ToString();
    ExpectValidUtf8(*m, e.path().string());
    ++files;
    bytes += static_cast<size_t>(e.file_size());
  }
  EXPECT_GE(files, 266);
  const double seconds = std::chrono::duration<double>(parsing).count();
  std::cout << "parsed " << files << " files (" << bytes / 1024 << " KiB) in " << seconds << " s\n";
  EXPECT_LT(seconds, 20.0);
}

TEST(MimeCorpus, KnownMessages) {
  const fs::path dir = CorpusDir();
  if (dir.empty() || !fs::is_directory(dir)) GTEST_SKIP() << "QUILL_SHARED_DIR/corpus not available";
  struct Fact {
    const char* path;
    const char* subject;
    const char* from;
    std::vector<size_t> attachment_sizes;  // In order; for .emlx, Apple keeps the data elsewhere.
  };
  const Fact facts[] = {
      {"mailparser-node/Inbox/nodemailer.eml",
       "Nodemailer is unicode friendly ✔ (1476358788189)",
       "andris@kreata.ee",
       {126, 29361, 28}},
      {"php-mime-mail-parser/Inbox/m0028.eml", "Email with 10 attachments and only plain text content part",
       "test@test.com", std::vector<size_t>(10, 13)},
      {"spamscope-mail-parser/Inbox/mail_test_2.eml",
       "Bollettino Meteorologico del 29/11/2015",
       "meteo@regione.vda.it",
       {9918, 7321, 1089942}},
      {"spamscope-mail-parser/Inbox/mail_test_5.eml",
       "Je prépare mon été zéro complexe !",
       "contact@carlance.fr",
       {137791, 374, 540, 493, 530}},
      {"spamscope-mail-parser/Inbox/mail_test_15.eml",
       "Urgent Request for Order Quotation",
       "do-not-reply@ncs.gov.ng",
       {251141}},  // x-uuencode with trailing blanks stripped.
      // Clear-signed: the signed entity whole (the JPEG and the signature are inside it), the
      // file less its header fields but Content-Type.
      {"mimekit/Signed/thunderbird-signed.eml",
       "This is a test of signing with S/MIME",
       "fejj@gnome.org",
       {213490}},
      {"apple-mail-emlx/Mail/V10/0C1D2E3F-ACCOUNT/INBOX.mbox/Data/Messages/1.emlx",
       "Fwd: Lorem ipsum",
       "philipp@philippkatz.de",
       {0, 0, 0, 0}},
  };
  for (const Fact& f : facts) {
    SCOPED_TRACE(f.path);
    quill::Result<ParsedMessage> m = ReadMessageFile((dir / f.path).string());
    ASSERT_TRUE(m.ok()) << m.status().ToString();
    EXPECT_EQ(m->subject, f.subject);
    ASSERT_EQ(m->from.size(), 1u);
    EXPECT_EQ(m->from[0].address, f.from);
    std::vector<size_t> sizes;
    for (const Attachment& a : m->attachments) sizes.push_back(a.data.size());
    EXPECT_EQ(sizes, f.attachment_sizes);
  }

  quill::Result<ParsedMessage> m = ReadMessageFile((dir / "mailparser-node/Inbox/nodemailer.eml").string());
  ASSERT_TRUE(m.ok());
  EXPECT_EQ(m->date, std::chrono::sys_seconds(std::chrono::seconds(1476358788)));  // 2016-10-13T11:39:48Z
  EXPECT_EQ(m->message_id, "<012d606e-3550-2d94-b566-6cd996de88e3@kreata.ee>");
  ASSERT_EQ(m->attachments.size(), 3u);
  EXPECT_EQ(m->attachments[1].file_name, "nyan cat ✔.gif");
  EXPECT_EQ(m->attachments[1].content_id, "nyan@example.com");
  EXPECT_TRUE(m->attachments[1].hidden);
  EXPECT_FALSE(m->attachments[2].hidden);

  // 408: one message with 328 attachments.
  m = ReadMessageFile((dir / "php-mime-mail-parser/Inbox/issue408.eml").string());
  ASSERT_TRUE(m.ok());
  EXPECT_EQ(m->attachments.size(), 328u);

  // A damaged .emlx: the count runs past the end of the message into the property list.
  m = ReadMessageFile(
      (dir / "apple-mail-emlx/Mail/V10/0C1D2E3F-ACCOUNT/INBOX.mbox/Data/Messages/broken3.emlx").string());
  ASSERT_TRUE(m.ok());
  EXPECT_EQ(m->subject, "Re: Emlx library");
  EXPECT_EQ(m->text_body.find("plist"), std::string::npos);
  ASSERT_TRUE(m->emlx_flags.has_value());
  EXPECT_EQ(m->emlx_flags->raw, 8623489089u);
}

}  // namespace
}  // namespace mime
