// A row of jumper pins with a movable cap: the cap's position is a small state that the owner
// module reads through a call-back. A click moves the cap one place on.
#pragma once

#include <functional>
#include <string>

#include <wx/gdicmn.h>

#include "korvel/api.h"
#include "korvel/kvbase.h"

#if defined(KORVEL_BUILDING_JUMPERS)
#define JUMPERS_API KORVEL_EXPORT
#else
#define JUMPERS_API KORVEL_IMPORT
#endif

class JUMPERS_API KVJumper : public KVBase {
 public:
  using Callback = std::function<void(KVJumper*, int)>;

  // state 0 (or less): no cap; s >= 1: the cap joins pins s and s + 1. The stored state, if any,
  // replaces initialState (folded into 0 .. numberOfJumps - 1).
  KVJumper(const std::string& name, int initialState, int numberOfJumps, ChipOrientation orientation);
  ~KVJumper() override;

  // The footprint: 15 x (11 n + 2) upright (orientations 0, 2), turned for 1 and 3.
  static wxSize Size(ChipOrientation orientation, int numberOfJumps);

  void setNumberOfJumps(int numberOfJumps);
  int numberOfJumps() const { return jumps_; }
  void setOrientation(ChipOrientation orientation) override;
  void nextState();
  void setState(int state);
  int getState() const { return state_; }
  void setCallback(const Callback& callback);
  // Tells the call-back the present state without changing it.
  void Update();

  virtual void OnLButtonDown(unsigned int flags, const wxPoint& point);

 protected:
  void DrawBackground(wxDC& dc) override;
  void DrawComponent(wxDC& dc) override;

 private:
  void changeState(int state);
  void onLeftDown(wxMouseEvent& event);
  void onSetCursor(wxSetCursorEvent& event);

  int state_;
  int jumps_;
  Callback callback_;
  int drawn_ = 0;
};
