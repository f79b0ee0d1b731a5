// The board's parts as scripts name them: each part's identifier (the name its module registers
// it under), what it is, and which scripted actions reach it. Scripts are checked against this
// table before a run starts, so a misspelt part or an action a part ignores is an error, not a
// silent no-op.
#pragma once

#include <string>
#include <vector>

namespace korvel::simapp {

struct PartInfo {
  const char* id;
  const char* what;
  std::vector<std::string> actions;  // the scripted actions that act on this part; empty: none
  const char* usage;                 // how a script uses it, for --list-parts
  // Where press, release and click land inside the part when the step names no point; negative:
  // the part's centre.
  int defaultX = -1, defaultY = -1;
  // A push button: its presses and releases reach the chip as a burst of contact bounce played
  // on a thread of the button's own.
  bool bounces = false;
};

const std::vector<PartInfo>& boardParts();
const PartInfo* findPart(const std::string& id);
// The table as --list-parts prints it.
std::string partList();

}  // namespace korvel::simapp
