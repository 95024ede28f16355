#include "pst/import/entry_ids.h"

#include <gtest/gtest.h>

#include <string>

#include "pst/import/conversation_index.h"

namespace pst::import {
namespace {

std::vector<std::uint8_t> Utf16z(std::u16string_view s) {
  std::vector<std::uint8_t> out;
  for (char16_t c : s) {
    out.push_back(static_cast<std::uint8_t>(c & 0xFF));
    out.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  out.push_back(0);
  out.push_back(0);
  return out;
}

TEST(EntryIdsTest, OneOffIdHasOutlooksLayout) {
  const std::vector<std::uint8_t> id = OneOffEntryId("Zoë", "SMTP", "z@x.org");
  std::vector<std::uint8_t> want = {0,    0,    0,    0,    0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19,
                                    0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02, 0x00, 0x00, 0x01, 0x80};
  for (auto part : {Utf16z(u"Zoë"), Utf16z(u"SMTP"), Utf16z(u"z@x.org")})
    want.insert(want.end(), part.begin(), part.end());
  EXPECT_EQ(id, want);

  // A NUL inside a name would end the field early and shift the address into the type.
  const std::vector<std::uint8_t> withNul = OneOffEntryId(std::string("A\0B", 3), "SMTP", "a@b");
  const std::vector<std::uint8_t> clean = OneOffEntryId("AB", "SMTP", "a@b");
  EXPECT_EQ(withNul, clean);
}

TEST(EntryIdsTest, SearchKeyUpperCasesAsciiOnly) {
  const std::vector<std::uint8_t> key = SmtpSearchKey("Joe.Q@Example.org");
  EXPECT_EQ(std::string(key.begin(), key.end()), std::string("SMTP:JOE.Q@EXAMPLE.ORG\0", 23));
  const std::vector<std::uint8_t> intl = SmtpSearchKey("m\xC3\xA4ry@x");
  EXPECT_EQ(std::string(intl.begin(), intl.end()), std::string("SMTP:M\xC3\xA4RY@X\0", 13));
}

TEST(EntryIdsTest, FlatEntryListPadsEachEntryToFourBytes) {
  const std::vector<std::uint8_t> list = FlatEntryList({{1, 2, 3, 4, 5}, {6, 7, 8, 9}});
  const std::vector<std::uint8_t> want = {2,  0, 0, 0,                          // count
                                          20, 0, 0, 0,                          // bytes that follow
                                          5,  0, 0, 0, 1, 2, 3, 4, 5, 0, 0, 0,  // padded to 4
                                          4,  0, 0, 0, 6, 7, 8, 9};
  EXPECT_EQ(list, want);
  EXPECT_EQ(FlatEntryList({}), (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(ConversationIndexTest, ThreadMembersShareTheGuid) {
  const std::vector<std::uint8_t> first = ConversationPlaceFor("", "", "<root@x>", "", "a").index;
  const std::vector<std::uint8_t> reply =
      ConversationPlaceFor("<root@x>", "<root@x>", "<r1@x>", "", "b").index;
  const std::vector<std::uint8_t> other = ConversationPlaceFor("", "", "<other@x>", "", "a").index;
  ASSERT_EQ(first.size(), 22u);
  EXPECT_EQ(first[0], 0x01);
  // No time in the header block: members of one thread could not agree on it.
  EXPECT_EQ(std::vector<std::uint8_t>(first.begin() + 1, first.begin() + 6), std::vector<std::uint8_t>(5, 0));
  EXPECT_TRUE(std::equal(first.begin(), first.end(), reply.begin()));
  EXPECT_FALSE(std::equal(first.begin() + 6, first.end(), other.begin() + 6));
  // Without any id the fallback key decides.
  EXPECT_NE(ConversationPlaceFor("", "", "", "", "one").index,
            ConversationPlaceFor("", "", "", "", "two").index);

  EXPECT_EQ(ThreadRootId("<a@x> <b@x>", "<b@x>", "<c@x>"), "<a@x>");
  EXPECT_EQ(ThreadRootId("", "<b@x>", "<c@x>"), "<b@x>");
  EXPECT_EQ(ThreadRootId("garbage", "", "<c@x>"), "<c@x>");
}

}  // namespace
}  // namespace pst::import
