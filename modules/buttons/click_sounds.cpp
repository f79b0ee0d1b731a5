#include "click_sounds.h"

#include <cmath>
#include <numbers>

#include "korvel/platform/platform.h"

namespace korvel::sounds {
namespace {

constexpr uint32_t kRate = 44100;
constexpr int kFrames = 8379;  // 0.19 s

void put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}
void putTag(std::vector<uint8_t>& out, const char* tag) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(tag[i]));
}

// A click is a short burst of noise (the contact's snap) over a decaying tone (the body of the
// part ringing). The noise comes from a fixed linear congruential sequence, so every build makes
// the same clip.
std::vector<int16_t> click(double toneHz, double toneDecay, double noiseDecay, double level,
                           uint32_t seed) {
  std::vector<int16_t> samples(static_cast<size_t>(kFrames) * 2);
  uint32_t lcg = seed;
  for (int i = 0; i < kFrames; ++i) {
    double t = static_cast<double>(i) / kRate;
    lcg = lcg * 1664525u + 1013904223u;
    double noise = (static_cast<double>(lcg >> 8) / 8388608.0) - 1.0;
    double tone = std::sin(2.0 * std::numbers::pi * toneHz * t);
    double value = level * (0.6 * tone * std::exp(-t / toneDecay) + 0.4 * noise * std::exp(-t / noiseDecay));
    // A short fade-out keeps the end of the clip from popping.
    double tail = (kFrames - i) < 200 ? (kFrames - i) / 200.0 : 1.0;
    auto s = static_cast<int16_t>(std::lround(value * tail * 32767.0));
    samples[static_cast<size_t>(i) * 2] = s;
    samples[static_cast<size_t>(i) * 2 + 1] = s;
  }
  return samples;
}

struct Clips {
  std::vector<uint8_t> press = makeWave(click(180.0, 0.018, 0.004, 0.7, 1000), kRate);
  std::vector<uint8_t> release = makeWave(click(900.0, 0.010, 0.002, 0.5, 1001), kRate);
  std::vector<uint8_t> soft = makeWave(click(520.0, 0.012, 0.003, 0.45, 1002), kRate);
};

const Clips& clips() {
  static const Clips all;
  return all;
}

}  // namespace

std::vector<uint8_t> makeWave(const std::vector<int16_t>& interleavedStereo, uint32_t sampleRate) {
  const uint32_t channels = 2, bits = 16;
  const auto dataBytes = static_cast<uint32_t>(interleavedStereo.size() * sizeof(int16_t));
  std::vector<uint8_t> out;
  out.reserve(44 + dataBytes);
  putTag(out, "RIFF");
  put32(out, 36 + dataBytes);
  putTag(out, "WAVE");
  putTag(out, "fmt ");
  put32(out, 16);
  put16(out, 1);  // PCM
  put16(out, channels);
  put32(out, sampleRate);
  put32(out, sampleRate * channels * bits / 8);
  put16(out, channels * bits / 8);
  put16(out, bits);
  putTag(out, "data");
  put32(out, dataBytes);
  for (int16_t s : interleavedStereo) put16(out, static_cast<uint16_t>(s));
  return out;
}

std::span<const uint8_t> clickWave(int id) {
  switch (id) {
    case kPressClick: return clips().press;
    case kReleaseClick: return clips().release;
    case kSoftClick: return clips().soft;
    default: return {};
  }
}

void playClick(int id) {
  std::span<const uint8_t> wave = clickWave(id);
  if (!wave.empty()) platform::playWaveAsync(wave.data(), wave.size());
}

}  // namespace korvel::sounds
