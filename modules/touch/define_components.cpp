// Lays the touch panel over the LCD's screen and lets the serial side find it by its ID.
#include "korvel/exports.h"
#include "korvel/module.h"
#include "kvpalmett.h"
#include "pictor/kvlcd.h"
#include "touch_serial.h"

KORVEL_MODULE_EXPORT int DefineAllComponents(wxWindow*, KVRect, ComponentModule* module) {
  palmett::touchSerial().setFinder([] {
    auto* panel = dynamic_cast<KVPalmett*>(getBoardChipWithID("TP"));
    return panel ? palmett::PanelRef{&panel->controller(), panel->isEnabled() != 0}
                 : palmett::PanelRef{};
  });
  const int w = KVLCD::Size(Orientation0).x;
  const int m = (w - palmett::kPanelWidth) / 2;
  KVBase* lcd = getBoardChipWithID("Pictor");
  auto* panel = new KVPalmett("TP", Orientation0);
  const int placed = DefineNewComponent(
      panel, lcd, KVRect{m, m, m + palmett::kPanelWidth, m + palmett::kPanelHeight}, module);
  if (!placed && !panel->GetParent()) delete panel;
  return placed;
}
