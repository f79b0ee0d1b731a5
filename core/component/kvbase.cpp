#include "korvel/kvbase.h"

#include "korvel/dc_guard.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>

#include <wx/affinematrix2d.h>
#include <wx/dc.h>
#include <wx/dcclient.h>
#include <wx/graphics.h>

#include "korvel/host_functions.h"
#include "korvel/settings.h"

namespace {

std::atomic<InfoDialogOpener> infoDialogOpener{nullptr};
std::atomic<InfoDialogCloser> infoDialogCloser{nullptr};

const wxColour kBlue(kPlateBlue[0], kPlateBlue[1], kPlateBlue[2]);

wxColour colourFromRef(unsigned long ref) {
  return wxColour(ref & 0xFF, (ref >> 8) & 0xFF, (ref >> 16) & 0xFF);
}


constexpr const char* kSettingsPrefix = "KORVEL_COMPONENT_ID_";

}  // namespace

void setInfoDialogOpener(InfoDialogOpener opener) { infoDialogOpener.store(opener); }
void setInfoDialogCloser(InfoDialogCloser closer) { infoDialogCloser.store(closer); }

wxBEGIN_EVENT_TABLE(KVBase, wxWindow)
  EVT_PAINT(KVBase::onPaint)
  EVT_RIGHT_DOWN(KVBase::onRightDown)
wxEND_EVENT_TABLE()

KVBase::KVBase(const std::string& identifier, ChipOrientation orientation)
    : orientation_(orientation), identifier_(identifier) {
  // The component paints every pixel itself (backdrop first); an erase pass would only flicker.
  SetBackgroundStyle(wxBG_STYLE_PAINT);
}

KVBase::~KVBase() {
  if (wxWindow* dialog = infoDialog_) {
    // The dialog points back at this component: let it go before the component does.
    dialog->Unbind(wxEVT_DESTROY, &KVBase::onInfoDialogDestroyed, this);
    infoDialog_ = nullptr;
    if (InfoDialogCloser closer = infoDialogCloser.load()) {
      closer(this, dialog);
    } else {
      dialog->Hide();
      dialog->Destroy();
    }
  }
}

void KVBase::setEnabled(int enabled) { enabled_.store(enabled); }

int KVBase::isEnabled() const { return enabled_.load(); }

std::string KVBase::GetID() const { return identifier_; }

void KVBase::SetBundleID(const std::string& bundle) { bundleId_ = bundle; }

std::string KVBase::GetBundleID() const { return bundleId_; }

void KVBase::setInfoDialog(wxWindow* dialog) {
  if (infoDialog_ == dialog) return;
  if (infoDialog_) infoDialog_->Unbind(wxEVT_DESTROY, &KVBase::onInfoDialogDestroyed, this);
  infoDialog_ = dialog;
  if (infoDialog_) infoDialog_->Bind(wxEVT_DESTROY, &KVBase::onInfoDialogDestroyed, this);
}

void KVBase::onInfoDialogDestroyed(wxWindowDestroyEvent& event) {
  event.Skip();
  // Destroy events of the dialog's own children travel up to it as well: only the dialog's counts.
  if (event.GetEventObject() == infoDialog_) {
    infoDialog_->Unbind(wxEVT_DESTROY, &KVBase::onInfoDialogDestroyed, this);
    infoDialog_ = nullptr;
  }
}

void KVBase::OnRButtonDown(unsigned int flags, const wxPoint& point) {
  if (infoDialog_) {
    infoDialog_->Raise();
    return;
  }
  if (InfoDialogOpener opener = infoDialogOpener.load()) opener(this);
}

void KVBase::onRightDown(wxMouseEvent& event) {
  // The window-message flags of the click: MK_RBUTTON, MK_SHIFT, MK_CONTROL.
  unsigned int flags = 0x0002;
  if (event.ShiftDown()) flags |= 0x0004;
  if (event.ControlDown()) flags |= 0x0008;
  event.Skip();
  OnRButtonDown(flags, event.GetPosition());
}

int KVBase::OffsetForRotatedRectOfWidth(double width) {
  return static_cast<int>(std::floor((width - std::floor(width * std::sqrt(2.0) / 2.0)) / 2.0));
}

