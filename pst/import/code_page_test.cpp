#include "pst/import/code_page.h"

#include <gtest/gtest.h>

namespace pst::import {
namespace {

TEST(CodePageTest, CharsetNamesAndAliases) {
  struct Case {
    const char* charset;
    std::optional<std::int32_t> codePage;
  } cases[] = {
      {"utf-8", 65001},       {"UTF8", 65001},      {"us-ascii", 20127},    {"ISO-8859-1", 28591},
      {"iso_8859-15", 28605}, {"latin1", 28591},    {"windows-1252", 1252}, {"cp1251", 1251},
      {"koi8-r", 20866},      {"Shift_JIS", 932},   {"iso-2022-jp", 50220}, {"gb2312", 936},
      {"GB18030", 54936},     {"big5", 950},        {"euc-kr", 51949},      {"\"utf-8\"", 65001},
      {"iso-8859-12", {}},    {"windows-9999", {}}, {"x-unknown", {}},      {"", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(CodePageForCharset(c.charset), c.codePage) << c.charset;
}

}  // namespace
}  // namespace pst::import
