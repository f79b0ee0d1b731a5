#include "kvbutton.h"

#include "korvel/dc_guard.h"
#include <wx/dc.h>
#include <wx/graphics.h>
#include <wx/thread.h>

#include "click_sounds.h"
#include "korvel/host_functions.h"
#include "korvel/settings.h"

namespace {

float readSetting(const std::string& key) { return SettingsManager::sharedInstance().getValueWithKey(key); }

korvel::buttons::BounceEnvironment environmentFor(const std::string& id) {
  korvel::buttons::BounceEnvironment env;
  env.setting = readSetting;
  env.playClick = [](ButtonState s) {
    korvel::sounds::playClick(s == ButtonState::Pressed ? korvel::sounds::kPressClick
                                                        : korvel::sounds::kReleaseClick);
  };
  env.report = [id](const std::string& what) {
    HostFunctionTable* agsi = getAgsi();
    if (agsi != nullptr && agsi->AgsiMessage != nullptr)
      agsi->AgsiMessage("[Buttons]: %s: its pin could not follow the contact bounce (%s); "
                        "further failures of this button are not reported\n",
                        id.c_str(), what.c_str());
  };
  return env;
}

const wxColour kPressedDisc(50, 50, 50);

}  // namespace

wxBEGIN_EVENT_TABLE(KVButton, KVBase)
  EVT_LEFT_DOWN(KVButton::onLeftDown)
  EVT_LEFT_UP(KVButton::onLeftUp)
  EVT_LEAVE_WINDOW(KVButton::onLeave)
  EVT_SET_CURSOR(KVButton::onSetCursor)
wxEND_EVENT_TABLE()

KVButton::KVButton(const std::string& name, ChipOrientation orientation)
    : KVBase(name, orientation), model_(environmentFor(name)) {}

KVButton::~KVButton() = default;  // the model stops and joins its threads

wxSize KVButton::Size(ChipOrientation) { return wxSize(32, 32); }

void KVButton::configureBounce() {
  korvel::buttons::configureBounceRandom(korvel::buttons::sharedBounceRandom(), readSetting);
}

void KVButton::setCallback(const Callback& callback) {
  if (!callback) {
    model_.setCallback({});
    return;
  }
  model_.setCallback([this, callback](ButtonState s) { callback(this, s); });
}

void KVButton::setState(ButtonState state) { UpdateState(state); }

void KVButton::waitUntilSettled() { model_.waitUntilSettled(); }

void KVButton::UpdateState(ButtonState state) {
  if (model_.update(state, isEnabled() != 0)) repaintDisc();
}

void KVButton::repaintDisc() {
  // Keys arrive on the key listener's thread: windows are touched on the UI thread only.
  if (wxThread::IsMain()) {
    RefreshRect(hitRect(), false);
  } else {
    CallAfter([this] { RefreshRect(hitRect(), false); });
  }
}

void KVButton::setOrientation(ChipOrientation orientation) {
  if (orientation == orientation_) return;
  orientation_ = orientation;
  if (drawn_) Refresh(true);
}

void KVButton::DrawBackground(wxDC& dc) {
  OnDraw(dc, Rect, 1, kComponentGrey);
  // The four dark dots at the corners are the tact switch's legs.
  const wxSize size = GetClientSize();
  const int left = 3, top = 3, right = size.x - 3, bottom = size.y - 3;
  wxDCPenChanger pen(dc, *wxTRANSPARENT_PEN);
  wxDCBrushChanger brush(dc, *wxBLACK_BRUSH);
  for (wxPoint at : {wxPoint(left, top), wxPoint(left, bottom - 7), wxPoint(right - 7, top),
                     wxPoint(right - 7, bottom - 7)})
    dc.DrawEllipse(at.x, at.y, 7, 7);
}


wxRect KVButton::hitRect() const {
  // The client rectangle shrunk by 2, then by 1 more: the disc is centred in what is left.
  const wxSize size = GetClientSize();
  const int left = 3, top = 3, right = size.x - 3, bottom = size.y - 3;
  const int cx = (left + right) / 2, cy = (top + bottom) / 2;
  return wxRect(wxPoint(cx - 8, cy - 8), wxPoint(cx + 8, cy + 8));  // 17 pixels across
}

void KVButton::DrawComponent(wxDC& dc) {
  korvel::DcStateGuard exact(dc);
  if (orientation_ > Orientation3) throw std::runtime_error("Invalid orientation.");
  const wxRect disc = hitRect();
  wxDCPenChanger pen(dc, *wxTRANSPARENT_PEN);
  wxDCBrushChanger brush(dc, state() == ButtonState::Pressed ? wxBrush(kPressedDisc) : *wxBLACK_BRUSH);
  dc.DrawEllipse(disc.x, disc.y, disc.width - 1, disc.height - 1);
  drawn_ = true;
}

void KVButton::onLeftDown(wxMouseEvent& event) {
  if (hitRect().Contains(event.GetPosition())) UpdateState(ButtonState::Pressed);
  event.Skip();
}

void KVButton::onLeftUp(wxMouseEvent& event) {
  UpdateState(ButtonState::Released);
  event.Skip();
}

void KVButton::onLeave(wxMouseEvent& event) {
  // Dragging off a held button lets it go.
  if (state() == ButtonState::Pressed) UpdateState(ButtonState::Released);
  event.Skip();
}

void KVButton::onSetCursor(wxSetCursorEvent& event) {
  if (isEnabled() && hitRect().Contains(event.GetX(), event.GetY())) {
    event.SetCursor(wxCursor(wxCURSOR_HAND));
    return;
  }
  event.Skip();
}
