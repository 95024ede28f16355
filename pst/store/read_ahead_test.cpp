#include "pst/store/read_ahead.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace pst::store {
namespace {

using namespace std::chrono_literals;

// A stand-in for parsing: records who prepared what, and reports the path's length as its size.
struct Preparer {
  std::mutex mutex;
  std::map<std::string, int> calls;
  std::map<std::string, std::thread::id> threads;
  std::atomic<int> started{0};
  std::size_t bytes = 0;  // 0: the path's length

  std::function<PreparedMessage(const std::string&)> Fn() {
    return [this](const std::string& path) {
      ++started;
      {
        std::lock_guard<std::mutex> lock(mutex);
        ++calls[path];
        threads[path] = std::this_thread::get_id();
      }
      PreparedMessage m;
      m.source.subject = path;
      m.bytes = bytes != 0 ? bytes : path.size();
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

TEST(ReadAheadTest, WorkersWaitWhileTakenResultsHoldTooMuch) {
  Preparer prep;
  prep.bytes = 8;
  ReadAhead ahead(prep.Fn(), {.workers = 1, .maxQueued = 8, .maxHeldBytes = 10});
  for (const char* p : {"a", "b", "c", "d"}) ASSERT_TRUE(ahead.Offer(p));
  // "a" (8 bytes) is below the bound, so "b" starts; with 16 held, "c" may not.
  ASSERT_TRUE(WaitFor([&] { return prep.started >= 2; }));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(prep.started, 2);
  EXPECT_EQ(ahead.Take("a", nullptr).source.subject, "a");
  ASSERT_TRUE(WaitFor([&] { return prep.started >= 3; }));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(prep.started, 3);
  // The file waited on always starts, whatever is held.
  EXPECT_EQ(ahead.Take("d", nullptr).source.subject, "d");
}

TEST(ReadAheadTest, TakeYieldsWhileItWaits) {
  std::atomic<bool> release{false};
  ReadAhead ahead(
      [&](const std::string& path) {
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
        [&](const std::string& path) {
          std::this_thread::sleep_for(20ms);
          return prep.Fn()(path);
        },
        {.workers = 1});
    for (int i = 0; i < 16; ++i) ASSERT_TRUE(ahead.Offer(std::to_string(i)));
    EXPECT_FALSE(ahead.Offer("one too many"));
  }
  EXPECT_LT(prep.started, 16);  // Queued files were dropped, not prepared.
}

TEST(ReadAheadTest, PrepareMessageReportsAnUnreadableFile) {
  PreparedMessage m = PrepareMessage("/nonexistent/quill/a.eml", {});
  EXPECT_FALSE(m.status.ok());
  EXPECT_NE(m.status.message().find("/nonexistent/quill/a.eml"), std::string::npos);
}

}  // namespace
}  // namespace pst::store
