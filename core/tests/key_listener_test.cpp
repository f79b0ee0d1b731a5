#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "korvel/keys.h"

namespace {

// A keyboard that tests press and release by hand; it also remembers which keys were polled.
class FakeKeys : public korvel::KeyStateSource {
 public:
  void press(unsigned key) { std::lock_guard<std::mutex> g(m_); down_.insert(key); }
  void release(unsigned key) { std::lock_guard<std::mutex> g(m_); down_.erase(key); }
  bool isDown(unsigned key) override {
    std::lock_guard<std::mutex> g(m_);
    polled_.insert(key);
    return down_.count(key) != 0;
  }
  std::set<unsigned> takePolled() {
    std::lock_guard<std::mutex> g(m_);
    return std::exchange(polled_, {});
  }

 private:
  std::mutex m_;
  std::set<unsigned> down_;
  std::set<unsigned> polled_;
};

// Calls seen by call-backs, in order, as "name:key:state".
class Journal {
 public:
  KeyCallback callback(const std::string& name) {
    return [this, name](unsigned key, int state) {
      std::lock_guard<std::mutex> g(m_);
      calls_.push_back(name + ":" + std::to_string(key) + ":" + std::to_string(state));
    };
  }
  std::vector<std::string> take() {
    std::lock_guard<std::mutex> g(m_);
    return std::exchange(calls_, {});
  }

 private:
  std::mutex m_;
  std::vector<std::string> calls_;
};

class Keys : public ::testing::Test {
 protected:
  void SetUp() override { KeyListener::setKeyStateSourceForTesting(keys); }
  void TearDown() override { KeyListener::setKeyStateSourceForTesting(nullptr); }
  void passes(int n = 1) { KeyListener::sharedInstance()->waitForPasses(n); }
  std::shared_ptr<FakeKeys> keys = std::make_shared<FakeKeys>();
  Journal journal;
};

TEST_F(Keys, HandlesFollowEachOtherAndAnEmptyCallbackRegistersNothing) {
  auto* listener = KeyListener::sharedInstance();
  uint64_t first = listener->addListenerForKey(0x41, journal.callback("a"), 0);
  EXPECT_EQ(listener->addListenerForKey(0x42, KeyCallback(), 0), 0u);
  uint64_t second = listener->addListenerForKey(0x41, journal.callback("b"), 0);
  EXPECT_EQ(second, first + 1) << "an empty call-back does not use up a handle";
  listener->removeListenerForKey(0x41, first);
  listener->removeListenerForKey(0x41, second);
  keys->takePolled();
  passes();
  EXPECT_TRUE(keys->takePolled().empty()) << "no key is watched any more, not even 0x42";
}

// Whatever other tests ran before, in a process of its own (the binary started again for this
// test alone) the first registration gets handle 0.
TEST(KeysInAFreshProcess, TheFirstRegistrationGetsHandleZero) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        auto keys = std::make_shared<FakeKeys>();
        KeyListener::setKeyStateSourceForTesting(keys);
        Journal journal;
        const uint64_t first = KeyListener::sharedInstance()->addListenerForKey(0x41, journal.callback("a"), 0);
        KeyListener::sharedInstance()->removeListenerForKey(0x41, first);
        KeyListener::setKeyStateSourceForTesting(nullptr);
        std::fprintf(stderr, "handle %llu\n", static_cast<unsigned long long>(first));
        std::fflush(stderr);
        std::_Exit(first == 0 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "handle 0");
}

TEST_F(Keys, AKeyHeldAtRegistrationIsReportedAtOnceAndOnlyOnce) {
  keys->press(0x31);
  KeyRAI key(0x31, journal.callback("k"));
  EXPECT_EQ(journal.take(), std::vector<std::string>{"k:49:1"});
  passes(2);
  EXPECT_TRUE(journal.take().empty());
  keys->release(0x31);
  passes();
  EXPECT_EQ(journal.take(), std::vector<std::string>{"k:49:0"});
}

TEST_F(Keys, LaterRegistrationsAreCalledFirstAndKeysInAscendingOrder) {
  KeyRAI older(0x32, journal.callback("older"));
  KeyRAI newer(0x32, journal.callback("newer"));
  KeyRAI low(0x25, journal.callback("low"));
  journal.take();
  keys->press(0x32);
  keys->press(0x25);
  passes();
  EXPECT_EQ(journal.take(), (std::vector<std::string>{"low:37:1", "newer:50:1", "older:50:1"}));
}

TEST_F(Keys, RepeatReportsDownOnEveryPassWhileHeld) {
  KeyRAI key(0x26, journal.callback("r"), 1);
  journal.take();
  keys->press(0x26);
  passes(5);
  keys->release(0x26);
  passes();
  auto calls = journal.take();
  ASSERT_GE(calls.size(), 5u);
  EXPECT_EQ(calls.back(), "r:38:0");
  for (size_t i = 0; i + 1 < calls.size(); ++i) EXPECT_EQ(calls[i], "r:38:1");
}

TEST_F(Keys, RemovingAnUnknownHandleChangesNothing) {
  KeyRAI key(0x52, journal.callback("k"));
  KeyListener::sharedInstance()->removeListenerForKey(0x52, 999999);
  KeyListener::sharedInstance()->removeListenerForKey(0x53, key.handle());
  journal.take();
  keys->press(0x52);
  passes();
  EXPECT_EQ(journal.take(), std::vector<std::string>{"k:82:1"});
  keys->takePolled();
  passes();
  EXPECT_EQ(keys->takePolled().count(0x53), 0u) << "removal must not leave an empty entry behind";
}

TEST_F(Keys, ACopyAssignedRegistrationIsRemovedByWhicheverGoesFirst) {
  auto a = std::make_unique<KeyRAI>(0x20, journal.callback("a"));
  auto b = std::make_unique<KeyRAI>(0x21, journal.callback("b"));
  const uint64_t bOwn = b->handle();
  *b = *a;  // b now names a's registration; b's own stays registered
  EXPECT_EQ(b->handle(), a->handle());
  a.reset();
  journal.take();
  keys->press(0x20);
  keys->press(0x21);
  passes();
  EXPECT_EQ(journal.take(), std::vector<std::string>{"b:33:1"});
  b.reset();
  KeyListener::sharedInstance()->removeListenerForKey(0x21, bOwn);
}

}  // namespace
