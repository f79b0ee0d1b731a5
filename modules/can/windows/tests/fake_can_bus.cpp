#include "fake_can_bus.h"

#include <cstdlib>

namespace quillon {
namespace {
PortView ports[2];
}

namespace fake {
Record& record() {
  static Record r;
  return r;
}
void reset() {
  record() = Record{};
  ports[0] = PortView{};
  ports[1] = PortView{};
}
}  // namespace fake

CanBus::CanBus() = default;
CanBus::~CanBus() = default;

CanBus& CanBus::instance() {
  static CanBus bus;
  return bus;
}

PortView CanBus::port(int port) const { return ports[port - 1]; }

void CanBus::setEnabled(int port, bool enabled) { ports[port - 1].enabled = enabled; }

bool CanBus::pickDirectory(int port, const std::string& folder) {
  std::string path = folder;
  if (path.empty() || path.back() != '/') path += '/';
  const bool changed = path != ports[port - 1].directory;
  ports[port - 1].directory = path;
  ports[port - 1].directoryChosen = true;
  return changed;
}

void CanBus::setColour(int port, uint32_t colour) { ports[port - 1].colour = colour; }

void CanBus::confirm(const std::string acceptanceText[2], PortOutcome outcome[2]) {
  fake::Record& r = fake::record();
  r.confirmations.push_back({acceptanceText[0], acceptanceText[1]});
  for (int i = 0; i < 2; ++i) {
    outcome[i] = PortOutcome{};
    if (!ports[i].enabled || !ports[i].directoryChosen || acceptanceText[i] == "-1") continue;
    outcome[i].skipped = false;
    outcome[i].error = r.error[i];
    ports[i].acceptanceId = static_cast<uint32_t>(std::strtol(acceptanceText[i].c_str(), nullptr, 10));
    if (r.sinkOnConfirm && r.sink) r.sink(i + 1, ports[i].colour);
  }
}

void CanBus::setColourSink(std::function<void(int, uint32_t)> sink) { fake::record().sink = std::move(sink); }

void CanBus::setSettingsPagePresent(bool present) { fake::record().pagePresent = present; }

void CanBus::resetPortsForNewBoard() {
  ++fake::record().resets;
  for (PortView& p : ports) {
    p.directory = "/";
    p.colour = 0;
  }
}

void CanBus::closeBoard() {
  ports[0].enabled = false;
  ports[1].enabled = false;
}

}  // namespace quillon
