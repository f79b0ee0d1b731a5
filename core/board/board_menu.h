// The board's entry in the host's menu, defined during the MenuEntries stage.
#pragma once

namespace korvel {
// Defines the "&Korvel" menu entry with the host; returns the host's result.
int defineBoardMenu();
}  // namespace korvel
