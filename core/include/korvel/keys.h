// Keyboard shortcuts: one process-wide listener polls the state of every watched key every 20 ms
// on its own thread and calls the registered call-backs on key-down and key-up.
// Keys are Windows virtual-key codes ('1' = 0x31, VK_LEFT = 0x25, VK_SPACE = 0x20 …).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "korvel/api.h"

// Called with the key code and 1 (down) or 0 (up). Runs with the listener's lock held: it must
// not register or remove keys, and should return quickly.
using KeyCallback = std::function<void(unsigned int key, int state)>;

namespace korvel {
namespace platform {
class KeyboardReader;
}
struct KeyRegistration;
// Where the listener reads key states from. The default reads the X server (or Win32); tests
// install their own.
struct KeyStateSource {
  virtual ~KeyStateSource() = default;
  virtual void beginPass() {}                  // once per polling pass, before the reads
  virtual bool isDown(unsigned int key) = 0;   // present state of a virtual key
};
}  // namespace korvel

class KORVEL_API KeyListener {
 public:
  static KeyListener* sharedInstance();

  // Registers cb for key; returns the registration's handle, or 0 (registering nothing) when cb
  // is empty. cb is called at once with the key's present state.
  uint64_t addListenerForKey(unsigned int key, KeyCallback cb, int repeat);
  void removeListenerForKey(unsigned int key, uint64_t handle);

  ~KeyListener();

  // For tests: replaces where key states come from (null restores the platform's reader), and
  // waits until the next full polling pass has ended.
  static void setKeyStateSourceForTesting(std::shared_ptr<korvel::KeyStateSource> source);
  void waitForPasses(int passes);

 private:
  KeyListener();
  KeyListener(const KeyListener&) = delete;
  KeyListener& operator=(const KeyListener&) = delete;
  void poll();

  std::atomic<int> stop{0};
  std::thread poller;
  std::mutex lock;
  std::map<unsigned int, std::unique_ptr<korvel::KeyRegistration>> registrations;
  std::atomic<uint64_t> passes{0};
  std::unique_ptr<korvel::platform::KeyboardReader> registrationReader;  // guarded by lock

  static std::unique_ptr<KeyListener> instance;
  static std::once_flag once;
  static uint64_t handles;
};

class KORVEL_API KeyRAI {
 public:
  KeyRAI(unsigned int key, KeyCallback cb, int repeat = 0);
  ~KeyRAI();
  // Copies key and handle only: both objects then name the same registration.
  KeyRAI& operator=(const KeyRAI& other);
  KeyRAI(const KeyRAI&) = delete;

  unsigned int key() const { return key_; }
  uint64_t handle() const { return handle_; }

 private:
  unsigned int key_;
  uint64_t handle_;
};
