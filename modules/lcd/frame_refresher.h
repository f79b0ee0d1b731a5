// The LCD window's refresh thread, kept free of window code: every period it asks whether the
// picture should show, and when it should and the frame is dirty it hands a copy of the whole
// frame to the window (which then only posts a repaint to the UI thread).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "frame_buffer.h"

namespace pictor {

class FrameRefresher {
 public:
  // True while the window is enabled and the controller shows its graphics RAM.
  using Showing = std::function<bool()>;
  // Called on the refresh thread with the frame right after the dirty flag was taken.
  using Deliver = std::function<void(const FrameBuffer& frame)>;

  static constexpr std::chrono::milliseconds kPeriod{16};

  // Starts the thread; throws std::system_error when it cannot be started.
  FrameRefresher(FrameBuffer& frame, Showing showing, Deliver deliver,
                 std::chrono::milliseconds period = kPeriod);
  // Stops and joins the thread. Destroying it from its own thread (a call-back) is an error
  // that std::thread reports as a deadlock.
  ~FrameRefresher();
  FrameRefresher(const FrameRefresher&) = delete;
  FrameRefresher& operator=(const FrameRefresher&) = delete;

  // Number of polls so far (for tests of the idle behaviour).
  uint64_t polls() const;

  // Makes the next start fail as a system out of threads would (tests of the callers).
  static void failNextStartForTesting();

 private:
  void run();

  FrameBuffer& frame_;
  Showing showing_;
  Deliver deliver_;
  std::chrono::milliseconds period_;
  mutable std::mutex mutex_;  // guards stop_ and polls_ for the sleep
  std::condition_variable wake_;
  bool stop_ = false;
  uint64_t polls_ = 0;
  std::thread thread_;
};

}  // namespace pictor
