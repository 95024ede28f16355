#include "pst/store/read_ahead.h"

#include <gtest/gtest.h>
#include <sys/time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "common/cancel.h"
#include "fs/temp_tree_test.h"
#include "pst/messaging/prop_tags.h"

namespace pst::store {
namespace {

using namespace std::chrono_literals;

// A stand-in for parsing: records who prepared what.
struct Preparer {
  std::mutex mutex;
  std::map<std::string, int> calls;
  std::map<std::string, std::thread::id> threads;
  std::atomic<int> started{0};

  ReadAhead::Prepare Fn() {
    return [this](const std::string& path, const FileFacts&) {
      ++started;
      {
        std::lock_guard<std::mutex> lock(mutex);
        ++calls[path];
        threads[path] = std::this_thread::get_id();
      }
      PreparedMessage m;
      m.source.subject = path;
      return m;
    };
  }
};

bool WaitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 2000 && !done(); ++i) std::this_thread::sleep_for(1ms);
  return done();
}

TEST(ReadAheadTest, PreparesOnWorkersAndHandsOutEachFileOnce) {
  Preparer prep;
  ReadAhead ahead(prep.Fn(), {.workers = 2, .maxQueued = 4});
  const std::vector<std::string> paths = {"a.eml", "b.eml", "c.eml", "d.eml", "e.eml"};
  std::size_t offered = 0;
  for (const std::string& p : paths) {
    while (offered < paths.size() && ahead.Offer(paths[offered])) ++offered;
    EXPECT_LE(offered, 4u + (&p - paths.data()));  // The queue holds at most four.
    PreparedMessage m = ahead.Take(p, nullptr);
    ASSERT_TRUE(m.status.ok());
    EXPECT_EQ(m.source.subject, p);
  }
  for (const std::string& p : paths) {
    EXPECT_EQ(prep.calls[p], 1) << p;
    EXPECT_NE(prep.threads[p], std::this_thread::get_id()) << p;
  }
}

TEST(ReadAheadTest, UnofferedAndOutOfOrderTakesStayCorrect) {
  Preparer prep;
  ReadAhead ahead(prep.Fn(), {.workers = 1});
  ASSERT_TRUE(ahead.Offer("a"));
  ASSERT_TRUE(ahead.Offer("bb"));
  ASSERT_TRUE(ahead.Offer("ccc"));
  // Never offered: prepared at once, and what was offered stays queued.
  EXPECT_EQ(ahead.Take("x", nullptr).source.subject, "x");
  // Taken past "a" and "bb": those are dropped, "ccc" is handed out.
  EXPECT_EQ(ahead.Take("ccc", nullptr).source.subject, "ccc");
  // Asked for after all: prepared again rather than lost.
  EXPECT_EQ(ahead.Take("a", nullptr).source.subject, "a");
  EXPECT_EQ(ahead.Take("a", nullptr).source.subject, "a");
}

// Files of 8 bytes against a bound of 20: a file starts only while the files in memory (being
// prepared, prepared, and the one the caller took last) leave room for it.
TEST(ReadAheadTest, FilesStartOnlyWithinTheMemoryBound) {
  fs::testing::TempTree tree;
  const std::string a = tree.File("a", "12345678"), b = tree.File("b", "12345678"),
                    c = tree.File("c", "12345678"), d = tree.File("d", "12345678"),
                    big = tree.File("big", std::string(64, 'x'));
  Preparer prep;
  ReadAhead ahead(prep.Fn(), {.workers = 1, .maxQueued = 8, .maxHeldBytes = 20});
  for (const std::string& p : {a, b, c, d, big}) ASSERT_TRUE(ahead.Offer(p));
  const auto settled = [&](int count) {
    EXPECT_TRUE(WaitFor([&] { return prep.started >= count; }));
    std::this_thread::sleep_for(50ms);
    return prep.started.load();
  };
  EXPECT_EQ(settled(2), 2);  // a and b: 16 bytes; c would make 24.
  EXPECT_EQ(ahead.Take(a, nullptr).source.subject, a);
  EXPECT_EQ(settled(2), 2);  // a is still being written by the caller.
  EXPECT_EQ(ahead.Take(b, nullptr).source.subject, b);
  EXPECT_EQ(settled(3), 3);  // a is done with; c starts, d would make 24 with b.
  // A file over the bound on its own still goes through, once it is the one waited on.
  EXPECT_EQ(ahead.Take(big, nullptr).source.subject, big);
  EXPECT_EQ(prep.calls[d], 0);  // Dropped unstarted when big was taken past it.
}

