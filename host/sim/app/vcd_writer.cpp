#include "vcd_writer.h"

#include <cmath>

namespace korvel::simapp {

namespace {
bool number(const std::string& text, int high, int* out) {
  if (text.empty() || text.size() > 2 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  *out = std::stoi(text);
  return *out <= high;
}
}  // namespace

std::vector<TracedPin> allPins() {
  std::vector<TracedPin> pins;
  for (int p = 0; p < VcdWriter::kPorts; ++p)
    for (int n = 0; n < 32; ++n) pins.push_back({p, n});
  return pins;
}

bool parsePinList(const std::string& list, std::vector<TracedPin>* pins, std::string* error) {
  std::vector<TracedPin> out;
  uint32_t seen[VcdWriter::kPorts] = {};
  auto add = [&](int port, int pin) {
    if (seen[port] >> pin & 1) return;
    seen[port] |= 1u << pin;
    out.push_back({port, pin});
  };
  size_t p = 0;
  while (p <= list.size()) {
    size_t q = list.find(',', p);
    if (q == std::string::npos) q = list.size();
    std::string item = list.substr(p, q - p);
    p = q + 1;
    size_t dot = item.find('.');
    int port = 0, pin = 0;
    if (item.size() < 4 || (item[0] != 'P' && item[0] != 'p') || dot == std::string::npos ||
        !number(item.substr(1, dot - 1), VcdWriter::kPorts - 1, &port) ||
        (item.substr(dot + 1) != "*" && !number(item.substr(dot + 1), 31, &pin))) {
      *error = "--vcd-pins: \"" + item + "\" is not a pin (write Pn.m or Pn.*, port 0..4, pin 0..31, comma-separated; e.g. P0.*,P2.13)";
      return false;
    }
    if (item.substr(dot + 1) == "*")
      for (int n = 0; n < 32; ++n) add(port, n);
    else
      add(port, pin);
  }
  *pins = std::move(out);
  return true;
}

std::string VcdWriter::identifier(size_t n) {
  // Printable characters '!'..'~' as the digits of a base-94 number.
  std::string id;
  do {
    id += char('!' + n % 94);
    n /= 94;
  } while (n);
  return id;
}

VcdWriter::VcdWriter(std::ostream& out, std::vector<TracedPin> pins) : out_(out), pins_(std::move(pins)) {
  for (auto& v : ids_) v.resize(32);
  for (size_t i = 0; i < pins_.size(); ++i) {
    const TracedPin& t = pins_[i];
    traced_[t.port] |= 1u << t.pin;
    ids_[t.port][t.pin] = identifier(i);
  }
}

void VcdWriter::begin(const std::array<uint32_t, kPorts>& levels) {
  levels_ = levels;
  out_ << "$version korvel-sim $end\n$timescale 1ns $end\n$scope module korvel $end\n";
  for (const TracedPin& t : pins_)
    out_ << "$var wire 1 " << ids_[t.port][t.pin] << " P" << t.port << '_' << t.pin << " $end\n";
  out_ << "$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n";
  for (const TracedPin& t : pins_) out_ << ((levels[t.port] >> t.pin) & 1) << ids_[t.port][t.pin] << '\n';
  out_ << "$end\n";
  stamped_ = true;
  lastStamp_ = 0;
}

void VcdWriter::change(int port, uint32_t levels, double seconds) {
  if (port < 0 || port >= kPorts) return;
  uint32_t changed = (levels ^ levels_[port]) & traced_[port];
  levels_[port] = levels;
  if (!changed) return;
  uint64_t stamp = seconds > 0 && std::isfinite(seconds) ? uint64_t(std::llround(seconds * 1e9)) : 0;
  if (stamp < lastStamp_) stamp = lastStamp_;
  if (!stamped_ || stamp != lastStamp_) out_ << '#' << stamp << '\n';
  stamped_ = true;
  lastStamp_ = stamp;
  for (int n = 0; n < 32; ++n)
    if (changed >> n & 1) out_ << ((levels >> n) & 1) << ids_[port][n] << '\n';
}

}  // namespace korvel::simapp
