// Which execution engine runs the firmware (korvel-sim --cpu).
#pragma once

#include <optional>
#include <string_view>

namespace korvel::sim {

enum class EngineKind { Own, Unicorn };
inline const char* toString(EngineKind kind) { return kind == EngineKind::Own ? "own" : "unicorn"; }
inline std::optional<EngineKind> engineKindFromString(std::string_view name) {
  if (name == "own") return EngineKind::Own;
  if (name == "unicorn") return EngineKind::Unicorn;
  return std::nullopt;
}

}  // namespace korvel::sim
