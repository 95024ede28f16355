// S/MIME messages in the form Outlook keeps them: the message's one attachment holds the signed
// entity exactly as it stood in the file (so that its signature still verifies) or the decoded CMS
// data, whichever parser read the message. PGP/MIME, and S/MIME that is not the message itself,
// stay ordinary messages.
#include "mime/smime_form.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "mime/message_file.h"

namespace mime {
namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const std::string& name) {
  std::ifstream in(fs::path(QUILL_SMIME_TEST_DATA) / name, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// What the test itself reads as the signed entity: the Content-Type field with its folded lines,
// then everything from the empty line that ends the header section.
std::string SignedEntityOf(const std::string& file) {
  const std::string nl = file.find("\r\n") != std::string::npos ? "\r\n" : "\n";
  const size_t header_end = file.find(nl + nl);
  size_t start = file.find(nl + "Content-Type: multipart/signed");
  if (header_end == std::string::npos || start == std::string::npos || start > header_end) return {};
  start += nl.size();
  size_t stop = start;
  do {
    stop = file.find(nl, stop) + nl.size();
  } while (file[stop] == ' ' || file[stop] == '\t');
  return file.substr(start, stop - start) + file.substr(header_end + nl.size());
}

// The body of a message whose body is one base64 part, decoded by GLib.
std::string Base64BodyOf(const std::string& file) {
  const std::string nl = file.find("\r\n") != std::string::npos ? "\r\n" : "\n";
  const std::string body = file.substr(file.find(nl + nl) + 2 * nl.size());
  gsize length = 0;
  guchar* bytes = g_base64_decode(body.c_str(), &length);
  std::string out(reinterpret_cast<const char*>(bytes), length);
  g_free(bytes);
  return out;
}

// Every case is run with the structural parser (which accepts these messages) and with GMime alone.
class SmimeForm : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { internal::ForceGMimeParser(GetParam()); }
  void TearDown() override { internal::ForceGMimeParser(false); }

  ParsedMessage Parse(const std::string& bytes) {
    const MessageFile file = MessageFile::FromBytes(bytes);
    EXPECT_EQ(internal::ParsedByStructuralParser(file), !GetParam())
        << "the case does not reach the parser it is meant for";
    return file.Content();
  }
};

TEST_P(SmimeForm, ClearSignedKeepsTheSignedEntityAndAReadableBody) {
  for (const char* name : {"clear-signed.eml", "clear-signed-lf.eml"}) {
    SCOPED_TRACE(name);
    const std::string file = ReadBytes(name);
    const ParsedMessage m = Parse(file);
    EXPECT_EQ(m.smime, mime::SmimeForm::kClearSigned);
    ASSERT_EQ(m.attachments.size(), 1u);  // The signature and figures.csv are inside the entity.
    const Attachment& a = m.attachments[0];
    EXPECT_EQ(a.file_name, "smime.p7m");
    EXPECT_EQ(a.mime_type, "multipart/signed");
    EXPECT_FALSE(a.hidden);
    const std::string entity = SignedEntityOf(file);
    ASSERT_GT(entity.size(), 1000u);
    EXPECT_TRUE(a.data == entity) << "entity differs from the file's bytes (" << a.data.size() << " vs "
                                  << entity.size() << " bytes)";
    EXPECT_NE(m.text_body.find("The quarterly figures are attached."), std::string::npos) << m.text_body;
    EXPECT_NE(m.text_body.find("Grüße, Signer"), std::string::npos) << m.text_body;
    EXPECT_EQ(m.subject, "Signed figures");
    EXPECT_NE(m.headers.find("Message-ID: <clear-signed@example.org>"), std::string::npos);
  }
}

TEST_P(SmimeForm, OpaqueSignedAndEncryptedKeepTheCmsDataAndNoBody) {
  const std::pair<const char*, const char*> cases[] = {{"opaque-signed.eml", "application/pkcs7-mime"},
                                                       {"enveloped.eml", "application/x-pkcs7-mime"}};
  for (const auto& [name, type] : cases) {
    SCOPED_TRACE(name);
    const std::string file = ReadBytes(name);
    const ParsedMessage m = Parse(file);
    EXPECT_EQ(m.smime, mime::SmimeForm::kOpaque);
    ASSERT_EQ(m.attachments.size(), 1u);
    EXPECT_EQ(m.attachments[0].file_name, "smime.p7m");
    EXPECT_EQ(m.attachments[0].mime_type, type);
    const std::string der = Base64BodyOf(file);
    ASSERT_GT(der.size(), 500u);
    EXPECT_EQ(static_cast<unsigned char>(der[0]), 0x30u);  // A DER SEQUENCE: the decoding is real.
    EXPECT_TRUE(m.attachments[0].data == der);
    EXPECT_EQ(m.text_body, "");
    EXPECT_EQ(m.html_body, "");
  }
  const ParsedMessage enveloped = Parse(ReadBytes("enveloped.eml"));
  EXPECT_EQ(enveloped.smime_content_type,
            "application/x-pkcs7-mime; smime-type=enveloped-data; name=\"smime.p7m\"");
}

TEST_P(SmimeForm, PgpMimeStaysAnOrdinaryMessageWithItsParts) {
  const ParsedMessage signed_m = Parse(ReadBytes("pgp-signed.eml"));
  EXPECT_EQ(signed_m.smime, mime::SmimeForm::kNone);
  EXPECT_NE(signed_m.text_body.find("The figures, signed with PGP this time."), std::string::npos);
  ASSERT_EQ(signed_m.attachments.size(), 1u);
  EXPECT_EQ(signed_m.attachments[0].file_name, "signature.asc");
  EXPECT_EQ(signed_m.attachments[0].mime_type, "application/pgp-signature");

  const ParsedMessage encrypted = Parse(ReadBytes("pgp-encrypted.eml"));
  EXPECT_EQ(encrypted.smime, mime::SmimeForm::kNone);
  ASSERT_EQ(encrypted.attachments.size(), 2u);
  EXPECT_EQ(encrypted.attachments[0].mime_type, "application/pgp-encrypted");
  EXPECT_EQ(encrypted.attachments[1].file_name, "encrypted.asc");
}

TEST_P(SmimeForm, SignedEntityInsideAnotherMultipartStaysAsItIs) {
  // A list footer after the signed entity: the message is no longer the signed one.
  const ParsedMessage m = Parse(ReadBytes("list-footer.eml"));
  EXPECT_EQ(m.smime, mime::SmimeForm::kNone);
  EXPECT_NE(m.text_body.find("The quarterly figures are attached."), std::string::npos);
  std::vector<std::string> names;
  for (const Attachment& a : m.attachments) names.push_back(a.file_name);
  EXPECT_NE(std::find(names.begin(), names.end(), "figures.csv"), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), "smime.p7s"), names.end());
}

