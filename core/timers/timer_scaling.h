// Timer scaling: the firmware measures the ratio of real to simulated time by writing the byte
// variable "ScaleFlag" (1 = start, anything else = stop), or a fixed factor is configured; from
// then on every enabled timer's match values are divided by that factor as the firmware writes
// them, so timer interrupts come at the real-time rate.
#pragma once

#include <cstdint>

namespace korvel::timers {

// The core's contributions to the definition stages.
int defineRegisters();  // the 17 match/compare registers
int watchRegisters();   // a write watch on each
int reset();            // clears the factor and arms the watch on "ScaleFlag"

// The current factor (0.0 = none, no rewriting).
double scaleFactor();

// The host's call-backs (exposed for tests).
void onScaleFlagWritten(uint32_t address, uint32_t reason);
void onMatchRegisterWritten(uint32_t address, uint32_t reason);

}  // namespace korvel::timers
