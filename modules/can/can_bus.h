// The module-wide CAN state of Quillon, shared by the firmware's register watches (simulation
// thread), the directory watchers (their own threads) and the settings page (UI thread). Free of
// window code: the page and the port squares reach it only through this header.
//
// Ports are numbered 1 and 2 (CAN1 at 0x40044000, CAN2 at 0x40048000). Directories always end
// with the platform's separator ("/" here); until the user picks one a port's directory is the
// file-system root "/" and the port takes no part in the exchange.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "korvel/host_functions.h"

namespace quillon {

// An acceptance ID that makes the frame watcher take every identifier (not self-reception).
inline constexpr uint32_t kAcceptAllId = 987654321u;
inline constexpr uint32_t kNoAcceptanceId = 0xFFFFFFFFu;

enum class CanEventState : uint32_t { Transmitted = 0, Received = 1, Consumed = 2 };

// What the settings page shows of a port.
struct PortView {
  std::string directory = "/";
  uint32_t colour = 0;  // 0x00BBGGRR
  uint32_t acceptanceId = kNoAcceptanceId;
  bool enabled = false;
  bool directoryChosen = false;
};

// What confirming the settings page did for one port (for the page and for tests).
struct PortOutcome {
  bool skipped = true;             // disabled, no directory chosen, or acceptance text "-1"
  bool frameWatcherStarted = false;
  bool colourWatcherStarted = false;
  std::string error;               // one line for the user when preparing the directory failed
};

class CanBus {
 public:
  static CanBus& instance();

  PortView port(int port) const;

  // Settings page actions; they take effect at once, as on the page.
  void setEnabled(int port, bool enabled);
  // The user picked a folder: returns true when it differs from the port's previous directory.
  // The separator is appended when missing. Marks the port's directory as chosen.
  bool pickDirectory(int port, const std::string& folder);
  void setColour(int port, uint32_t colour);

  // "OK" on the settings page (also korvel-sim's headless port options): for port 1 then 2,
  // parse the acceptance text (sign and digits; anything else 0; "-1" skips the port), prepare
  // the directory, broadcast the colour, show it on the port's square and start the watchers
  // that the changes need (watchers start once per change of directory). Never throws.
  void confirm(const std::string acceptanceText[2], PortOutcome outcome[2]);

  // Where port colours are shown: called from any thread (a colour watcher, confirm) with the
  // port and its colour; the window side posts the repaint to the UI thread. Empty to detach.
  void setColourSink(std::function<void(int port, uint32_t colour)> sink);

  // The settings page exists (firmware transmit commands are ignored until then).
  void setSettingsPagePresent(bool present);

  // DefineAllComponents: both directories "/", both colours black.
  void resetPortsForNewBoard();
  // ClosingUI: disables both ports and wakes every watcher on the chosen directories.
  void closeBoard();

  // ---- The controller side (added for the module and its tests) ----------------------------
  // The host functions the register handlers and deliverReceivedFrame use (the module passes
  // getAgsi()); null detaches.
  void setHost(const HostFunctionTable* host);
  // Watch handlers: a firmware write to CANxCMR or CANxBTR, a firmware read of CANxICR.
  static void commandWritten(uint32_t address, uint32_t reason);
  static void bitTimingWritten(uint32_t address, uint32_t reason);
  static void interruptCauseRead(uint32_t address, uint32_t reason);
  // A frame from the bus lands in the port's receive registers and the CAN interrupt pends.
  void deliverReceivedFrame(int port, uint32_t information, uint32_t identifier, uint32_t dataA,
                            uint32_t dataB);
  // Called after each delivery (benchmarks and tests count them); empty to detach.
  void setDeliveryListener(std::function<void(int port, uint32_t identifier)> listener);
  CanEventState eventState(int port) const;
  uint32_t bitTimingReference(int port) const;
  // Look at CAN folders every few milliseconds instead of waiting for notifications (also
  // chosen by itself for folders on network file systems).
  void setForcePolling(bool polling);
  // Module unload: wakes and joins every watcher thread.
  void shutdown();
  // Headless use: enables the port, picks dir, sets the colour and confirms with the acceptance
  // text (the other port untouched). Counts as the settings page being present.
  PortOutcome configurePort(int port, const std::string& dir, const std::string& acceptanceText,
                            uint32_t colour);

 private:
  CanBus();
  ~CanBus();
  CanBus(const CanBus&) = delete;
  CanBus& operator=(const CanBus&) = delete;
};

}  // namespace quillon
