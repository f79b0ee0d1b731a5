#include "engine.h"

#include "cortex_m3.h"

namespace korvel::sim {

std::unique_ptr<Engine> makeEngine(EngineKind kind, Bus& bus) {
  (void)kind;  // only Unicorn is built so far
  return std::make_unique<CortexM3>(bus);
}

}  // namespace korvel::sim