TEST_P(SmimeForm, WhatIsNotPlainlySmimeIsLeftAlone) {
  const std::string head = "From: a@example.org\nSubject: s\nMIME-Version: 1.0\n";
  const std::string signed_body =
      "--b\nContent-Type: text/plain\n\nsigned text\n"
      "--b\nContent-Type: application/pkcs7-signature; name=smime.p7s\nContent-Transfer-Encoding: base64\n\n"
      "MIIBAA==\n--b--\n";
  const std::string signed_type =
      "Content-Type: multipart/signed; protocol=\"application/pkcs7-signature\"; boundary=b\n";
  // The well-formed case first, so that the others fail for the reason they show.
  EXPECT_EQ(Parse(head + signed_type + "\n" + signed_body).smime, mime::SmimeForm::kClearSigned);
  // A multipart that claims an encoding cannot be taken whole.
  const ParsedMessage encoded =
      ParseMessage(head + signed_type + "Content-Transfer-Encoding: base64\n\n" + signed_body);
  EXPECT_EQ(encoded.smime, mime::SmimeForm::kNone);
  // A signature part that is not the one the protocol names.
  std::string other = signed_body;
  other.replace(other.find("application/pkcs7-signature"), 27, "application/octet-stream");
  EXPECT_EQ(ParseMessage(head + signed_type + "\n" + other).smime, mime::SmimeForm::kNone);

  const std::string p7 = "Content-Transfer-Encoding: base64\n\nMIIBAgMEBQ==\n";
  EXPECT_EQ(ParseMessage(head + "Content-Type: application/pkcs7-mime; smime-type=certs-only\n" + p7).smime,
            mime::SmimeForm::kNone);
  EXPECT_EQ(
      ParseMessage(head + "Content-Type: application/pkcs7-mime; smime-type=compressed-data\n" + p7).smime,
      mime::SmimeForm::kNone);
  EXPECT_EQ(ParseMessage(head + "Content-Type: application/x-pkcs7-mime; name=cert.p7c\n" + p7).smime,
            mime::SmimeForm::kNone);
  EXPECT_EQ(ParseMessage(head + "Content-Type: application/octet-stream; name=data.bin\n" + p7).smime,
            mime::SmimeForm::kNone);
  // Data with nothing in it is no protected message; it stays what it was.
  const ParsedMessage empty = ParseMessage(head + "Content-Type: application/pkcs7-mime\n\n");
  EXPECT_EQ(empty.smime, mime::SmimeForm::kNone);
  // An octet-stream named .p7m counts, and a part without a name gets Outlook's.
  const ParsedMessage octet =
      ParseMessage(head + "Content-Type: application/octet-stream; name=\"Mail.P7M\"\n" + p7);
  EXPECT_EQ(octet.smime, mime::SmimeForm::kOpaque);
  ASSERT_EQ(octet.attachments.size(), 1u);
  EXPECT_EQ(octet.attachments[0].file_name, "Mail.P7M");
  const ParsedMessage unnamed =
      ParseMessage(head + "Content-Type: application/pkcs7-mime; smime-type=enveloped-data\n" + p7);
  EXPECT_EQ(unnamed.smime, mime::SmimeForm::kOpaque);
  ASSERT_EQ(unnamed.attachments.size(), 1u);
  EXPECT_EQ(unnamed.attachments[0].file_name, "smime.p7m");
  EXPECT_EQ(unnamed.attachments[0].data, std::string("\x30\x82\x01\x02\x03\x04\x05", 7));
}

