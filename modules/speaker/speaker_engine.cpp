#include "speaker_engine.h"

#include "korvel/platform/platform.h"

namespace korvel::speaker {

SpeakerEngine::SpeakerEngine(EngineEnvironment env) : env_(std::move(env)) {
  std::lock_guard<std::mutex> guard(lock_);
  build(kDefaultRate);
}

SpeakerEngine::~SpeakerEngine() { stop(); }

void SpeakerEngine::build(int rate) {
  rate_ = rate > 0 ? rate : kDefaultRate;
  ring_ = std::make_unique<SampleRing>(size_t(rate_ * kBufferSeconds));
  sampler_ = std::make_unique<DacSampler>(*ring_, rate_, size_t(rate_ * kMaxHoldSeconds));
  std::lock_guard<std::mutex> render(renderLock_);
  renderer_ = std::make_unique<Renderer>(rate_);
  renderer_->setGain(gain_.load());
}

void SpeakerEngine::start() {
  refreshSettings();
  if (running_.load()) return;
  std::unique_ptr<platform::AudioStream> stream;
  std::string error;
  if (env_.openStream) {
    stream = env_.openStream(kDefaultRate, [this](float* out, size_t n) { pull(out, n); }, &error);
  } else {
    error = "no audio output";
  }
  {
    std::lock_guard<std::mutex> guard(lock_);
    // The device may play at another rate: the ring and the sampler follow it. The device's
    // thread does not pull before the stream is stored, as pull waits for this lock.
    build(stream ? stream->sampleRate() : kDefaultRate);
    stream_ = std::move(stream);
    sampler_->restart(env_.seconds ? env_.seconds() : 0.0);
  }
  if (!hasDevice() && !toldNoDevice_ && env_.message) {
    toldNoDevice_ = true;
    env_.message("Speaker: no audio device (" + error + "); the speaker plays nothing.");
  }
  running_.store(true);
}

void SpeakerEngine::stop() {
  running_.store(false);
  std::unique_ptr<platform::AudioStream> stream;
  {
    std::lock_guard<std::mutex> guard(lock_);
    stream = std::move(stream_);
  }
  stream.reset();  // outside the lock: closing waits for a block the device thread is filling
}

bool SpeakerEngine::hasDevice() const {
  std::lock_guard<std::mutex> guard(lock_);
  return stream_ != nullptr;
}

int SpeakerEngine::rate() const {
  std::lock_guard<std::mutex> guard(lock_);
  return rate_;
}

void SpeakerEngine::aoutChanged() {
  if (!running_.load()) return;
  float volts = env_.aoutVolts ? env_.aoutVolts() : 0.0f;
  double seconds = env_.seconds ? env_.seconds() : 0.0;
  {
    std::lock_guard<std::mutex> guard(lock_);
    sampler_->change(seconds, volts);
  }
  activity_.change(env_.nowNanos ? env_.nowNanos() : 0);
}

void SpeakerEngine::reset() {
  std::lock_guard<std::mutex> guard(lock_);
  sampler_->restart(env_.seconds ? env_.seconds() : 0.0);
}

void SpeakerEngine::refreshSettings() {
  if (!env_.setting) return;
  gain_.store(gainForVolume(env_.setting("SPEAKER_IN_DLL_VOLUME")));
  tableSetting_.store(env_.setting("SIN_TABLE_SIZE"));
  std::lock_guard<std::mutex> render(renderLock_);
  renderer_->setGain(gain_.load());
}

void SpeakerEngine::playTestTone() {
  std::vector<float> table = sineTable(tableSetting_.load());
  int rate = this->rate();
  std::lock_guard<std::mutex> render(renderLock_);
  renderer_->startTone(std::move(table), size_t(rate * kToneSeconds));
}

bool SpeakerEngine::sounding() const {
  if (!running_.load()) return false;
  return activity_.sounding(env_.nowNanos ? env_.nowNanos() : 0);
}

void SpeakerEngine::pull(float* out, size_t count) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    ring_->pull(out, count);
  }
  std::lock_guard<std::mutex> render(renderLock_);
  renderer_->render(out, count);
}

}  // namespace korvel::speaker
