#include "engine.h"

#include "armv7m/core.h"
#include "cortex_m3.h"

namespace korvel::sim {

std::unique_ptr<Engine> makeEngine(EngineKind kind, Bus& bus) {
  if (kind == EngineKind::Unicorn) return std::make_unique<CortexM3>(bus);
  return std::make_unique<armv7m::Core>(bus);
}

}  // namespace korvel::sim
