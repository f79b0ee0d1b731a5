// The click sounds of the board's mechanical parts: short WAVE clips (16-bit stereo PCM,
// 44 100 Hz, about 0.19 s) made by this code, looked up by resource number and played without
// waiting. Shared by the buttons and the joystick; each module links its own copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace korvel::sounds {

enum : int {
  kPressClick = 1000,    // a contact closing
  kReleaseClick = 1001,  // a contact opening (the joystick uses it for its centre press)
  kSoftClick = 1002,     // the joystick's centre released
};

// The complete WAVE file of a clip, or an empty span for an unknown number.
std::span<const uint8_t> clickWave(int id);
// Starts playing a clip and returns at once; an unknown number or no audio device plays nothing.
void playClick(int id);

// Builds a WAVE file (RIFF header and data) around interleaved 16-bit stereo samples.
std::vector<uint8_t> makeWave(const std::vector<int16_t>& interleavedStereo, uint32_t sampleRate);

}  // namespace korvel::sounds
