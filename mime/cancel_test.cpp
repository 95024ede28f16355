// A stop request must reach the loops that can run for seconds on one huge message: each gives
// up within one piece of its input, and a message cut short is reported as stopped, never handed
// on half-built.
#include "common/cancel.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "mime/charset.h"
#include "mime/message_file.h"
#include "mime/part_data.h"
#include "mime/quoted_printable.h"

namespace mime {
namespace {

using Clock = std::chrono::steady_clock;

// Clears the process-wide flag before and after each test, so no other test sees it.
class MimeCancel : public ::testing::Test {
 protected:
  void SetUp() override { quill::ClearCancel(); }
  void TearDown() override { quill::ClearCancel(); }
};

std::string Base64Of(size_t lines) {
  std::string s;
  s.reserve(lines * 77);
  for (size_t i = 0; i < lines; ++i)
    s += "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2d3h5ejAxMjM0\n";
  return s;
}

TEST_F(MimeCancel, RequestFromASignalHandlerIsSeen) {
  struct sigaction action {};
  action.sa_handler = [](int) { quill::RequestCancel(); };
  struct sigaction old {};
  ASSERT_EQ(::sigaction(SIGUSR2, &action, &old), 0);
  EXPECT_FALSE(quill::CancelRequested());
  ::raise(SIGUSR2);
  EXPECT_TRUE(quill::CancelRequested());
  ::sigaction(SIGUSR2, &old, nullptr);
  quill::ClearCancel();
  EXPECT_FALSE(quill::CancelRequested());
  EXPECT_TRUE(quill::IsStopped(quill::StoppedStatus()));
  EXPECT_EQ(quill::StoppedStatus().message(), "stopped by the user");
}

TEST_F(MimeCancel, DecodersGiveUpWithinOnePiece) {
  const std::string base64 = Base64Of(400000);  // About 30 MiB.
  std::string qp;
  for (int i = 0; i < 400000; ++i) qp += "caf=C3=A9 and more text to fill a line of quoted-printable=\n";
  std::string uu = "begin 644 x\n";
  for (int i = 0; i < 400000; ++i) uu += "M86)C9&5F9VAI:FML;6YO<'%R<W1U=G=X>7I!0D-$149'2$E*2TQ-3D]045)3\n";

  // Without a stop everything is decoded ...
  EXPECT_GT(Base64Decode(base64).size(), 20u << 20);
  EXPECT_GT(QuotedPrintableDecode(qp).size(), 20u << 20);
  EXPECT_GT(UuDecode(uu).size(), 15u << 20);
  // ... with one, no more than the piece that was under way.
  quill::RequestCancel();
  EXPECT_LE(Base64Decode(base64).size(), kCancelCheckBytes);
  EXPECT_LE(QuotedPrintableDecode(qp).size(), kCancelCheckBytes);
  EXPECT_LE(UuDecode(uu).size(), kCancelCheckBytes);
}

TEST_F(MimeCancel, CharsetConversionInPiecesKeepsCutSequences) {
  // EUC-JP goes through iconv. One ASCII byte first puts every piece boundary inside a
  // two-byte character; each must be joined again, not marked as invalid.
  std::string euc = "x";
  std::string utf8 = "x";
  for (int i = 0; i < 1500000; ++i) {
    euc += "\xA4\xA2";
    utf8 += "\xE3\x81\x82";  // U+3042
  }
  EXPECT_EQ(ToUtf8(euc, "euc-jp"), utf8);

  quill::RequestCancel();
  EXPECT_LE(ToUtf8(euc, "euc-jp").size(), 2 * kCancelCheckBytes);
}

TEST_F(MimeCancel, MessageCutShortIsReportedAsStopped) {
  char dir_template[] = "/tmp/quill-cancel-XXXXXX";
  const std::string dir = ::mkdtemp(dir_template);
  const std::string path = dir + "/big.eml";
  {
    std::ofstream out(path, std::ios::binary);
    out << "From: a@example.org\nSubject: big\nMIME-Version: 1.0\n"
           "Content-Type: multipart/mixed; boundary=\"b\"\n\n--b\nContent-Type: text/plain\n\nbody\n--b\n"
           "Content-Type: application/octet-stream\nContent-Transfer-Encoding: base64\n\n"
        << Base64Of(800000) << "--b--\n";  // About 60 MiB.
  }

  // How long the whole message takes here and now ...
  auto start = Clock::now();
  quill::Result<ParsedMessage> whole = ReadMessageFile(path);
  const auto full = Clock::now() - start;
  ASSERT_TRUE(whole.ok());
  ASSERT_EQ(whole->attachments.size(), 1u);

  // ... and how long it goes on after a stop requested from another thread a quarter of the way
  // in. The thread may be late on a busy machine; then the read is tried again.
  bool measured = false;
  for (int attempt = 0; attempt < 3 && !measured; ++attempt) {
    quill::ClearCancel();
    Clock::time_point requested{};
    std::thread stopper([&] {
      std::this_thread::sleep_for(full / 4);
      requested = Clock::now();
      quill::RequestCancel();
    });
    start = Clock::now();
    quill::Result<ParsedMessage> cut = ReadMessageFile(path);
    const auto returned = Clock::now();
    stopper.join();
    if (cut.ok()) continue;  // Finished before the request came.
    measured = true;
    EXPECT_TRUE(quill::IsStopped(cut.status())) << cut.status().ToString();
    EXPECT_LT(returned - requested, full / 2) << "a stop must not wait for the rest of the message";
  }
  EXPECT_TRUE(measured);
  ::unlink(path.c_str());
  ::rmdir(dir.c_str());
}

}  // namespace
}  // namespace mime
