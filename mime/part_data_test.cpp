#include "mime/part_data.h"

#include <gtest/gtest.h>

#include <string>

namespace mime {
namespace {

std::string Bytes(int from, int to) {
  std::string s;
  for (int i = from; i < to; ++i) s.push_back(static_cast<char>(i));
  return s;
}

TEST(MimePartData, UuDecode) {
  const std::string lines =
      "M  $\" P0%!@<(\"0H+# T.#Q 1$A,4%187&!D:&QP='A\\@(2(C)\"4F)R@I*BLL\n"
      "M+2XO,#$R,S0U-C<X.3H[/#T^/T!!0D-$149'2$E*2TQ-3D]045)35%565UA9\n";
  EXPECT_EQ(UuDecode("begin 644 data.bin\n" + lines + "`\nend\n"), Bytes(0, 90));
  EXPECT_EQ(UuDecode("some preamble\r\nbegin 600 x\r\n" + lines + "end\r\n"), Bytes(0, 90));
  EXPECT_EQ(UuDecode(lines), Bytes(0, 90));  // No begin line: the data starts at once.
  // A mailer stripped the trailing blanks (zero sextets) of the lines; the length still counts.
  EXPECT_EQ(UuDecode("begin 644 x\n$:&D@(   \n`\nend\n"), "hi  ");
  EXPECT_EQ(UuDecode("begin 644 x\n$:&D@(\n`\nend\n"), "hi  ");
  EXPECT_EQ(UuDecode("begin 644 x\n&\n`\nend\n"), std::string(6, '\0'));
  // Nothing after "end" is data.
  EXPECT_EQ(UuDecode("begin 644 x\n$:&D@(\nend\n$:&D@(\n"), "hi  ");
  EXPECT_EQ(UuDecode(""), "");
}

}  // namespace
}  // namespace mime
