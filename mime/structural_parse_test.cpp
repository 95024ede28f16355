// The structural parser against GMime: every message it accepts must give the very same
// ParsedMessage as GMime's parse, for real-world files, generated mailboxes and damaged
// variants of them; and it must decline what it cannot read exactly as GMime does.
#include "mime/structural_parse.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "mime/message_file.h"
#include "mime/structural_entity.h"

namespace mime {
namespace {

namespace fs = std::filesystem;

// Restores the default (structural parser where it accepts) however a test ends.
struct GMimeForcedFor {
  GMimeForcedFor() { internal::ForceGMimeParser(true); }
  ~GMimeForcedFor() { internal::ForceGMimeParser(false); }
};

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Show(const std::string& s) { return s.size() > 120 ? s.substr(0, 120) + "..." : s; }

// The first field in which `a` and `b` differ, or "" when they are equal throughout.
std::string Difference(const ParsedMessage& a, const ParsedMessage& b) {
  const std::pair<const char*, std::pair<const std::string*, const std::string*>> texts[] = {
      {"subject", {&a.subject, &b.subject}},
      {"subject_prefix", {&a.subject_prefix, &b.subject_prefix}},
      {"normalized_subject", {&a.normalized_subject, &b.normalized_subject}},
      {"message_id", {&a.message_id, &b.message_id}},
      {"in_reply_to", {&a.in_reply_to, &b.in_reply_to}},
      {"references", {&a.references, &b.references}},
      {"headers", {&a.headers, &b.headers}},
      {"text_body", {&a.text_body, &b.text_body}},
      {"html_body", {&a.html_body, &b.html_body}},
      {"html_charset", {&a.html_charset, &b.html_charset}},
  };
  for (const auto& [name, pair] : texts) {
    if (*pair.first != *pair.second)
      return std::string(name) + ": [" + Show(*pair.first) + "] vs [" + Show(*pair.second) + "]";
  }
  const std::pair<const char*, std::pair<const std::vector<Mailbox>*, const std::vector<Mailbox>*>> lists[] =
      {
          {"from", {&a.from, &b.from}},
          {"sender", {&a.sender, &b.sender}},
          {"reply_to", {&a.reply_to, &b.reply_to}},
          {"to", {&a.to, &b.to}},
          {"cc", {&a.cc, &b.cc}},
          {"bcc", {&a.bcc, &b.bcc}},
      };
  for (const auto& [name, pair] : lists) {
    if (pair.first->size() != pair.second->size()) return std::string(name) + ": count";
    for (size_t i = 0; i < pair.first->size(); ++i) {
      const Mailbox& x = (*pair.first)[i];
      const Mailbox& y = (*pair.second)[i];
      if (x.name != y.name || x.address != y.address) {
        return std::string(name) + ": [" + x.name + " <" + x.address + ">] vs [" + y.name + " <" + y.address +
               ">]";
      }
    }
  }
  if (a.date != b.date || a.date_state != b.date_state) return "date";
  if (a.received_date != b.received_date) return "received_date";
  if (a.importance != b.importance || a.priority != b.priority || a.sensitivity != b.sensitivity) {
    return "importance, priority or sensitivity";
  }
  if (a.text_from_html != b.text_from_html) return "text_from_html";
  if (a.emlx_flags.has_value() != b.emlx_flags.has_value() ||
      (a.emlx_flags && a.emlx_flags->raw != b.emlx_flags->raw)) {
    return "emlx_flags";
  }
  if (a.notes != b.notes) return "notes";
  if (a.smime != b.smime) return "smime";
  if (a.attachments.size() != b.attachments.size()) {
    return "attachments: " + std::to_string(a.attachments.size()) + " vs " +
           std::to_string(b.attachments.size());
  }
  for (size_t i = 0; i < a.attachments.size(); ++i) {
    const Attachment& x = a.attachments[i];
    const Attachment& y = b.attachments[i];
    const std::string at = "attachment " + std::to_string(i) + " ";
    if (x.file_name != y.file_name) return at + "file_name: [" + x.file_name + "] vs [" + y.file_name + "]";
    if (x.mime_type != y.mime_type) return at + "mime_type: " + x.mime_type + " vs " + y.mime_type;
    if (x.content_id != y.content_id)
      return at + "content_id: [" + x.content_id + "] vs [" + y.content_id + "]";
    if (x.content_location != y.content_location) return at + "content_location";
    if (x.inline_disposition != y.inline_disposition) return at + "inline_disposition";
    if (x.hidden != y.hidden) return at + "hidden";
    if (x.data != y.data)
      return at + "data (" + std::to_string(x.data.size()) + " vs " + std::to_string(y.data.size()) +
             " bytes)";
    if ((x.embedded == nullptr) != (y.embedded == nullptr)) return at + "embedded";
    if (x.embedded) {
      if (std::string d = Difference(*x.embedded, *y.embedded); !d.empty()) return at + "embedded " + d;
    }
  }
  return {};
}

struct Outcome {
  bool accepted = false;  // By the structural parser.
  std::string difference;
};

// Parses `bytes` both ways and compares them when the structural parser accepted.
Outcome ParseBothWays(std::string_view bytes) {
  Outcome o;
  const MessageFile byStructural = MessageFile::FromBytes(bytes);
  o.accepted = internal::ParsedByStructuralParser(byStructural);
  if (!o.accepted) return o;
  const ParsedMessage structural = byStructural.Content();
  GMimeForcedFor forced;
  const MessageFile byGMime = MessageFile::FromBytes(bytes);
  EXPECT_FALSE(internal::ParsedByStructuralParser(byGMime));
  o.difference = Difference(structural, byGMime.Content());
  return o;
}

std::vector<fs::path> FilesUnder(const fs::path& dir) {
  std::vector<fs::path> files;
  if (dir.empty() || !fs::is_directory(dir)) return files;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(dir)) {
    if (e.is_regular_file()) files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

fs::path CorpusDir() {
  const char* shared = std::getenv("QUILL_SHARED_DIR");
  return shared == nullptr ? fs::path() : fs::path(shared) / "corpus";
}

// A directory of its own under the temp directory, removed when the process ends.
struct ScratchDir {
  fs::path path = fs::temp_directory_path() / ("quill-structural-parse-" + std::to_string(::getpid()));
  ScratchDir() { fs::remove_all(path); }
  ~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
};

// Generates the benchmark's kind of mailbox (the generator is deterministic); empty when python3
// is missing or fails.
fs::path GeneratedMailbox() {
  static const ScratchDir scratch;
  static const fs::path dir = [] {
    const std::string command =
        "python3 '" + std::string(QUILL_SOURCE_DIR) + "/bench/gen_mailbox.py' '" + scratch.path.string() +
        "' --messages 300 --folders 3 --seed 7 --min-kb 1 --max-kb 200 >/dev/null 2>&1";
    return std::system(command.c_str()) == 0 ? scratch.path : fs::path();
  }();
  return dir;
}

// Every file of `files` parsed both ways; returns how many the structural parser accepted.
int CheckFiles(const std::vector<fs::path>& files) {
  int accepted = 0;
  for (const fs::path& f : files) {
    const Outcome o = ParseBothWays(ReadBytes(f));
    accepted += o.accepted;
    EXPECT_EQ(o.difference, "") << f;
  }
  return accepted;
}

TEST(StructuralParse, SameContentAsGMimeForTheCorpus) {
  const std::vector<fs::path> files = FilesUnder(CorpusDir());
  if (files.empty()) GTEST_SKIP() << "QUILL_SHARED_DIR/corpus not available";
  const int accepted = CheckFiles(files);
  std::cout << "structural parser accepted " << accepted << " of " << files.size() << " corpus files\n";
  // Most real mail is well-formed; a parser that declines nearly everything is broken.
  EXPECT_GE(accepted * 2, static_cast<int>(files.size()));
}

TEST(StructuralParse, SameContentAsGMimeForTestAndSampleMail) {
  std::vector<fs::path> files = FilesUnder(QUILL_MIME_TEST_DATA);
  for (const fs::path& f : FilesUnder(QUILL_SAMPLES_DIR)) files.push_back(f);
  ASSERT_GE(files.size(), 30u);
  const int accepted = CheckFiles(files);
  std::cout << "structural parser accepted " << accepted << " of " << files.size()
            << " test and sample files\n";
  EXPECT_GT(accepted, 10);
}

TEST(StructuralParse, SameContentAsGMimeForGeneratedMailbox) {
  const fs::path dir = GeneratedMailbox();
  if (dir.empty()) GTEST_SKIP() << "python3 could not generate a mailbox";
  std::vector<fs::path> files;
  for (const fs::path& f : FilesUnder(dir)) {
    if (f.extension() == ".eml") files.push_back(f);
  }
  ASSERT_EQ(files.size(), 300u);
  const int accepted = CheckFiles(files);
  std::cout << "structural parser accepted " << accepted << " of " << files.size() << " generated messages\n";
  // The generator writes only well-formed messages of the shapes the structural parser is for.
  EXPECT_EQ(accepted, 300);
}

// Damage of the kinds real files show, applied at random places.
std::vector<std::string> Mutations(const std::string& m, std::mt19937& rng) {
  std::vector<std::string> out;
  auto pick = [&](size_t n) {
    return n == 0 ? size_t{0} : std::uniform_int_distribution<size_t>(0, n - 1)(rng);
  };
  std::vector<size_t> delimiters;  // Starts of lines that begin with "--".
  for (size_t at = m.find("\n--"); at != std::string::npos; at = m.find("\n--", at + 1))
    delimiters.push_back(at + 1);
  auto line_end = [&](size_t at) {
    const size_t nl = m.find('\n', at);
    return nl == std::string::npos ? m.size() : nl + 1;
  };

  for (int i = 0; i < 4; ++i) out.push_back(m.substr(0, pick(m.size() + 1)));  // Truncated.
  if (!delimiters.empty()) {
    const size_t d = delimiters[pick(delimiters.size())];
    std::string dropped = m;
    dropped.erase(d, line_end(d) - d);  // One delimiter line gone (closing or not).
    out.push_back(dropped);
    std::string doubled = m;
    doubled.insert(d, m.substr(d, line_end(d) - d));  // One delimiter line twice.
    out.push_back(doubled);
    std::string padded = m;
    const size_t e = line_end(d);
    const size_t text_end = e > d && m[e - 1] == '\n' ? (e - 2 >= d && m[e - 2] == '\r' ? e - 2 : e - 1) : e;
    padded.insert(text_end, pick(2) ? " \t" : "\r");  // Trailing white space on a delimiter.
    out.push_back(padded);
    std::string crlf_delimiter = m;
    if (text_end < e && m[text_end] == '\n') crlf_delimiter.insert(text_end, "\r");
    out.push_back(crlf_delimiter);
    for (int i = 0; i < 3; ++i) {  // A delimiter line copied to the start of another line.
      std::string moved = m;
      size_t at = m.rfind('\n', pick(m.size()));
      at = at == std::string::npos ? 0 : at + 1;
      moved.insert(at, m.substr(d, e - d));
      out.push_back(moved);
    }
  }
  for (int i = 0; i < 3; ++i) {  // A line gone.
    std::string shorter = m;
    size_t at = m.rfind('\n', pick(m.size()));
    at = at == std::string::npos ? 0 : at + 1;
    const size_t nl = m.find('\n', at);
    shorter.erase(at, nl == std::string::npos ? std::string::npos : nl + 1 - at);
    out.push_back(shorter);
  }
  std::string all_crlf;  // LF to CR LF from a random point on.
  const size_t from = pick(m.size() + 1);
  all_crlf = m.substr(0, from);
  for (size_t i = from; i < m.size(); ++i) {
    if (m[i] == '\n' && (i == 0 || m[i - 1] != '\r')) all_crlf += '\r';
    all_crlf += m[i];
  }
  out.push_back(all_crlf);
  std::string all_lf;  // CR LF to LF everywhere.
  for (size_t i = 0; i < m.size(); ++i) {
    if (!(m[i] == '\r' && i + 1 < m.size() && m[i + 1] == '\n')) all_lf += m[i];
  }
  out.push_back(all_lf);
  const char* odd_lines[] = {"No colon here\n",
                             " folded start\n",
                             "Subject : spaced name\n",
                             "X-Eight: caf\xE9\n",
                             "X-Empty:\n",
                             "Content-Type: text/html\n",
                             "X-Tab:\tvalue\n",
                             ":no name\n",
                             "Content-Transfer-Encoding: x-uuencode\n",
                             "From: second <second@example.org>\n",
                             "Date: not a date\n",
                             "Message-ID: <another@example.org>\n"};
  for (int i = 0; i < 3; ++i) {
    // An odd line among the top-level header lines.
    const size_t end = m.find("\n\n");
    size_t at = pick(end == std::string::npos ? m.size() : end + 1);
    at = m.rfind('\n', at);
    at = at == std::string::npos ? 0 : at + 1;
    std::string odd = m;
    odd.insert(at, odd_lines[pick(std::size(odd_lines))]);
    out.push_back(odd);
  }
  return out;
}

TEST(StructuralParse, DamagedMessagesAreDeclinedOrReadAlike) {
  std::vector<fs::path> files = FilesUnder(QUILL_MIME_TEST_DATA);
  const fs::path generated = GeneratedMailbox();
  int taken = 0;
  for (const fs::path& f : FilesUnder(generated)) {
    if (f.extension() == ".eml" && taken++ < 40) files.push_back(f);
  }
  std::vector<fs::path> corpus = FilesUnder(CorpusDir());
  for (size_t i = 0; i < corpus.size(); i += 3) files.push_back(corpus[i]);
  std::mt19937 rng(20261208);
  int variants = 0, accepted = 0;
  for (const fs::path& f : files) {
    const std::string original = ReadBytes(f);
    if (original.size() > 2'000'000) continue;
    for (const std::string& damaged : Mutations(original, rng)) {
      const Outcome o = ParseBothWays(damaged);
      ++variants;
      accepted += o.accepted;
      EXPECT_EQ(o.difference, "") << f << " damaged to:\n" << Show(damaged);
    }
  }
  std::cout << "structural parser accepted " << accepted << " of " << variants << " damaged variants\n";
  EXPECT_GT(accepted, 0);
  EXPECT_LT(accepted, variants);
}

TEST(StructuralParse, HeaderValuesAreUnfoldedAndDecodedAsGMimeDoes) {
  std::string alphabet = " \t\r\n\r\n =?=?q?b?utf-8?iso-8859-1?=C3=A9?w6k=?=";
  for (int c = 0x20; c < 0x7F; ++c) alphabet += static_cast<char>(c);
  alphabet += "\xC3\xA9\xE9";
  std::mt19937 rng(7);
  for (int n = 0; n < 20000; ++n) {
    std::string raw;
    const int length = static_cast<int>(rng() % 40);
    for (int i = 0; i < length; ++i) raw += alphabet[rng() % alphabet.size()];
    GCharPtr unfolded(g_mime_utils_header_unfold(raw.c_str()));
    GCharPtr decoded(g_mime_utils_header_decode_text(SharedParserOptions(), unfolded.get()));
    ASSERT_EQ(DecodedHeaderValue(raw), decoded.get()) << "raw value [" << raw << "]";
  }
}

// Whether the structural parser takes `message`; and when it does, that it reads it as GMime does.
bool Accepted(const std::string& message) {
  const Outcome o = ParseBothWays(message);
  EXPECT_EQ(o.difference, "") << message;
  return o.accepted;
}

const std::string kHead = "From: a@example.org\nSubject: s\n";

std::string Mixed(const std::string& first_part, const std::string& boundary = "b") {
  return kHead + "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\n\npreamble\n--" + boundary +
         "\n" + first_part + "\n--" + boundary + "\nContent-Type: application/pdf\n\nPDF\n--" + boundary +
         "--\n";
}

TEST(StructuralParse, AcceptsPlainWellFormedMessages) {
  EXPECT_TRUE(Accepted(kHead + "\nbody\n"));
  EXPECT_TRUE(Accepted("From: a@example.org\r\nSubject: s\r\n\r\nbody\r\n"));
  EXPECT_TRUE(Accepted(Mixed("Content-Type: text/plain\n\ntext")));
  EXPECT_TRUE(Accepted(Mixed("\ntext without headers")));
  EXPECT_TRUE(Accepted(Mixed("Content-Type: text/plain\nContent-Transfer-Encoding: base64\n\ndGV4dA==")));
  // The closing delimiter may end the file without a line break, and carry trailing blanks.
  std::string m = Mixed("Content-Type: text/plain\n\ntext");
  m.pop_back();
  EXPECT_TRUE(Accepted(m));
  EXPECT_TRUE(Accepted(m + " \t"));
}

// Parameters are read from the unfolded, decoded value, as GMime reads them; multipart/related
// finds its root by the Content-ID that "start" names.
TEST(StructuralParse, ReadsHeaderValuesAsGMimeDoes) {
  const std::string folded =
      Mixed("Content-Type: application/octet-stream; name=\"a long\n file name.bin\"\n\ndata");
  ASSERT_TRUE(Accepted(folded));
  EXPECT_EQ(ParseMessage(folded).attachments.at(0).file_name, "a long file name.bin");

  const std::string related =
      kHead +
      "Content-Type: multipart/related; boundary=r; start=\"<root@x>\"\n\n"
      "--r\nContent-Type: image/png\nContent-ID: <img@x>\n\nPNG\n"
      "--r\nContent-Type: text/html\nContent-ID: <root@x>\n\n<img src=\"cid:img@x\">\n--r--\n";
  ASSERT_TRUE(Accepted(related));
  const ParsedMessage m = ParseMessage(related);
  EXPECT_EQ(m.html_body, "<img src=\"cid:img@x\">");
  ASSERT_EQ(m.attachments.size(), 1u);
  EXPECT_TRUE(m.attachments[0].hidden);

  // Repeated address headers are merged; of repeated Date and Message-ID headers the last counts.
  const std::string repeated =
      "From: a@example.org\nTo: b@example.org\nTo: c@example.org\n"
      "Date: Mon, 02 Nov 2026 10:00:00 +0000\nDate: Tue, 03 Nov 2026 10:00:00 +0000\n"
      "Message-ID: <one@x>\nMessage-ID: <two@x>\n\nbody\n";
  ASSERT_TRUE(Accepted(repeated));
  const ParsedMessage r = ParseMessage(repeated);
  EXPECT_EQ(r.to.size(), 2u);
  EXPECT_EQ(r.message_id, "<two@x>");
  EXPECT_TRUE(
      Accepted("From: a@example.org\nDate: Mon, 02 Nov 2026 10:00:00 +0000\nDate: garbage\n\nbody\n"));
}

// GMime keeps the addresses before an error in an address header; its standalone parser, which
// the structural parser uses, gives nothing then.
TEST(StructuralParse, DeclinesAddressHeadersWithErrors) {
  EXPECT_FALSE(Accepted("From: a@example.org\nTo: b@example.org, (unclosed comment\n\nbody\n"));
  EXPECT_FALSE(Accepted("From: a@example.org\nCc: G: b@example.org; (x\n\nbody\n"));
  EXPECT_TRUE(Accepted("From: a@example.org\nTo: \nCc: undisclosed-recipients:;\n\nbody\n"));
}

TEST(StructuralParse, TheLineBreakBeforeADelimiterBelongsToIt) {
  const std::string crlf =
      "From: a@example.org\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
      "Content-Type: text/plain\r\n\r\nline one\r\nline two\r\n\r\n--b--\r\n";
  ASSERT_TRUE(Accepted(crlf));
  EXPECT_EQ(ParseMessage(crlf).text_body, "line one\r\nline two\r\n");
  const std::string lf =
      "From: a@example.org\nContent-Type: multipart/mixed; boundary=b\n\n--b\n"
      "Content-Type: text/plain\n\nline one\n--b--\n";
  ASSERT_TRUE(Accepted(lf));
  EXPECT_EQ(ParseMessage(lf).text_body, "line one");
}

// GMime scans content in chunks and reads the piece of a long line that starts a chunk as a
// line of its own; which piece that is depends on where the chunks fall.
TEST(StructuralParse, LongLinesThatMayHideADelimiterAreLeftToGMime) {
  for (size_t length = 3900; length < 4300; ++length) {
    const std::string long_line = std::string(length, 'x') + "--b";
    EXPECT_FALSE(Accepted(Mixed("Content-Type: text/plain\n\n" + long_line))) << length;
  }
  EXPECT_TRUE(Accepted(Mixed("Content-Type: text/plain\n\nsee --b here")));
  EXPECT_TRUE(Accepted(Mixed("Content-Type: text/plain\n\n" + std::string(5000, 'x'))));
  EXPECT_FALSE(Accepted(Mixed("Content-Type: text/plain\n\ntext\n--b" + std::string(200, ' '))));
}

// Dashes are where the structural parser looks closely; text full of them must not make it slow.
TEST(StructuralParse, DashHeavyContentStaysFast) {
  const std::string boundary(150, '-');
  std::string content;
  for (int i = 0; i < 20000; ++i) content += std::string(100, '-') + "\n";
  auto multipart = [&](const std::string& part) {
    return kHead + "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\n\n--" + boundary + "\n\n" +
           part + "\n--" + boundary + "--\n";
  };
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(Accepted(multipart(content)));
  EXPECT_FALSE(
      Accepted(multipart(content + std::string(1'000'000, '-'))));  // A line that may hide a delimiter.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  const std::string huge(300, 'x');  // Longer than any mail program writes.
  EXPECT_FALSE(Accepted(kHead + "Content-Type: multipart/mixed; boundary=" + huge + "\n\n--" + huge +
                        "\n\ntext\n--" + huge + "--\n"));
}

TEST(StructuralParse, DeclinesHeaderLinesItDoesNotReadExactly) {
  EXPECT_FALSE(Accepted("From: a@example.org\nSubject: caf\xC3\xA9\n\nbody\n"));  // 8-bit.
  EXPECT_FALSE(Accepted(kHead + "not a header\nX-After: 1\n\nbody\n"));
  EXPECT_FALSE(Accepted(kHead + "Subject : spaced\n\nbody\n"));
  EXPECT_FALSE(Accepted(" folded first\n" + kHead + "\nbody\n"));
  EXPECT_FALSE(Accepted(kHead + "X-Cr: a\rb\n\nbody\n"));
  EXPECT_FALSE(Accepted(kHead + std::string(5000, 'N') + ": a name longer than GMime's buffer\n\nbody\n"));
  EXPECT_FALSE(Accepted(kHead));       // No empty line ends the header section.
  EXPECT_FALSE(Accepted("\nbody\n"));  // No header at all.
  EXPECT_FALSE(Accepted(kHead + "Content-Type: text/plain\nContent-type: text/html\n\nbody\n"));
  EXPECT_FALSE(Accepted(kHead + "Content-Type: (comment) text/plain\n\nbody\n"));
  EXPECT_FALSE(Accepted(kHead + "Content-Type: text\n\nbody\n"));
  EXPECT_FALSE(Accepted(Mixed("Content-Type: text/plain\nbody without an empty line")));
  // A delimiter ends a header block for GMime, even one that reads as a field ("--b=:c").
  EXPECT_FALSE(Accepted(kHead + "Content-Type: multipart/mixed; boundary=\"b=:c\"\n\n--b=:c\n"
                                "Content-Type: message/rfc822\n\nX-A: 1\n--b=:c--\n\n--b=:c--\n"));
}

TEST(StructuralParse, DeclinesMultipartsThatAreNotClosedCleanly) {
  const std::string part = "Content-Type: text/plain\n\ntext";
  std::string unclosed = Mixed(part);
  unclosed.erase(unclosed.rfind("--b--"));
  EXPECT_FALSE(Accepted(unclosed));
  EXPECT_FALSE(Accepted(kHead + "Content-Type: multipart/mixed\n\n--b\n\ntext\n--b--\n"));  // No boundary.
  EXPECT_FALSE(Accepted(kHead + "Content-Type: multipart/mixed; boundary=b\n\nno delimiter at all\n"));
  EXPECT_FALSE(Accepted(kHead + "Content-Type: multipart/mixed; boundary=b\n\n--b--\n"));  // No part.
  // An inner multipart ended by its parent's delimiter, and one whose boundary is a prefix of
  // its parent's.
  EXPECT_FALSE(Accepted(Mixed("Content-Type: multipart/alternative; boundary=in\n\n--in\n\ntext")));
  EXPECT_FALSE(Accepted(Mixed("Content-Type: multipart/alternative; boundary=b2\n\n--b2\n\ntext\n--b2--\n")));
  EXPECT_TRUE(Accepted(Mixed("Content-Type: multipart/alternative; boundary=in\n\n--in\n\ntext\n--in--\n")));
  // A delimiter in CR LF after content in LF, and a stray CR after a delimiter.
  EXPECT_FALSE(Accepted(kHead + "Content-Type: multipart/mixed; boundary=b\n\n--b\n\ntext\n--b--\r\n"));
  EXPECT_FALSE(Accepted(kHead + "Content-Type: multipart/mixed; boundary=b\n\n--b\r\r\n\ntext\n--b--\n"));
}

TEST(StructuralParse, ReadsEmbeddedMessages) {
  const std::string forwarded = Mixed(
      "Content-Type: message/rfc822\n\nFrom: x@example.org\nSubject: inner\n"
      "Content-Type: text/plain\n\ninner text");
  ASSERT_TRUE(Accepted(forwarded));
  const ParsedMessage m = ParseMessage(forwarded);
  ASSERT_EQ(m.attachments.size(), 2u);
  ASSERT_NE(m.attachments[0].embedded, nullptr);
  EXPECT_EQ(m.attachments[0].embedded->subject, "inner");
  EXPECT_EQ(m.attachments[0].embedded->text_body, "inner text");
  // Its header section is written out again with LF line breaks, as GMime writes it.
  std::string crlf;
  for (char c : forwarded) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  ASSERT_TRUE(Accepted(crlf));
  EXPECT_EQ(ParseMessage(crlf).attachments.at(0).embedded->headers,
            "From: x@example.org\nSubject: inner\nContent-Type: text/plain\n");
  // Inside multipart/digest a part without a type is a message.
  const std::string digest =
      kHead + "Content-Type: multipart/digest; boundary=d\n\n--d\n\nFrom: x@example.org\n\nhi\n--d--\n";
  ASSERT_TRUE(Accepted(digest));
  ASSERT_NE(ParseMessage(digest).attachments.at(0).embedded, nullptr);
  // A message part that holds a multipart.
  EXPECT_TRUE(
      Accepted(Mixed("Content-Type: message/rfc822\n\nFrom: x@example.org\n"
                     "Content-Type: multipart/alternative; boundary=in\n\n--in\n\nplain\n--in--\n")));
}

// GMime's tree for a message of 100,000 parts costs over 200 MB; the structural parser's a third of it.
TEST(StructuralParse, ManyPartsAreReadAlike) {
  std::string m =
      kHead + "Content-Type: multipart/mixed; boundary=\"b\"\n\n--b\nContent-Type: text/plain\n\nbody\n";
  for (int i = 0; i < 20000; ++i) {
    m += "--b\nContent-Type: text/plain; name=\"p" + std::to_string(i) + ".txt\"\n\npart " +
         std::to_string(i) + "\n";
  }
  m += "--b--\n";
  EXPECT_TRUE(Accepted(m));
}

// Past its 1,000th entity a leaf keeps no GMime objects and parses its headers again when asked:
// types, charsets, names and dispositions must still come out as GMime reads them, for every
// leaf and not only the one asked last.
TEST(StructuralParse, LeavesPastTheFirstThousandAreReadAsGMimeReadsThem) {
  std::string m = kHead +
                  "Content-Type: multipart/mixed; boundary=\"b\"\n\n--b\nContent-Type: text/html\n\n"
                  "<p><img src=\"cid:img2998@x\"></p>\n";
  const char* kinds[] = {
      "Content-Type: text/plain; charset=iso-8859-1; name=\"=?utf-8?q?caf=C3=A9?= %d.txt\"\n"
      "Content-Transfer-Encoding: quoted-printable\n\nd=E9j=E0 %d\n",
      "Content-Type: application/pdf\nContent-Disposition: attachment; "
      "filename*=utf-8''r%%C3%%A9sum%%C3%%A9%d.pdf\n"
      "Content-Transfer-Encoding: base64\n\nSGVsbG8g%d\n",
      "Content-Type: image/png; name=i%d.png\nContent-Disposition: inline\nContent-Id: <img%d@x>\n\npng\n",
      "\nno header at all %d %d\n",
  };
  char part[400];
  for (int i = 0; i < 3000; ++i) {
    std::snprintf(part, sizeof part, kinds[i % 4], i, i);
    m += "--b\n";
    m += part;
  }
  m += "--b--\n";
  const Outcome o = ParseBothWays(m);
  ASSERT_TRUE(o.accepted);
  EXPECT_EQ(o.difference, "");
  const ParsedMessage content = MessageFile::FromBytes(m).Content();
  ASSERT_EQ(content.attachments.size(), 3000u);
  EXPECT_EQ(content.attachments[2998].mime_type, "image/png");
  EXPECT_EQ(content.attachments[2998].file_name, "i2998.png");
  EXPECT_TRUE(content.attachments[2998].hidden);
  EXPECT_TRUE(content.attachments[2998].inline_disposition);
  EXPECT_EQ(content.attachments[2997].file_name,
            "r\xC3\xA9sum\xC3\xA9"
            "2997.pdf");
  EXPECT_EQ(content.attachments[2996].file_name, "caf\xC3\xA9 2996.txt");
  EXPECT_EQ(content.attachments[2996].data, "d\xE9j\xE0 2996");
}

TEST(StructuralParse, DeclinesEntitiesLeftToGMime) {
  // An encoded message, and a message part with no message in it.
  EXPECT_FALSE(
      Accepted(Mixed("Content-Type: message/rfc822\nContent-Transfer-Encoding: base64\n\nRnJvbTogeEB5Cgpo")));
  EXPECT_FALSE(Accepted(Mixed("Content-Type: message/rfc822\n")));
  EXPECT_FALSE(
      Accepted(Mixed("Content-Type: text/plain\nContent-Transfer-Encoding: x-uuencode\n\nbegin 644 a\nend")));
  EXPECT_FALSE(
      Accepted(Mixed("Content-Type: text/plain\nContent-Transfer-Encoding: 7bit (comment)\n\ntext")));
  auto nested = [](int levels) {
    std::string m = "\ntext";
    for (int i = 0; i < levels; ++i) {
      const std::string b = "level" + std::to_string(i) + "x";
      m = "Content-Type: multipart/mixed; boundary=" + b + "\n\n--" + b + "\n" + m + "\n--" + b + "--\n";
    }
    return kHead + m;
  };
  EXPECT_TRUE(Accepted(nested(10)));
  EXPECT_FALSE(Accepted(nested(20)));
}

}  // namespace
}  // namespace mime
