#include "parts.h"

namespace korvel::simapp {

const std::vector<PartInfo>& boardParts() {
  static const std::vector<PartInfo> parts = {
      {"KEY1", "push button on P2.11", {"press", "release", "click"}, "press KEY1 | release KEY1 | click KEY1", -1, -1, true},
      {"KEY2", "push button on P2.12", {"press", "release", "click"}, "press KEY2 | release KEY2 | click KEY2", -1, -1, true},
      {"INT0", "push button on P2.10 (EINT0), through jumper JP5", {"press", "release", "click"},
       "press INT0 | release INT0 | click INT0", -1, -1, true},
      {"RESET", "the chip's reset button: the chip stays in reset while it is held", {"press", "release", "click"},
       "press RESET | release RESET | click RESET", -1, -1, true},
      {"JP5", "jumper between INT0 and P2.10: a click moves the cap", {"click"}, "click JP5"},
      {"JP3", "power jumper: a click moves the cap (the board is powered with the cap fitted)", {"click"}, "click JP3"},
      // The switch reacts to its lever only; the lever's middle is the natural place to click.
      {"SW6", "power switch: a click on its lever turns the board off or on", {"click"}, "click SW6 [X Y]", 81, 19},
      {"TP", "touch panel over the LCD, 240 x 320 pixels", {"touch", "untouch"}, "touch X Y (x 0..239, y 0..319) | untouch"},
      {"Joystick", "five-way joystick on P1.25..P1.29", {"joystick"},
       "joystick up|down|left|right|up-left|up-right|down-left|down-right|release|push|unpush"},
      {"Potmeter", "potentiometer on AD0.5 (P1.31): its wiper voltage is AIN5", {"turn"},
       "turn VOLTS (0 to 3.3, e.g. turn 1.65 or turn 2.5V: drags the knob there)"},
      {"Speaker", "speaker on the DAC output AOUT (P0.26)", {}, "listens only (click it on the board for a test tone)"},
      {"Pictor", "the LCD", {"lcd-png"}, "lcd-png FILE (a picture of the screen)"},
      {"Korvel", "the base board, parent of every other part", {"board-png"}, "board-png FILE (a picture of the board)"},
      {"LD12", "power LED", {}, "shown only"},
      {"Quillon1", "CAN port 1", {}, "shown only"},
      {"Quillon2", "CAN port 2", {}, "shown only"},
  };
  return parts;
}

const PartInfo* findPart(const std::string& id) {
  for (const PartInfo& p : boardParts())
    if (id == p.id) return &p;
  return nullptr;
}

std::string partList() {
  std::string text = "The board's parts (ID, what it is, how a script acts on it):\n";
  for (const PartInfo& p : boardParts()) {
    std::string id = p.id;
    id.resize(10, ' ');
    text += "  " + id + p.what + "\n  " + std::string(10, ' ') + "  " + p.usage + "\n";
  }
  text +=
      "Steps that need no part: vtr NAME VALUE (a virtual register the plug-in defined, or PORT0..PORT4),\n"
      "square PIN FREQUENCY|off (e.g. square P1.26 500Hz), reset, stop, expect \"TEXT\" within T.\n";
  return text;
}

}  // namespace korvel::simapp
