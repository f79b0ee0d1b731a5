// The "Credit" page of a module's information dialog: the "credit.html" that lies beside the
// module library this code is linked into. Compiled into each module that shows credits, so each
// finds its own file.
#pragma once

#include <filesystem>

class wxWindow;

// Creates the page as a child of parent (the information dialog), titled "Credit".
wxWindow* CreateCreditPage(wxWindow* parent);

// The credits file of the module that holds this code.
std::filesystem::path creditFilePath();
