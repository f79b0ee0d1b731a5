// Two instances in two processes on one folder, as two boards on one bus: each process is a
// can_peer driven through its standard input.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "temp_folder.h"

namespace {

using quillon::testing::TempFolder;

class Peer {
 public:
  Peer() {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 2);
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      close(in[1]), close(out[0]);
      execl(CAN_PEER_PATH, CAN_PEER_PATH, nullptr);
      _exit(127);
    }
    close(in[0]), close(out[1]);
    to_ = fdopen(in[1], "w");
    from_ = fdopen(out[0], "r");
  }
  ~Peer() {
    std::fputs("quit\n", to_);
    std::fclose(to_);
    int status = 0;
    waitpid(pid_, &status, 0);
    std::fclose(from_);
  }
  // Sends one command and returns its one-line answer (lines of sanitizer chatter are skipped).
  std::string ask(const std::string& command) {
    std::fprintf(to_, "%s\n", command.c_str());
    std::fflush(to_);
    char line[512];
    while (std::fgets(line, sizeof line, from_)) {
      std::string s(line);
      if (!s.empty() && s.back() == '\n') s.pop_back();
      if (s.rfind("ok", 0) == 0 || s.rfind("error", 0) == 0 || s.find(' ') != std::string::npos) return s;
    }
    return "<peer ended>";
  }
  long number(const std::string& command) {
    std::string a = ask(command);
    return std::stol(a.substr(a.find(' ') + 1));
  }

 private:
  pid_t pid_ = -1;
  FILE* to_ = nullptr;
  FILE* from_ = nullptr;
};

TEST(CanTwoProcesses, FrameWithIdentifier5LandsOnceInTheOtherInstance) {
  TempFolder bus;
  Peer sender, receiver;
  for (Peer* p : {&sender, &receiver}) {
    ASSERT_EQ(p->ask("result 1c0013"), "ok");
    ASSERT_EQ(p->ask("write 40044014 1c0013"), "ok");  // CAN1BTR: both at one bit rate
  }
  ASSERT_EQ(sender.ask("config 1 " + bus.dir() + " 7"), "ok");
  ASSERT_EQ(receiver.ask("config 1 " + bus.dir() + " 5"), "ok");
  sender.ask("reg 40044030 80000");
  sender.ask("reg 40044034 5");
  sender.ask("reg 40044038 44332211");
  sender.ask("reg 4004403c 88776655");
  ASSERT_EQ(sender.ask("write 40044004 21"), "ok");  // CAN1CMR: transmit buffer 1
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (receiver.number("deliveries") < 1 && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::this_thread::sleep_for(std::chrono::milliseconds(150));  // the deletion, and a duplicate, would show by now
  EXPECT_EQ(receiver.number("deliveries"), 1);
  EXPECT_EQ(receiver.number("get 40044020"), 0x80000);
  EXPECT_EQ(receiver.number("get 40044024"), 5);
  EXPECT_EQ(receiver.number("get 40044028"), 0x44332211);
  EXPECT_EQ(receiver.number("get 4004402c"), 0x88776655);
  EXPECT_EQ(receiver.number("pends"), 1);
  EXPECT_EQ(receiver.number("icr 40044000"), 1);
  EXPECT_EQ(sender.number("deliveries"), 0);  // a sender does not hear itself
  EXPECT_EQ(sender.number("icr 40044000"), 2);
}

}  // namespace
