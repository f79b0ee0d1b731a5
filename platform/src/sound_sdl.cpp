// Click sounds through SDL2 audio. A new clip replaces the one still playing, as the board's
// clicks do; without an audio device (no sound card, CI) every call is a silent no-op.
#include <SDL2/SDL.h>

#include <cstring>
#include <mutex>
#include <string>

#include "korvel/platform/platform.h"

namespace korvel::platform {
namespace {

struct Audio {
  std::mutex lock;
  bool tried = false;
  bool ok = false;
  SDL_AudioDeviceID device = 0;
  SDL_AudioSpec spec{};
};

Audio& audio() {
  static Audio* a = new Audio;  // lives to process exit: SDL may still call into it at exit
  return *a;
}

bool openDevice(Audio& a, const SDL_AudioSpec& wanted) {
  if (a.tried) return a.ok;
  a.tried = true;
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
  a.device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &a.spec, 0);
  if (a.device == 0) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return false;
  }
  SDL_PauseAudioDevice(a.device, 0);
  a.ok = true;
  return true;
}

}  // namespace

void playWaveAsync(const uint8_t* wave, size_t size) {
  if (wave == nullptr || size == 0) return;
  Audio& a = audio();
  std::lock_guard<std::mutex> guard(a.lock);
  SDL_AudioSpec spec{};
  Uint8* samples = nullptr;
  Uint32 length = 0;
  SDL_RWops* rw = SDL_RWFromConstMem(wave, static_cast<int>(size));
  if (rw == nullptr || SDL_LoadWAV_RW(rw, 1, &spec, &samples, &length) == nullptr) return;
  if (openDevice(a, spec)) {
    SDL_AudioCVT cvt{};
    int need = SDL_BuildAudioCVT(&cvt, spec.format, spec.channels, spec.freq, a.spec.format,
                                 a.spec.channels, a.spec.freq);
    SDL_ClearQueuedAudio(a.device);
    if (need == 0) {
      SDL_QueueAudio(a.device, samples, length);
    } else if (need > 0) {
      cvt.len = static_cast<int>(length);
      cvt.buf = static_cast<Uint8*>(SDL_malloc(static_cast<size_t>(cvt.len) * cvt.len_mult));
      if (cvt.buf != nullptr) {
        SDL_memcpy(cvt.buf, samples, length);
        if (SDL_ConvertAudio(&cvt) == 0) SDL_QueueAudio(a.device, cvt.buf, static_cast<Uint32>(cvt.len_cvt));
        SDL_free(cvt.buf);
      }
    }
  }
  SDL_FreeWAV(samples);
}

size_t pendingSoundBytes() {
  Audio& a = audio();
  std::lock_guard<std::mutex> guard(a.lock);
  return a.ok ? SDL_GetQueuedAudioSize(a.device) : 0;
}

namespace {

class SdlAudioStream final : public AudioStream {
 public:
  explicit SdlAudioStream(AudioPull pull) : pull_(std::move(pull)) {}
  ~SdlAudioStream() override {
    if (device_ != 0) SDL_CloseAudioDevice(device_);  // waits for a block in progress
    if (initialised_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }

  bool open(int wantedRate, std::string* error) {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
      *error = SDL_GetError();
      return false;
    }
    initialised_ = true;
    const char* driver = SDL_GetCurrentAudioDriver();
    if (driver != nullptr && std::strcmp(driver, "dummy") == 0) {
      *error = "only the \"dummy\" audio driver";
      return false;
    }
    SDL_AudioSpec wanted{};
    wanted.freq = wantedRate;
    wanted.format = AUDIO_F32SYS;
    wanted.channels = 1;
    wanted.samples = 512;
    wanted.callback = &SdlAudioStream::callback;
    wanted.userdata = this;
    device_ = SDL_OpenAudioDevice(nullptr, 0, &wanted, &spec_, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
    if (device_ == 0) {
      *error = SDL_GetError();
      return false;
    }
    SDL_PauseAudioDevice(device_, 0);
    return true;
  }

  int sampleRate() const override { return spec_.freq; }

 private:
  static void callback(void* self, Uint8* stream, int length) {
    auto* s = static_cast<SdlAudioStream*>(self);
    s->pull_(reinterpret_cast<float*>(stream), size_t(length) / sizeof(float));
  }

  AudioPull pull_;
  bool initialised_ = false;
  SDL_AudioDeviceID device_ = 0;
  SDL_AudioSpec spec_{};
};

}  // namespace

std::unique_ptr<AudioStream> openAudioStream(int wantedRate, AudioPull pull, std::string* error) {
  auto stream = std::make_unique<SdlAudioStream>(std::move(pull));
  std::string reason;
  if (!stream->open(wantedRate, &reason)) {
    if (error) *error = reason.empty() ? "no audio device found" : reason;
    return nullptr;
  }
  return stream;
}

}  // namespace korvel::platform
