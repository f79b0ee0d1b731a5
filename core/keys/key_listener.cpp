#include <condition_variable>

#include "korvel/keys.h"
#include "korvel/platform/platform.h"

namespace korvel {

struct KeyRegistration {
  uint64_t handle;
  unsigned int key;
  int lastState;
  int repeat;
  KeyCallback callback;
  std::unique_ptr<KeyRegistration> next;  // the key's list: most recent registration first
};

namespace {

// The platform's keyboard, read on the poller thread only (it owns its display connection).
class PlatformKeys final : public KeyStateSource {
 public:
  void beginPass() override {
    if (!reader_) reader_ = platform::openKeyboardReader();
    reader_->refresh();
  }
  bool isDown(unsigned int key) override { return reader_ && reader_->isDown(key); }

 private:
  std::unique_ptr<platform::KeyboardReader> reader_;
};

std::mutex sourceLock;
std::shared_ptr<KeyStateSource> testSource;

// The registering thread must not touch the poller's display connection, so the present state
// it needs at registration comes from a reader of its own (or the test source). Registrations are
// serialised by the listener's lock, which also serialises this reader.
bool isDownNow(unsigned int key, std::unique_ptr<platform::KeyboardReader>& reader) {
  {
    std::lock_guard<std::mutex> guard(sourceLock);
    if (testSource) {
      testSource->beginPass();
      return testSource->isDown(key);
    }
  }
  if (!reader) reader = platform::openKeyboardReader();
  reader->refresh();
  return reader->isDown(key);
}

std::mutex passLock;
std::condition_variable passDone;

}  // namespace
}  // namespace korvel

using korvel::KeyRegistration;

std::unique_ptr<KeyListener> KeyListener::instance;
std::once_flag KeyListener::once;
uint64_t KeyListener::handles = 0;

KeyListener* KeyListener::sharedInstance() {
  std::call_once(once, [] {
    handles = 0;
    instance.reset(new KeyListener());
  });
  return instance.get();
}

KeyListener::KeyListener() { poller = std::thread([this] { poll(); }); }

KeyListener::~KeyListener() {
  stop = 1;
  if (poller.joinable()) poller.join();
  std::lock_guard<std::mutex> guard(lock);
  registrations.clear();
}

uint64_t KeyListener::addListenerForKey(unsigned int key, KeyCallback cb, int repeat) {
  std::lock_guard<std::mutex> guard(lock);
  if (!cb) return 0;
  auto registration = std::make_unique<KeyRegistration>();
  registration->handle = handles++;
  registration->key = key;
  registration->lastState = korvel::isDownNow(key, registrationReader) ? 1 : 0;
  registration->repeat = repeat;
  registration->callback = std::move(cb);
  // The component learns the key's present state at once.
  registration->callback(key, registration->lastState);
  uint64_t handle = registration->handle;
  auto& head = registrations[key];
  registration->next = std::move(head);
  head = std::move(registration);
  return handle;
}

void KeyListener::removeListenerForKey(unsigned int key, uint64_t handle) {
  std::lock_guard<std::mutex> guard(lock);
  auto it = registrations.find(key);
  if (it == registrations.end()) return;
  std::unique_ptr<KeyRegistration>* link = &it->second;
  while (*link) {
    if ((*link)->handle == handle) {
      *link = std::move((*link)->next);
    } else {
      link = &(*link)->next;
    }
  }
  if (!it->second) registrations.erase(it);
}

void KeyListener::poll() {
  korvel::PlatformKeys platformKeys;
  while (!stop) {
    korvel::platform::sleepMillis(20);
    std::shared_ptr<korvel::KeyStateSource> source;
    {
      std::lock_guard<std::mutex> guard(korvel::sourceLock);
      source = korvel::testSource;
    }
    korvel::KeyStateSource& keys = source ? *source : platformKeys;
    {
      std::lock_guard<std::mutex> guard(lock);
      if (!registrations.empty()) keys.beginPass();
      for (auto& [key, head] : registrations) {
        const int state = keys.isDown(key) ? 1 : 0;
        for (KeyRegistration* r = head.get(); r != nullptr; r = r->next.get()) {
          if (!r->callback) continue;
          if (state == r->lastState && !(r->repeat != 0 && state == 1)) continue;
          r->lastState = state;
          r->callback(r->key, state);
        }
      }
    }
    {
      std::lock_guard<std::mutex> guard(korvel::passLock);
      ++passes;
    }
    korvel::passDone.notify_all();
  }
}

void KeyListener::setKeyStateSourceForTesting(std::shared_ptr<korvel::KeyStateSource> source) {
  {
    std::lock_guard<std::mutex> guard(korvel::sourceLock);
    korvel::testSource = std::move(source);
  }
  sharedInstance()->waitForPasses(1);
}

void KeyListener::waitForPasses(int count) {
  std::unique_lock<std::mutex> guard(korvel::passLock);
  // One pass may be under way with the old state: wait for it and then `count` whole passes.
  uint64_t target = passes + static_cast<uint64_t>(count) + 1;
  korvel::passDone.wait(guard, [&] { return passes >= target || stop; });
}

KeyRAI::KeyRAI(unsigned int key, KeyCallback cb, int repeat) : key_(key), handle_(0) {
  handle_ = KeyListener::sharedInstance()->addListenerForKey(key, std::move(cb), repeat);
}

KeyRAI::~KeyRAI() { KeyListener::sharedInstance()->removeListenerForKey(key_, handle_); }

KeyRAI& KeyRAI::operator=(const KeyRAI& other) {
  key_ = other.key_;
  handle_ = other.handle_;
  return *this;
}