TEST_P(SmimeForm, AnEnclosedSignedMessageKeepsItsParts) {
  // Only the file's own message has its bytes at hand as they stood.
  const std::string signed_file = ReadBytes("clear-signed-lf.eml");
  const std::string outer =
      "From: b@example.org\nSubject: Fwd: Signed figures\nMIME-Version: 1.0\n"
      "Content-Type: multipart/mixed; boundary=outer\n\n--outer\nContent-Type: text/plain\n\nsee below\n"
      "--outer\nContent-Type: message/rfc822\n\n" +
      signed_file + "\n--outer--\n";
  const ParsedMessage m = ParseMessage(outer);
  EXPECT_EQ(m.smime, mime::SmimeForm::kNone);
  ASSERT_EQ(m.attachments.size(), 1u);
  ASSERT_NE(m.attachments[0].embedded, nullptr);
  EXPECT_EQ(m.attachments[0].embedded->smime, mime::SmimeForm::kNone);
  EXPECT_EQ(m.attachments[0].embedded->attachments.size(), 2u);  // figures.csv and smime.p7s.
}

TEST_P(SmimeForm, AHugeSignedMessageKeepsItsBytesWhileItsPartsAreDecoded) {
  // Reading a file gives the pages of a large part back to the system as it is decoded (they read
  // as zeros afterwards): the entity must be taken before that.
  std::string payload(18u << 20, '\0');
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>((i * 2654435761u) >> 13);
  gchar* encoded = g_base64_encode(reinterpret_cast<const guchar*>(payload.data()), payload.size());
  std::string lines;
  for (size_t at = 0, n = strlen(encoded); at < n; at += 76)
    lines.append(encoded + at, std::min<size_t>(76, n - at)) += '\n';
  g_free(encoded);
  const std::string file =
      "From: a@example.org\nSubject: big\nMIME-Version: 1.0\n"
      "Content-Type: multipart/signed; protocol=\"application/pkcs7-signature\"; boundary=sig\n\n"
      "--sig\nContent-Type: multipart/mixed; boundary=in\n\n--in\nContent-Type: text/plain\n\nsee the file\n"
      "--in\nContent-Type: application/octet-stream; name=big.bin\nContent-Transfer-Encoding: base64\n\n" +
      lines +
      "--in--\n--sig\nContent-Type: application/pkcs7-signature\nContent-Transfer-Encoding: "
      "base64\n\nMIIB\n--sig--\n";
  const fs::path path = fs::temp_directory_path() / ("quill-smime-" + std::to_string(::getpid()) + ".eml");
  std::ofstream(path, std::ios::binary) << file;
  quill::Result<ParsedMessage> m = ReadMessageFile(path.string());
  fs::remove(path);
  ASSERT_TRUE(m.ok()) << m.status().ToString();
  EXPECT_EQ(m->smime, mime::SmimeForm::kClearSigned);
  EXPECT_EQ(m->text_body, "see the file");
  ASSERT_EQ(m->attachments.size(), 1u);
  const std::string expected = file.substr(file.find("Content-Type: multipart/signed"));
  EXPECT_TRUE(m->attachments[0].data == expected) << "the entity lost bytes to the decoding";
}

INSTANTIATE_TEST_SUITE_P(BothParsers, SmimeForm, ::testing::Values(false, true),
                         [](const auto& param_info) { return param_info.param ? "GMime" : "Structural"; });

}  // namespace
}  // namespace mime
