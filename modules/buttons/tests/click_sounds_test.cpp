// The click clips are valid WAVE files of the format the players expect.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "click_sounds.h"
#include "korvel/platform/platform.h"

namespace {

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

TEST(ClickSounds, EachClipIsStereo16Bit44kPcmOfAboutAFifthOfASecond) {
  for (int id : {1000, 1001, 1002}) {
    auto wave = korvel::sounds::clickWave(id);
    ASSERT_GT(wave.size(), 44u) << "clip " << id;
    const uint8_t* p = wave.data();
    EXPECT_EQ(std::memcmp(p, "RIFF", 4), 0);
    EXPECT_EQ(le32(p + 4), wave.size() - 8) << "RIFF size of clip " << id;
    EXPECT_EQ(std::memcmp(p + 8, "WAVEfmt ", 8), 0);
    EXPECT_EQ(le16(p + 20), 1) << "PCM";
    EXPECT_EQ(le16(p + 22), 2) << "stereo";
    EXPECT_EQ(le32(p + 24), 44100u);
    EXPECT_EQ(le16(p + 34), 16) << "bits per sample";
    double seconds = le32(p + 40) / (44100.0 * 4);
    EXPECT_NEAR(seconds, 0.19, 0.01) << "clip " << id;
  }
}

// Played through the dummy audio device that the tests run with: the clip is queued whole, and
// a new click cuts the one still playing short instead of queueing behind it.
TEST(ClickSounds, AClickIsQueuedWholeAndTheNextClickReplacesTheOneStillPlaying) {
  ::setenv("SDL_AUDIODRIVER", "dummy", 0);
  EXPECT_TRUE(korvel::sounds::clickWave(999).empty());
  korvel::sounds::playClick(999);
  EXPECT_EQ(korvel::platform::pendingSoundBytes(), 0u) << "an unknown clip plays nothing";

  auto sampleBytes = [](int id) { return le32(korvel::sounds::clickWave(id).data() + 40); };
  korvel::sounds::playClick(korvel::sounds::kPressClick);
  const size_t pressed = korvel::platform::pendingSoundBytes();
  EXPECT_GT(pressed, 0u) << "the press click was not played";
  EXPECT_LE(pressed, sampleBytes(korvel::sounds::kPressClick));

  korvel::sounds::playClick(korvel::sounds::kSoftClick);
  const size_t soft = korvel::platform::pendingSoundBytes();
  EXPECT_GT(soft, 0u) << "the soft click was not played";
  EXPECT_LE(soft, sampleBytes(korvel::sounds::kSoftClick))
      << "the soft click was queued behind the press click instead of replacing it";
}

}  // namespace
