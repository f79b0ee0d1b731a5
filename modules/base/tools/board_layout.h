// Where the board's component windows lie on the board picture (board coordinates, right and
// bottom excluded). The picture draws a part under each; a test checks the two stay together.
#pragma once

inline constexpr int kBoardWidth = 768;
inline constexpr int kBoardHeight = 552;

enum class PartKind { Button, Jumper, Joystick, Switch, Led, Lcd, CanBus, CanPort, Potmeter, Speaker };

struct ComponentPlace {
  const char* id;
  PartKind kind;
  int left, top, right, bottom;
};

inline constexpr ComponentPlace kComponentPlaces[] = {
    {"CAN Bus", PartKind::CanBus, 328, 0, 477, 38},
    {"Quillon1", PartKind::CanPort, 371, 0, 384, 13},
    {"Quillon2", PartKind::CanPort, 421, 0, 434, 13},
    {"Pictor", PartKind::Lcd, 236, 90, 508, 469},
    {"KEY1", PartKind::Button, 249, 514, 281, 546},
    {"KEY2", PartKind::Button, 299, 514, 331, 546},
    {"INT0", PartKind::Button, 349, 514, 381, 546},
    {"RESET", PartKind::Button, 399, 514, 431, 546},
    {"JP5", PartKind::Jumper, 151, 233, 166, 257},
    {"Joystick", PartKind::Joystick, 135, 474, 203, 542},
    {"JP3", PartKind::Jumper, 693, 48, 708, 83},
    {"SW6", PartKind::Switch, 672, 95, 768, 133},
    {"LD12", PartKind::Led, 648, 211, 668, 223},
    {"Potmeter", PartKind::Potmeter, 676, 462, 732, 518},
    {"Speaker", PartKind::Speaker, 590, 468, 638, 516},
};
