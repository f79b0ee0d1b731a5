// The 330 × 429 picture that the 3D view shows until its first click: the controls, drawn in code.
#pragma once

#include <wx/bitmap.h>

namespace korvel::viewer {

inline constexpr int kHelpPictureId = 1032;
inline constexpr int kHelpWidth = 330;
inline constexpr int kHelpHeight = 429;

// Draws the picture (UI thread).
wxBitmap makeHelpPicture();

}  // namespace korvel::viewer
