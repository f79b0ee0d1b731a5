// The speaker's window: a round grille that shows sound waves while the speaker sounds; a left
// click plays the test tone.
#pragma once

#include <functional>

#include "korvel/kvbase.h"

class KVSpeaker : public KVBase {
 public:
  // sounding: whether the speaker sounds now; testTone: plays the test tone.
  KVSpeaker(std::function<bool()> sounding, std::function<void()> testTone);

  void setOrientation(ChipOrientation orientation) override;
  // Repaints when the sound came or went since the last call (UI thread, periodic).
  void poll();
  bool showsSound() const { return shown_; }

 protected:
  void DrawBackground(wxDC& dc) override;
  void DrawComponent(wxDC& dc) override;

 private:
  void onLeftDown(wxMouseEvent& event);

  std::function<bool()> sounding_;
  std::function<void()> testTone_;
  bool shown_ = false;

  wxDECLARE_EVENT_TABLE();
};
