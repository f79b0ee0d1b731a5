// The Quillon module: the frame path of the two CAN controllers and the exchange of frames and
// port colours with other instances through a shared folder.
#include <cstdint>
#include <string>

#include "can_bus.h"
#include "korvel/exports.h"
#include "korvel/module.h"
#include "korvel/settings.h"

namespace {

using quillon::CanBus;

struct SfrRow {
  const char* name;
  uint32_t address;
};
// CAN1's registers and the rest of CAN2's are the host's own.
constexpr SfrRow kSfrs[] = {
    {"CAN2CMR", 0x40048004},  {"CAN2TFI1", 0x40048030}, {"CAN2TID1", 0x40048034},
    {"CAN2TDA1", 0x40048038}, {"CAN2TDB1", 0x4004803C}, {"CAN2RFS", 0x40048020},
    {"CAN2RID", 0x40048024},  {"CAN2RDA", 0x40048028},  {"CAN2RDB", 0x4004802C},
};

struct WatchRow {
  uint32_t address;
  AGSICALLBACK handler;
  uint32_t access;
};
const WatchRow kWatches[] = {
    {0x40048004, &CanBus::commandWritten, AGSIWRITE},     // CAN2CMR
    {0x40044004, &CanBus::commandWritten, AGSIWRITE},     // CAN1CMR
    {0x40044014, &CanBus::bitTimingWritten, AGSIWRITE},   // CAN1BTR
    {0x40048014, &CanBus::bitTimingWritten, AGSIWRITE},   // CAN2BTR
    {0x4004800C, &CanBus::interruptCauseRead, AGSIREAD},  // CAN2ICR
    {0x4004400C, &CanBus::interruptCauseRead, AGSIREAD},  // CAN1ICR
};

}  // namespace

KORVEL_MODULE_EXPORT int DefineAllSFR() {
  CanBus::instance().setHost(getAgsi());
  // CAN_POLL = 1 in korvel.ini looks at the CAN folders every few milliseconds instead of waiting
  // for change notifications (folders that other machines write to over the network).
  float poll = 0;
  if (SettingsManager::sharedInstance().getValueWithKey("CAN_POLL", poll) && poll != 0)
    CanBus::instance().setForcePolling(true);
  int ok = 1;
  for (const SfrRow& r : kSfrs) ok &= getAgsi()->AgsiDefineSFR(r.name, r.address, AGSILONG, 0) ? 1 : 0;
  return ok;
}

KORVEL_MODULE_EXPORT int DefineAllVTREG() { return 1; }
KORVEL_MODULE_EXPORT int DefineAllInterrupts() { return 1; }

KORVEL_MODULE_EXPORT int DefineAllWatches() {
  for (const WatchRow& w : kWatches) getAgsi()->AgsiSetWatchOnSFR(w.address, w.handler, w.access);
  return 1;
}

KORVEL_MODULE_EXPORT int DefineAllKeys() { return 1; }
KORVEL_MODULE_EXPORT int ResetPeripheral() { return 1; }
KORVEL_MODULE_EXPORT void UpdateUI() {}

KORVEL_MODULE_EXPORT void ComponentsLoaded() {
  getAgsi()->AgsiMessage("COMPILAZIONE CAN fix gpio error e acceptance filter\n");
}

KORVEL_MODULE_EXPORT void ClosingUI() { CanBus::instance().closeBoard(); }

// Headless use (korvel-sim's --canN-* options): enables port 1 or 2 on dir with the acceptance
// ID text and colour (0x00BBGGRR) and confirms as the settings page would. 1 when the port's
// folders were prepared (and its watchers started where needed), 0 otherwise with the reason
// in the host's output window.
KORVEL_MODULE_EXPORT int QuillonConfigurePort(int port, const char* dir, const char* acceptance, uint32_t colour) {
  if ((port != 1 && port != 2) || dir == nullptr || dir[0] == '\0') return 0;
  quillon::PortOutcome out =
      CanBus::instance().configurePort(port, dir, acceptance != nullptr ? acceptance : "0", colour);
  if (!out.error.empty()) {
    getAgsi()->AgsiMessage("CAN %d: %s\n", port, out.error.c_str());
    return 0;
  }
  return out.skipped ? 0 : 1;
}

#ifndef QUILLON_HAS_WINDOWS
// Without the port windows: no components, no settings page (so no firmware transmission until
// a port is configured headless).
KORVEL_MODULE_EXPORT int DefineAllComponents(wxWindow*, KVRect, ComponentModule*) {
  CanBus::instance().resetPortsForNewBoard();
  return 1;
}
KORVEL_MODULE_EXPORT int DefineAllDialogPages(wxWindow*) { return 1; }
#endif
