// Pin traces as a Value Change Dump (IEEE 1364 VCD, readable by GTKWave): one 1-bit wire per
// chosen pin, named like P0_22, with simulated time stamps in nanoseconds.
#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace korvel::simapp {

struct TracedPin {
  int port;  // 0..4
  int pin;   // 0..31
};

// Reads a --vcd-pins list: comma-separated "Pn.m" (one pin) or "Pn.*" (every pin of port n),
// n 0..4, m 0..31; each pin once, in the order first named. False with one line in *error.
bool parsePinList(const std::string& list, std::vector<TracedPin>* pins, std::string* error);
// Every pin of ports 0..4.
std::vector<TracedPin> allPins();

class VcdWriter {
 public:
  static constexpr int kPorts = 5;
  VcdWriter(std::ostream& out, std::vector<TracedPin> pins);

  // The header and the levels at time 0.
  void begin(const std::array<uint32_t, kPorts>& levels);
  // A port's pins now read `levels` at `seconds` of simulated time; only the chosen pins that
  // changed are written. Time never goes back in the file: an earlier stamp is taken as the last.
  void change(int port, uint32_t levels, double seconds);
  void flush() { out_.flush(); }

  // The short identifier of the n-th wire ("!", "\"", ... then two characters).
  static std::string identifier(size_t n);

 private:
  std::ostream& out_;
  std::vector<TracedPin> pins_;
  std::array<uint32_t, kPorts> traced_{};  // the chosen pins of each port
  std::array<uint32_t, kPorts> levels_{};
  std::array<std::vector<std::string>, kPorts> ids_;  // per port, per pin: its identifier
  uint64_t lastStamp_ = 0;
  bool stamped_ = false;
};

}  // namespace korvel::simapp
