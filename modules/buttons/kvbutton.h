// The round push button on the board: pressed with the mouse or a key, it clicks and tells its
// owner the new state, through a burst of contact bounce when bouncing is on.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <wx/gdicmn.h>

#include "bounce.h"
#include "button_state.h"
#include "buttons_api.h"
#include "korvel/kvbase.h"

class BUTTONS_API KVButton : public KVBase {
 public:
  using Callback = std::function<void(KVButton*, ButtonState)>;

  KVButton(const std::string& name, ChipOrientation orientation);
  // Stops the bounce threads before their next transition and waits for them.
  ~KVButton() override;

  // 32 x 32 in every orientation.
  static wxSize Size(ChipOrientation orientation);
  // Reads the bounce count's distribution (BTN_MIN_BOUNCE, BTN_MAX_BOUNCE, BTN_SIGMA) from the
  // settings store; the module does it once when it is loaded.
  static void configureBounce();

  void setCallback(const Callback& callback);
  // Same as UpdateState.
  void setState(ButtonState state);
  // Asks for a new state: ignored when disabled or unchanged; see the bounce model for the rest.
  // Safe from any thread (the key listener's); repaints are posted to the UI thread.
  void UpdateState(ButtonState state);
  ButtonState state() const { return model_.state(); }
  // Accepted presses so far (see ButtonModel::pressCount).
  uint64_t pressCount() const { return model_.pressCount(); }
  // Blocks until the last bounce burst has been delivered (tests, scripted runs).
  void waitUntilSettled();

  void setOrientation(ChipOrientation orientation) override;
  // The disc: where it is drawn and where a press takes. Worked out from the window's size,
  // not remembered from the last paint, so a press that comes before the first paint (a busy
  // machine, a scripted click right after start-up) is not lost.
  wxRect hitRect() const;

 protected:
  void DrawBackground(wxDC& dc) override;
  void DrawComponent(wxDC& dc) override;

 private:
  void onLeftDown(wxMouseEvent& event);
  void onLeftUp(wxMouseEvent& event);
  void onLeave(wxMouseEvent& event);
  void onSetCursor(wxSetCursorEvent& event);
  void repaintDisc();

  korvel::buttons::ButtonModel model_;
  bool drawn_ = false;

  wxDECLARE_EVENT_TABLE();
};
