#include "pst/import/conversation_index.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pst::import {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Prefix(const Bytes& b, std::size_t n) { return Bytes(b.begin(), b.begin() + std::min(n, b.size())); }

// root <- a <- b, and c answering a with only In-Reply-To.
TEST(ConversationPlaceTest, EachReplyExtendsItsParentsIndexByOneLevel) {
  const ConversationPlace root = ConversationPlaceFor("", "", "<root@x>", "", "k0");
  const ConversationPlace a = ConversationPlaceFor("<root@x>", "<root@x>", "<a@x>", "", "k1");
  const ConversationPlace b = ConversationPlaceFor("<root@x>\r\n <a@x>", "<a@x>", "<b@x>", "", "k2");
  const ConversationPlace sibling = ConversationPlaceFor("<root@x> <a@x>", "<a@x>", "<s@x>", "", "k3");
  const ConversationPlace onlyInReplyTo =
      ConversationPlaceFor("", "<root@x> (Mail from x)", "<c@x>", "", "k4");
  EXPECT_TRUE(root.tracked && a.tracked && b.tracked && onlyInReplyTo.tracked);
  ASSERT_EQ(root.index.size(), 22u);
  ASSERT_EQ(a.index.size(), 27u);
  ASSERT_EQ(b.index.size(), 32u);
  EXPECT_EQ(Prefix(a.index, 22), root.index);
  EXPECT_EQ(Prefix(b.index, 27), a.index) << "a reply's index begins with its parent's whole index";
  EXPECT_EQ(Prefix(sibling.index, 27), a.index);
  EXPECT_NE(sibling.index, b.index) << "siblings differ in their own level";
  EXPECT_EQ(onlyInReplyTo.index.size(), 27u);
  EXPECT_EQ(Prefix(onlyInReplyTo.index, 22), root.index);
  EXPECT_EQ(b.index[27] & 0x80, 0) << "the delta-code bit stays clear";
}

TEST(ConversationPlaceTest, OddReferencesAndMissingIds) {
  // References naming the message itself, or holding no ids at all, do not make it its own parent.
  const ConversationPlace self = ConversationPlaceFor("<me@x>", "<me@x>", "<me@x>", "", "k");
  EXPECT_EQ(self.index, ConversationPlaceFor("", "", "<me@x>", "", "other").index);
  const ConversationPlace junk = ConversationPlaceFor("no ids here <>", "", "<me@x>", "", "k");
  EXPECT_EQ(junk.index, self.index);
  // A reply without a Message-ID still gets a level below its root, named by its fallback key.
  const ConversationPlace anonymous = ConversationPlaceFor("<root@x>", "", "", "", "key");
  EXPECT_TRUE(anonymous.tracked);
  EXPECT_EQ(anonymous.index.size(), 27u);
  EXPECT_EQ(Prefix(anonymous.index, 22), ConversationPlaceFor("", "", "<root@x>", "", "").index);
  // Nothing to thread on: Outlook is left to group it by its topic.
  const ConversationPlace alone = ConversationPlaceFor("", "", "", "Subject: x\r\n", "key");
  EXPECT_FALSE(alone.tracked);
  EXPECT_EQ(alone.index.size(), 22u);
}

TEST(ConversationPlaceTest, LongChainsAreCut) {
  std::string references;
  for (int i = 0; i < 200; ++i) references += "<m" + std::to_string(i) + "@x> ";
  const ConversationPlace deep = ConversationPlaceFor(references, "<m199@x>", "<me@x>", "", "k");
  EXPECT_EQ(deep.index.size(), 22u + kMaxResponseLevels * 5);
  EXPECT_EQ(Prefix(deep.index, 22), ConversationPlaceFor("", "", "<m0@x>", "", "").index);
}

TEST(ConversationPlaceTest, ThreadIndexHeaderOnlyWithoutIds) {
  // 22 bytes of Outlook's own index plus one level, base64, folded over two lines.
  const std::string headers =
      "Subject: x\r\nthread-index: AcdyY+a08VX8xfobTsy61v9N\r\n\tHPZ7QAAAiXbA\r\nX-Other: y\r\n";
  const Bytes outlook = ThreadIndexHeader(headers);
  ASSERT_EQ(outlook.size(), 27u);
  EXPECT_EQ(outlook[0], 0x01);
  EXPECT_EQ(outlook[1], 0xC7);
  const ConversationPlace kept = ConversationPlaceFor("", "", "", headers, "k");
  EXPECT_EQ(kept.index, outlook);
  EXPECT_TRUE(kept.tracked);
  // With ids the thread is named by them, so that members without the header land in it too.
  const ConversationPlace withId = ConversationPlaceFor("", "", "<me@x>", headers, "k");
  EXPECT_EQ(withId.index, ConversationPlaceFor("", "", "<me@x>", "", "k").index);

  EXPECT_TRUE(ThreadIndexHeader("Thread-Index: AQ==\r\n").empty()) << "too short";
  EXPECT_TRUE(ThreadIndexHeader("Thread-Index: AgAAAAAAAAAAAAAAAAAAAAAAAAAAAA==\r\n").empty())
      << "wrong first byte";
  EXPECT_TRUE(ThreadIndexHeader("Thread-Index: AcdyY+a08VX8xfobTsy61v9NHPZ7QAAA\r\n").empty())
      << "part of a level";
  EXPECT_TRUE(ThreadIndexHeader("X-Thread-Index: AcdyY+a08VX8xfobTsy61v9NHPZ7QA==\r\n").empty());
}

TEST(ConversationTopicTest, EveryPrefixOffOrOutlooksThreadTopic) {
  EXPECT_EQ(ConversationTopic("Budget", ""), "Budget");
  EXPECT_EQ(ConversationTopic("Re: Budget", ""), "Budget");
  EXPECT_EQ(ConversationTopic("Fwd:Re:  AW: Budget", ""), "Budget");
  EXPECT_EQ(ConversationTopic("10:30 call", ""), "10:30 call") << "digits make no prefix";
  EXPECT_EQ(ConversationTopic("Re:", ""), "");
  // Outlook's Thread-Topic names the thread's first subject and wins, decoded and unfolded.
  EXPECT_EQ(ConversationTopic("Re: Budget",
                              "Subject: RE: Re: Budget\r\nThread-Topic: =?utf-8?Q?Budg=C3=A9t?=\r\n"
                              " for 2020\r\n"),
            "Budg\xC3\xA9t for 2020");
  EXPECT_EQ(ConversationTopic("Re: Budget", "Thread-Topic:   \r\n"), "Budget") << "an empty one is no topic";
}

}  // namespace
}  // namespace pst::import