void KVBase::OnDraw(wxDC& dc, BaseType type, int fill, unsigned long fillColor) {
  const wxSize size = GetClientSize();
  const wxRect client(0, 0, size.x, size.y);
  korvel::DcStateGuard guard(dc);
  dc.SetBrush(wxBrush(kBlue));
  dc.SetPen(wxPen(*wxWHITE, 1));
  const wxBrush fillBrush(colourFromRef(fillColor));

  switch (type) {
    case Rect: {
      dc.DrawRectangle(client);
      if (fill) {
        dc.SetPen(*wxTRANSPARENT_PEN);
        dc.SetBrush(fillBrush);
        dc.DrawRectangle(wxRect(client).Deflate(2));
      }
      break;
    }
    case Rotated_Rect: {
      if (client.width != client.height)
        throw std::runtime_error("Rect must be squared for BaseType::Rotated_Rect.");
      const int inset = OffsetForRotatedRectOfWidth(client.width);
      const wxRect square = wxRect(client).Deflate(inset);
      // A quarter-eighth turn about the window's centre: the square's corners come to lie just
      // inside the middle of each side.
      const double c = std::cos(M_PI / 4), s = std::sin(M_PI / 4);
      const double w = client.width, h = client.height;
      wxAffineMatrix2D turn;
      turn.Set(wxMatrix2D(c, s, -s, c),
               wxPoint2DDouble(w / 2 - c * w / 2 + s * h / 2, h / 2 - c * h / 2 - s * w / 2));
      const auto drawTurned = [&](const wxRect& r) {
        if (dc.CanUseTransformMatrix()) {
          dc.DrawRectangle(r);
          return;
        }
        wxPoint corners[4] = {r.GetTopLeft(), wxPoint(r.GetRight() + 1, r.y),
                              wxPoint(r.GetRight() + 1, r.GetBottom() + 1),
                              wxPoint(r.x, r.GetBottom() + 1)};
        for (wxPoint& p : corners) {
          const wxPoint2DDouble q = turn.TransformPoint(wxPoint2DDouble(p.x, p.y));
          p = wxPoint(static_cast<int>(std::lround(q.m_x)), static_cast<int>(std::lround(q.m_y)));
        }
        dc.DrawPolygon(4, corners);
      };
      const bool transformed = dc.CanUseTransformMatrix();
      const wxAffineMatrix2D previous = transformed ? dc.GetTransformMatrix() : wxAffineMatrix2D();
      if (transformed) {
        wxAffineMatrix2D combined = previous;
        combined.Concat(turn);
        dc.SetTransformMatrix(combined);
      }
      try {
        drawTurned(square);
        if (fill) {
          dc.SetPen(*wxTRANSPARENT_PEN);
          dc.SetBrush(fillBrush);
          drawTurned(wxRect(square).Deflate(2));
        }
      } catch (...) {
        if (transformed) dc.SetTransformMatrix(previous);
        throw;
      }
      if (transformed) dc.SetTransformMatrix(previous);
      break;
    }
    case Ellipse: {
      // A GDI ellipse stays inside right/bottom; wx's reaches one pixel further.
      dc.DrawEllipse(client.x, client.y, client.width - 1, client.height - 1);
      if (fill) {
        const wxRect inner = wxRect(client).Deflate(2);
        dc.SetPen(*wxTRANSPARENT_PEN);
        dc.SetBrush(fillBrush);
        dc.DrawEllipse(inner.x, inner.y, inner.width - 1, inner.height - 1);
      }
      break;
    }
    default:
      throw std::runtime_error("Invalid BaseType.");
  }
}

int KVBase::loadSettings(float& value) {
  return SettingsManager::sharedInstance().getValueWithKey(kSettingsPrefix + identifier_, value);
}

int KVBase::saveSettings(float value) {
  SettingsManager::sharedInstance().setValueWithKey(kSettingsPrefix + identifier_, value);
  return 1;
}

void KVBase::DrawBackdrop(wxDC& dc) {
  const wxSize size = GetClientSize();
  DrawBackdropFor(dc, wxRect(0, 0, size.x, size.y));
}

void KVBase::DrawBackdropFor(wxDC& dc, const wxRect& areaInSelf) {
  wxWindow* parent = GetParent();
  if (auto* below = dynamic_cast<KVBase*>(parent)) {
    // Ask the component underneath to draw its own part, shifted into our coordinates.
    const wxPoint at = GetPosition();
    const wxPoint origin = dc.GetDeviceOrigin();
    dc.SetDeviceOrigin(origin.x - at.x, origin.y - at.y);
    wxRect inParent = areaInSelf;
    inParent.Offset(at);
    below->DrawBackdropFor(dc, inParent);
    dc.SetDeviceOrigin(origin.x, origin.y);
    return;
  }
  const wxColour colour = parent ? parent->GetBackgroundColour() : GetBackgroundColour();
  korvel::DcStateGuard guard(dc);
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(colour));
  dc.DrawRectangle(areaInSelf);
}

bool KVBase::Render(wxDC& dc) {
  // Each layer on its own: a plate that cannot be drawn still leaves the part itself on show.
  bool ok = runGuarded([&] { DrawBackdrop(dc); });
  ok = runGuarded([&] { DrawBackground(dc); }) && ok;
  ok = runGuarded([&] { DrawComponent(dc); }) && ok;
  return ok;
}

bool KVBase::runGuarded(const std::function<void()>& step) {
  try {
    step();
    return true;
  } catch (const std::exception& e) {
    reportDrawError(e.what());
  } catch (...) {
    reportDrawError("unknown error");
  }
  return false;
}

void KVBase::reportDrawError(const std::string& message) {
  if (!reportedErrors_.insert(message).second) return;
  HostFunctionTable* agsi = getAgsi();
  if (agsi && agsi->AgsiMessage) {
    agsi->AgsiMessage("[%s]: cannot draw the component: %s\n", identifier_.c_str(), message.c_str());
  } else {
    std::fprintf(stderr, "[%s]: cannot draw the component: %s\n", identifier_.c_str(),
                 message.c_str());
  }
}

void KVBase::onPaint(wxPaintEvent&) {
  wxPaintDC dc(this);
  Render(dc);
}
