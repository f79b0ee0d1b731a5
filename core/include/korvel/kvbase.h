// The base of every component window on the board: identifier, bundle, orientation, enabled
// state, the base plate in one of three shapes, the right click that opens the information
// dialog, and one persistent number per component in the settings store.
#pragma once

#include <atomic>
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
  void setInfoDialog(wxWindow* dialog) { infoDialog_ = dialog; }

  // The inset that fits a 45-degree square into a square of the given width.
  static int OffsetForRotatedRectOfWidth(double width);

 protected:
  // Draws the base plate over the client rectangle. Throws std::runtime_error with
  // "Rect must be squared for BaseType::Rotated_Rect." or "Invalid BaseType.".
  void OnDraw(wxDC& dc, BaseType type, int fill, unsigned long fillColor);
  int loadSettings(float& value);
  int saveSettings(float value);

  // The enabled state as a word other threads may read.
  std::atomic<int> enabled_{1};
  ChipOrientation orientation_;

 private:
  void onRightDown(wxMouseEvent& event);

  std::string bundleId_;
  wxWindow* infoDialog_ = nullptr;
  std::string identifier_;
};

// Hook through which the information dialog (built elsewhere in the core) opens for a component.
// Without it a right click does nothing.
using InfoDialogOpener = void (*)(KVBase* component);
KORVEL_API void setInfoDialogOpener(InfoDialogOpener opener);
