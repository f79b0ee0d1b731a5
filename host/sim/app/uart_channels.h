// The UARTs' other ends (--uartN): standard input and output, a pseudo-terminal, a file or a
// loopback TCP server. Each open channel has a thread of its own that writes what the firmware
// sent and hands what arrives to the UART, waiting while the wire is full so nothing is dropped.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "options.h"

namespace korvel::simapp {

class UartChannels {
 public:
  struct Hooks {
    // Simulator::setUartSink and Simulator::uartInput.
    std::function<void(int n, std::function<void(uint8_t)> sink)> setSink;
    std::function<bool(int n, uint8_t byte)> input;
    // UART1..3 on stdio: their text, line by line. Notes the user needs (a terminal's name).
    std::function<void(const std::string& line)> stdoutLine, note;
  };
  UartChannels();
  ~UartChannels();
  UartChannels(const UartChannels&) = delete;
  UartChannels& operator=(const UartChannels&) = delete;

  // Opens every channel the options name; false with one line in *error (nothing left open).
  bool open(const Options::UartChannel (&channels)[4], Hooks hooks, std::string* error);
  // Writes what is still queued, ends the threads and takes the sinks away. Call once the
  // simulation has stopped.
  void close();

 private:
  struct Channel;
  void loop(Channel& c);
  Hooks hooks_;
  std::unique_ptr<Channel> channels_[4];
};

}  // namespace korvel::simapp
