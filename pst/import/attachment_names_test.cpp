#include "pst/import/attachment_names.h"

#include <gtest/gtest.h>

#include <string>

namespace pst::import {
namespace {

TEST(AttachmentNamesTest, LongNamesAreMadeSafe) {
  EXPECT_EQ(LongFileName("report.pdf", "application/pdf", 1), "report.pdf");
  EXPECT_EQ(LongFileName("../../etc/passwd", "text/plain", 1), "passwd");
  EXPECT_EQ(LongFileName("C:\\Users\\me\\a.doc", "", 1), "a.doc");
  EXPECT_EQ(LongFileName(std::string("a\tb\x01.txt\n", 10), "", 1), "ab.txt");
  EXPECT_EQ(LongFileName("  spaced.txt. ", "", 1), "spaced.txt");
  EXPECT_EQ(LongFileName("", "image/png", 3), "ATT00003.png");
  EXPECT_EQ(LongFileName("../", "application/x-unknown", 12), "ATT00012.dat");
  EXPECT_EQ(LongFileName("Gr\xC3\xBC\xC3\x9F"
                         "e.txt",
                         "", 1),
            "Gr\xC3\xBC\xC3\x9F"
            "e.txt");
}

TEST(AttachmentNamesTest, SubjectsBecomeWholeFileNames) {
  EXPECT_EQ(SubjectFileName("Q3 figures 2024/25: final?"), "Q3 figures 2024_25_ final_");
  EXPECT_EQ(SubjectFileName("a\\b*c\"d<e>f|g\th"), "a_b_c_d_e_f_g_h");
  EXPECT_EQ(SubjectFileName("Grüße, (1) & [2]"), "Grüße, (1) & [2]");
  // Whatever the subject holds, the name made of it keeps all of its text.
  EXPECT_EQ(LongFileName(SubjectFileName("../../etc/passwd") + ".eml", "message/rfc822", 1),
            "_.._etc_passwd.eml");
}

TEST(AttachmentNamesTest, ShortNamesFitEightDotThree) {
  EXPECT_EQ(ShortFileName("image001.png"), "image001.png");  // already fits: kept as written
  EXPECT_EQ(ShortFileName("README"), "README");
  EXPECT_EQ(ShortFileName("Quarterly report 2020.pdf"), "QUARTE~1.PDF");
  EXPECT_EQ(ShortFileName("archive.tar.gz"), "ARCHIV~1.GZ");
  EXPECT_EQ(ShortFileName("page.html"), "PAGE~1.HTM");
  EXPECT_EQ(ShortFileName("\xE5\x86\x99\xE7\x9C\x9F.jpg"), "ATT~1.JPG");
  EXPECT_EQ(ShortFileName(".profile"), "PROFIL~1");

  EXPECT_EQ(FileExtension("report.PDF"), ".PDF");
  EXPECT_EQ(FileExtension("archive.tar.gz"), ".gz");
  EXPECT_EQ(FileExtension("README"), "");
  EXPECT_EQ(FileExtension(".profile"), "");
  EXPECT_EQ(FileExtension("trailing."), "");
}

}  // namespace
}  // namespace pst::import