// A file that gives no size (a /proc file says 0) may hold anything up to the size cap: it runs
// only when nothing else is in memory, and once read it counts as what it held.
TEST(ReadAheadTest, FilesOfUnknownSizeCountAsTheWholeBound) {
  fs::testing::TempTree tree;
  const std::string small = tree.File("small", "1234");
  std::atomic<int> started{0};
  std::atomic<bool> release{false};
  ReadAhead ahead(
      [&](const std::string& path, const FileFacts&) {
        ++started;
        while (!release) std::this_thread::sleep_for(1ms);
        PreparedMessage m;
        m.source.subject = path;
        m.fileBytes = path == small ? 4 : 600;  // What each really held.
        return m;
      },
      {.workers = 2, .maxQueued = 8, .maxHeldBytes = 1000});
  // Paths that do not exist have no size, like files that report none.
  for (const std::string& p : {std::string("/nonexistent/u1"), std::string("/nonexistent/u2"), small}) {
    ASSERT_TRUE(ahead.Offer(p));
  }
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(started.load(), 1);  // u1 alone: u2 would count 1000 more.
  release = true;
  EXPECT_EQ(ahead.Take("/nonexistent/u1", nullptr).fileBytes, 600u);
  // u1 counts 600 now, as long as the caller writes it: u2 cannot start beside it ...
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(started.load(), 1);
  // ... until it is the one waited for.
  EXPECT_EQ(ahead.Take("/nonexistent/u2", nullptr).fileBytes, 600u);
  EXPECT_EQ(ahead.Take(small, nullptr).fileBytes, 4u);
  EXPECT_EQ(started.load(), 3);
}

TEST(ReadAheadTest, TakeYieldsWhileItWaits) {
  std::atomic<bool> release{false};
  ReadAhead ahead(
      [&](const std::string& path, const FileFacts&) {
        while (!release) std::this_thread::sleep_for(1ms);
        PreparedMessage m;
        m.source.subject = path;
        return m;
      },
      {.workers = 1, .waitSlice = 2ms});
  int yields = 0;
  PreparedMessage m = ahead.Take("slow", [&] {
    if (++yields == 3) release = true;
  });
  EXPECT_EQ(m.source.subject, "slow");
  EXPECT_GE(yields, 3);
}

TEST(ReadAheadTest, DestroyedWithWorkQueuedWithoutWaitingForIt) {
  Preparer prep;
  {
    ReadAhead ahead(
        [&](const std::string& path, const FileFacts& facts) {
          std::this_thread::sleep_for(20ms);
          return prep.Fn()(path, facts);
        },
        {.workers = 1});
    for (int i = 0; i < 16; ++i) ASSERT_TRUE(ahead.Offer(std::to_string(i)));
    EXPECT_FALSE(ahead.Offer("one too many"));
  }
  EXPECT_LT(prep.started, 16);  // Queued files were dropped, not prepared.
}

// The file is looked at once, when offered: its modification time is the one a message without a
// Date or Received header is delivered at.
TEST(ReadAheadTest, WhatTheOfferLearntReachesTheImport) {
  fs::testing::TempTree tree;
  const std::string path = tree.File("undated.eml", "From: a@example.org\nSubject: undated\n\ntext\n");
  const struct timeval times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(::utimes(path.c_str(), times), 0);
  std::optional<FileFacts> seen;
  ReadAhead ahead(
      [&](const std::string& p, const FileFacts& facts) {
        seen = facts;
        return PrepareMessage(p, facts, {});
      },
      {.workers = 1});
  ASSERT_TRUE(ahead.Offer(path));
  PreparedMessage m = ahead.Take(path, nullptr);
  ASSERT_TRUE(m.status.ok());
  ASSERT_TRUE(seen.has_value());
  EXPECT_EQ(seen->bytes, 43u);
  const std::uint64_t fileTime = (1000000000ull + 11644473600ull) * 10000000ull;
  const auto delivered = std::find_if(m.message.props.begin(), m.message.props.end(), [](const auto& p) {
    return p.first == messaging::tag::kMessageDeliveryTime;
  });
  ASSERT_NE(delivered, m.message.props.end());
  EXPECT_EQ(delivered->second.bytes(), ltp::PropValue::Time(fileTime).bytes());
}

TEST(ReadAheadTest, PrepareMessageReportsAnUnreadableFile) {
  PreparedMessage m = PrepareMessage("/nonexistent/quill/a.eml", {});
  EXPECT_FALSE(m.status.ok());
  EXPECT_NE(m.status.message().find("/nonexistent/quill/a.eml"), std::string::npos);
}

TEST(ReadAheadTest, AfterAStopQueuedFilesAreNotRead) {
  Preparer prep;
  quill::ClearCancel();
  {
    ReadAhead ahead(prep.Fn(), {.workers = 2, .maxQueued = 8});
    ASSERT_TRUE(ahead.Offer("a.eml"));
    EXPECT_TRUE(ahead.Take("a.eml", nullptr).status.ok());
    quill::RequestCancel();
    for (const char* p : {"b.eml", "c.eml", "d.eml"}) ASSERT_TRUE(ahead.Offer(p));
    for (const char* p : {"b.eml", "c.eml", "d.eml"}) {
      PreparedMessage m = ahead.Take(p, nullptr);
      EXPECT_TRUE(quill::IsStopped(m.status)) << p;
    }
    // A file taken without an offer is not read either.
    EXPECT_TRUE(quill::IsStopped(PrepareMessage("/nonexistent/quill/e.eml", {}).status));
  }
  quill::ClearCancel();
  EXPECT_EQ(prep.started.load(), 1);
}

}  // namespace
}  // namespace pst::store
