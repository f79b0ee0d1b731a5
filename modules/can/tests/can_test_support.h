// Shared by the CAN logic tests: a clean bus per test, waiting for deliveries, and a foreign
// sender that writes frame files the way another instance does.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "can_bus.h"
#include "can_files.h"
#include "fake_can_host.h"
#include "temp_folder.h"

namespace quillon::testing {

// Every test starts with both ports closed and nothing watching.
class BusFixture {
 public:
  BusFixture() {
    CanBus& bus = CanBus::instance();
    bus.closeBoard();
    bus.resetPortsForNewBoard();
    bus.setForcePolling(false);
    bus.setSettingsPagePresent(true);
    bus.setDeliveryListener([this](int port, uint32_t id) {
      std::lock_guard g(lock_);
      deliveries_.push_back({port, id});
    });
  }
  ~BusFixture() {
    CanBus& bus = CanBus::instance();
    bus.closeBoard();
    bus.setDeliveryListener(nullptr);
    bus.setColourSink(nullptr);
    bus.setSettingsPagePresent(false);
  }
  struct Seen {
    int port;
    uint32_t identifier;
  };
  void forget() {
    std::lock_guard g(lock_);
    deliveries_.clear();
  }
  std::vector<Seen> deliveries() {
    std::lock_guard g(lock_);
    return deliveries_;
  }
  // Waits until at least n deliveries happened (or the time runs out), then a little longer so
  // that a duplicate would show.
  std::vector<Seen> awaitDeliveries(size_t n, int settleMs = 120, int timeoutMs = 3000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (deliveries().size() < n && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    std::this_thread::sleep_for(std::chrono::milliseconds(settleMs));
    return deliveries();
  }

 private:
  std::mutex lock_;
  std::vector<Seen> deliveries_;
};

// Confirms one port on dir with the given acceptance text, as the settings page does.
inline PortOutcome confirmPort(int port, const std::string& dir, const std::string& acceptance,
                               uint32_t colour = 0) {
  CanBus& bus = CanBus::instance();
  bus.setEnabled(port, true);
  bus.pickDirectory(port, dir);
  bus.setColour(port, colour);
  std::string texts[2] = {"-1", "-1"};
  texts[port - 1] = acceptance;
  PortOutcome out[2];
  bus.confirm(texts, out);
  return out[port - 1];
}

// Writes frame files as a sender would, all appearing at once (renamed in from a side folder).
inline void dropFrames(const std::string& dir, const std::vector<Frame>& frames) {
  std::filesystem::path side = std::filesystem::path(dir) / "side";
  std::filesystem::create_directories(side);
  std::vector<std::pair<std::filesystem::path, std::string>> moves;
  for (const Frame& f : frames) {
    std::string name = frameFileName(dir, f.identifier);
    std::filesystem::path staged = side / std::filesystem::path(name).filename();
    writeTextFile(staged, formatFrame(f));
    moves.emplace_back(staged, name);
  }
  for (auto& [from, to] : moves) std::filesystem::rename(from, to);
}

}  // namespace quillon::testing
