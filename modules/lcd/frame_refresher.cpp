#include "frame_refresher.h"

#include <atomic>
#include <system_error>

namespace pictor {
namespace {
std::atomic<bool> failNextStart{false};
}  // namespace

void FrameRefresher::failNextStartForTesting() { failNextStart.store(true); }

FrameRefresher::FrameRefresher(FrameBuffer& frame, Showing showing, Deliver deliver,
                               std::chrono::milliseconds period)
    : frame_(frame), showing_(std::move(showing)), deliver_(std::move(deliver)), period_(period) {
  if (failNextStart.exchange(false))
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  thread_ = std::thread([this] { run(); });
}

FrameRefresher::~FrameRefresher() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

uint64_t FrameRefresher::polls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return polls_;
}

void FrameRefresher::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    ++polls_;
    lock.unlock();
    // A frame changed while the picture was hidden stays dirty and is copied at the first poll
    // after it shows again.
    if (showing_() && frame_.takeDirty()) deliver_(frame_);
    lock.lock();
    // Sleep to a fixed wake-up time on the steady clock, so early wake-ups sleep again; the
    // destructor's notification ends the wait at once.
    const auto wakeAt = std::chrono::steady_clock::now() + period_;
    wake_.wait_until(lock, wakeAt, [&] { return stop_; });
  }
}

}  // namespace pictor
