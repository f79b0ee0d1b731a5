// The 3D view page of one model file in a component's information dialog.
#pragma once

#include <string>

class wxWindow;

// Creates the page as a child of parent (the information dialog); its window text, the tab
// label, is the model file's name without its extension. autoRotate: turning on at first.
wxWindow* CreateModelViewPage(wxWindow* parent, const std::string& modelPath, int autoRotate);
