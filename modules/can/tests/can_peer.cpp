// One instance of the CAN bus in a process of its own, driven line by line on standard input so
// that a test can put several instances on one folder. Each command answers one line:
//   config PORT DIR ACCEPTANCE   confirms the port      -> "ok" or "error <reason>"
//   result VALUE                 the firmware variable result
//   reg ADDR VALUE               sets a register        -> "ok"
//   write ADDR VALUE             the firmware stores to CANxCMR/CANxBTR -> "ok"
//   get ADDR                     -> "value N"
//   icr BASE                     the firmware reads CANxICR -> "icr N" (238: nothing written)
//   deliveries                   -> "deliveries N"
//   pends                        -> "pends N"
//   quit
#include <atomic>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

#include "can_bus.h"
#include "fake_can_host.h"

using namespace quillon;
using namespace quillon::testing;

int main() {
  FakeCanHost host;
  host.declareFirmwareVariables(0);
  std::atomic<int> deliveries{0};
  CanBus::instance().setDeliveryListener([&](int, uint32_t) { ++deliveries; });
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string cmd;
    in >> cmd;
    std::string reply = "ok";
    if (cmd == "config") {
      int port;
      std::string dir, acceptance;
      in >> port >> dir >> acceptance;
      PortOutcome out = CanBus::instance().configurePort(port, dir, acceptance, 0);
      if (!out.error.empty()) reply = "error " + out.error;
    } else if (cmd == "result") {
      uint32_t v;
      in >> std::hex >> v;
      host.setWord(kResultAddress, v);
    } else if (cmd == "reg" || cmd == "write") {
      uint32_t a, v;
      in >> std::hex >> a >> v;
      if (cmd == "reg") host.setReg(a, v);
      else host.firmwareWrite(a, v);
    } else if (cmd == "get") {
      uint32_t a;
      in >> std::hex >> a;
      reply = "value " + std::to_string(host.reg(a));
    } else if (cmd == "icr") {
      uint32_t a;
      in >> std::hex >> a;
      reply = "icr " + std::to_string(host.firmwareReadsIcr(a));
    } else if (cmd == "deliveries") {
      reply = "deliveries " + std::to_string(deliveries.load());
    } else if (cmd == "pends") {
      reply = "pends " + std::to_string(host.pends());
    } else if (cmd == "quit") {
      break;
    } else {
      reply = "error unknown command " + cmd;
    }
    // Replies go to stderr's twin channel: stdout also carries the watchers' own messages.
    std::fprintf(stderr, "%s\n", reply.c_str());
    std::fflush(stderr);
  }
  CanBus::instance().closeBoard();
  CanBus::instance().setDeliveryListener(nullptr);
  return 0;
}
