// Frame latency between instances on one bus folder: one sender and N receivers, each in a
// process of its own (this program started again with --instance), 200 frames sent one after
// another. Measures, per frame and receiver, the time from the firmware's transmit command to
// deliverReceivedFrame, checks that every frame arrives exactly once, and prints median and p99.
//
// Baseline, measured in the same run: the sender's own spread (the 0..19 ms a transmission
// waits before its file appears, so that senders that start together do not collide) is the
// least latency any receiver could show; "reaction" is what the receiver adds to it.
//
//   can_bench [--frames N] [--repeat R] [--case 0..3]
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "can_bus.h"
#include "fake_can_host.h"
#include "korvel/platform/platform.h"

namespace fs = std::filesystem;
using namespace quillon;
using namespace quillon::testing;

namespace {

uint64_t now() { return korvel::platform::monotonicNanos(); }

void waitForFile(const fs::path& p) {
  while (!fs::exists(p)) std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

// ---- one instance (a process of its own) ----
int runInstance(const std::string& role, const std::string& bus, const std::string& out, int frames) {
  FakeCanHost host;
  host.declareFirmwareVariables(0);
  host.firmwareWrite(kCan1 + kBtr, 0);  // bit-timing reference 0: any sender's timing is fine
  std::ofstream log(out);
  if (role == "receiver") {
    std::mutex lock;
    std::vector<std::pair<uint32_t, uint64_t>> seen;
    CanBus::instance().setDeliveryListener([&](int, uint32_t) {
      uint64_t t = now();
      uint32_t seq = host.reg(kCan1 + kRda);
      std::lock_guard g(lock);
      seen.emplace_back(seq, t);
    });
    if (!CanBus::instance().configurePort(1, bus, "5", 0).frameWatcherStarted) return 2;
    std::ofstream(out + ".ready").close();
    waitForFile(bus + "done");
    CanBus::instance().closeBoard();
    std::lock_guard g(lock);
    for (auto& [seq, t] : seen) log << seq << ' ' << t << '\n';
    return 0;
  }
  if (!CanBus::instance().configurePort(1, bus, "7", 0).error.empty()) return 2;
  host.setReg(kCan1 + kTfi1, 0x00040000);
  host.setReg(kCan1 + kTid1, 5);
  for (int i = 0; i < frames; ++i) {
    host.setReg(kCan1 + kTda1, uint32_t(i));
    auto wallMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::system_clock::now().time_since_epoch()).count();
    uint64_t t = now();
    host.firmwareWrite(kCan1 + kCmr, 0x21);
    log << i << ' ' << t << ' ' << (wallMs % 20) << '\n';
  }
  CanBus::instance().closeBoard();
  return 0;
}

pid_t spawn(const std::string& self, const std::vector<std::string>& args, bool polling) {
  std::fflush(stdout);  // or the child would print what is still buffered once more
  pid_t pid = fork();
  if (pid == 0) {
    if (polling) setenv("KORVEL_CAN_POLL", "1", 1);
    std::vector<char*> argv{const_cast<char*>(self.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // The watchers' console messages would drown the report.
    if (!freopen("/dev/null", "w", stdout)) _exit(126);
    execv(self.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t k = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
  return v[k];
}

struct Outcome {
  double median, p99, spread, reaction;
  int lost, duplicated;
};

Outcome runCase(const std::string& self, int receivers, bool polling, int frames) {
  fs::path work = fs::temp_directory_path() / ("can-bench-" + std::to_string(getpid()));
  fs::remove_all(work);
  fs::create_directories(work / "bus");
  std::string bus = (work / "bus").string() + "/";
  std::vector<pid_t> pids;
  for (int r = 0; r < receivers; ++r) {
    std::string out = (work / ("r" + std::to_string(r))).string();
    pids.push_back(spawn(self, {"--instance", "receiver", bus, out, std::to_string(frames)}, polling));
    waitForFile(out + ".ready");
  }
  std::string sent = (work / "sender").string();
  pid_t sender = spawn(self, {"--instance", "sender", bus, sent, std::to_string(frames)}, polling);
  int status = 0;
  waitpid(sender, &status, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::ofstream(bus + "done").close();
  for (pid_t p : pids) waitpid(p, &status, 0);

  std::map<uint32_t, uint64_t> sentAt;
  std::vector<double> spreads;
  {
    std::ifstream in(sent);
    uint32_t seq;
    uint64_t t;
    double spread;
    while (in >> seq >> t >> spread) sentAt[seq] = t, spreads.push_back(spread);
  }
  std::vector<double> latency, reaction;
  Outcome o{};
  for (int r = 0; r < receivers; ++r) {
    std::map<uint32_t, int> count;
    std::ifstream in((work / ("r" + std::to_string(r))).string());
    uint32_t seq;
    uint64_t t;
    while (in >> seq >> t) {
      if (++count[seq] > 1) {
        ++o.duplicated;
        if (sentAt.count(seq))
          std::printf("  receiver %d got frame %u again %.2f ms after its transmit command\n", r, seq,
                      double(t - sentAt[seq]) / 1e6);
        continue;
      }
      if (sentAt.count(seq)) {
        double ms = double(t - sentAt[seq]) / 1e6;
        latency.push_back(ms);
        reaction.push_back(ms - spreads[seq]);
      }
    }
    for (int i = 0; i < frames; ++i)
      if (!count.count(uint32_t(i))) {
        ++o.lost;
        std::printf("  receiver %d never got frame %d\n", r, i);
      }
  }
  fs::remove_all(work);
  o.median = percentile(latency, 0.5);
  o.p99 = percentile(latency, 0.99);
  o.spread = percentile(spreads, 0.5);
  o.reaction = percentile(reaction, 0.5);
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() >= 5 && args[0] == "--instance") return runInstance(args[1], args[2], args[3], std::stoi(args[4]));
  int frames = 200, repeat = 2, only = -1;
  for (size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == "--case") only = std::stoi(args[i + 1]);
    if (args[i] == "--frames") frames = std::stoi(args[i + 1]);
    if (args[i] == "--repeat") repeat = std::stoi(args[i + 1]);
  }
  std::string self = korvel::platform::modulePathOf(reinterpret_cast<const void*>(&main)).string();
  struct Case {
    const char* name;
    int receivers;
    bool polling;
  } cases[] = {{"1 sender, 1 receiver, notified", 1, false},
               {"1 sender, 7 receivers, notified", 7, false},
               {"1 sender, 1 receiver, polling", 1, true},
               {"1 sender, 7 receivers, polling", 7, true}};
  std::printf("%d frames per run, %d runs per case; latency = transmit command to deliverReceivedFrame (ms)\n",
              frames, repeat);
  std::printf("%-34s %8s %8s %8s %8s %9s %5s %5s\n", "case", "median", "p99", "spread", "reaction", "med/sprd",
              "lost", "dup");
  bool ok = true;
  for (const Case& c : cases) {
    if (only >= 0 && &c != &cases[only]) continue;
    std::vector<double> medians, p99s;
    for (int r = 0; r < repeat; ++r) {
      Outcome o = runCase(self, c.receivers, c.polling, frames);
      std::printf("%-34s %8.2f %8.2f %8.2f %8.2f %9.2f %5d %5d\n", c.name, o.median, o.p99, o.spread, o.reaction,
                  o.spread > 0 ? o.median / o.spread : 0.0, o.lost, o.duplicated);
      std::fflush(stdout);
      medians.push_back(o.median);
      p99s.push_back(o.p99);
      ok &= o.lost == 0 && o.duplicated == 0 && o.median < 30 && o.p99 < 60;
    }
    std::printf("%-34s median of medians %.2f (min %.2f), median p99 %.2f (min %.2f)\n", c.name,
                percentile(medians, 0.5), *std::min_element(medians.begin(), medians.end()), percentile(p99s, 0.5),
                *std::min_element(p99s.begin(), p99s.end()));
  }
  std::printf(ok ? "every frame delivered exactly once; targets (median < 30 ms, p99 < 60 ms) met\n"
                 : "TARGETS MISSED (see lost/dup/median/p99 above)\n");
  return ok ? 0 : 1;
}
