// The base of every component window on the board: identifier, bundle, orientation, enabled
// state, the base plate in one of three shapes, the right click that opens the information
// dialog, and one persistent number per component in the settings store.
//
// Painting: KVBase handles the paint event itself (wxBG_STYLE_PAINT, no erase events) and calls,
// in order, DrawBackdrop (what lies under the component: the board picture), DrawBackground (the
// base plate, where a component calls OnDraw) and DrawComponent (the part itself). Errors thrown
// by these are caught there and reported once per component, so they never reach the toolkit's
// event loop. A subclass may bind its own paint handler instead; it should then wrap its drawing
// in runGuarded().
#pragma once

#include <atomic>
#include <functional>
#include <set>
#include <string>

#include <wx/window.h>

#include "korvel/api.h"

class wxDC;

enum ChipOrientation : int { Orientation0 = 0, Orientation1 = 1, Orientation2 = 2, Orientation3 = 3 };
enum BaseType : int { Rect = 0, Rotated_Rect = 1, Ellipse = 2 };

// The base plate's colours (0x00BBGGRR order where numbers are stored).
inline constexpr unsigned char kPlateBlue[3] = {2, 82, 131};
inline constexpr unsigned long kComponentGrey = 0x009B9B9B;  // RGB(155, 155, 155)

class KORVEL_API KVBase : public wxWindow {
 public:
  KVBase(const std::string& identifier, ChipOrientation orientation);
  ~KVBase() override;

  virtual void setEnabled(int enabled);
  virtual int isEnabled() const;
  virtual void setOrientation(ChipOrientation orientation) = 0;

  std::string GetID() const;
  void SetBundleID(const std::string& bundle);
  std::string GetBundleID() const;
  ChipOrientation orientation() const { return orientation_; }

  // Opens the component's information dialog (at most one at a time).
  virtual void OnRButtonDown(unsigned int flags, const wxPoint& point);
  // The open information dialog, or null.
  wxWindow* infoDialog() const { return infoDialog_; }
  // Records the open information dialog (null when it closes). The record is cleared by itself
  // when the dialog window is destroyed, and the dialog is closed when the component goes first.
  void setInfoDialog(wxWindow* dialog);

  // The inset that fits a 45-degree square into a square of the given width.
  static int OffsetForRotatedRectOfWidth(double width);

  // Draws the whole component (backdrop, plate, part) into dc, whose origin is the component's
  // top-left corner. The paint handler uses it; tests and screenshots render through it too.
  // Returns false when drawing failed (the error has been reported).
  bool Render(wxDC& dc);

  // Runs a drawing step, catching and reporting (once per distinct message) what it throws.
  // Returns false when it threw.
  bool runGuarded(const std::function<void()>& step);
  // How many drawing errors this component has reported (tests).
  size_t reportedDrawErrors() const { return reportedErrors_.size(); }

 protected:
  // Draws the base plate over the client rectangle. Throws std::runtime_error with
  // "Rect must be squared for BaseType::Rotated_Rect." or "Invalid BaseType.".
  void OnDraw(wxDC& dc, BaseType type, int fill, unsigned long fillColor);
  int loadSettings(float& value);
  int saveSettings(float value);

  // What shows where the component draws nothing: by default asks the parent component for the
  // matching part of itself, or fills with the parent's background colour.
  virtual void DrawBackdrop(wxDC& dc);
  // Draws the part of the parent under area (in this component's client coordinates, mapped to
  // the parent by the caller). The board picture overrides it.
  virtual void DrawBackdropFor(wxDC& dc, const wxRect& areaInSelf);
  virtual void DrawBackground(wxDC& dc) {}
  virtual void DrawComponent(wxDC& dc) {}

  // The enabled state as a word other threads may read.
  std::atomic<int> enabled_{1};
  ChipOrientation orientation_;

 private:
  void onRightDown(wxMouseEvent& event);
  void onPaint(wxPaintEvent& event);
  void onInfoDialogDestroyed(wxWindowDestroyEvent& event);
  void reportDrawError(const std::string& message);

  std::string bundleId_;
  wxWindow* infoDialog_ = nullptr;
  std::string identifier_;
  std::set<std::string> reportedErrors_;

  wxDECLARE_EVENT_TABLE();
};

// Hook through which the information dialog (built elsewhere in the core) opens for a component.
// Without it a right click does nothing.
using InfoDialogOpener = void (*)(KVBase* component);
KORVEL_API void setInfoDialogOpener(InfoDialogOpener opener);

// Hook through which a component that is being destroyed closes its open information dialog, so
// that the dialog never holds a pointer to a dead component. Without it the dialog window is
// hidden and destroyed directly.
using InfoDialogCloser = void (*)(KVBase* component, wxWindow* dialog);
KORVEL_API void setInfoDialogCloser(InfoDialogCloser closer);
