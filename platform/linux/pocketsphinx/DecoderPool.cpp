#include "platform/linux/pocketsphinx/DecoderPool.h"

#include <pocketsphinx.h>

#include <algorithm>
#include <utility>

namespace quillet::platform::pocketsphinx {

namespace {

// Loading touches PocketSphinx's process-wide state (its log, its argument tables), so one load at a time.
std::mutex& loadMutex() {
  static std::mutex mutex;
  return mutex;
}

struct ConfigDeleter {
  void operator()(cmd_ln_t* config) const { cmd_ln_free_r(config); }
};

Expected<Decoder> loadDecoder(const ModelFiles& files) {
  std::lock_guard lock(loadMutex());
  const std::unique_ptr<cmd_ln_t, ConfigDeleter> config(
      cmd_ln_init(nullptr, ps_args(), 1, "-hmm", files.acousticModel.c_str(), "-lm", files.languageModel.c_str(),
                  "-dict", files.dictionary.c_str(), "-samprate", "16000", nullptr));
  if (!config) return Error("PocketSphinx refused its configuration");
  // The decoder keeps its own reference to the configuration.
  Decoder decoder(ps_init(config.get()));
  if (!decoder) return Error("PocketSphinx could not load the model in " + files.acousticModel.parent_path().string());
  return decoder;
}

}  // namespace

void DecoderDeleter::operator()(ps_decoder_s* decoder) const { ps_free(decoder); }

DecoderPool::Lease::Lease(Lease&& other) noexcept
    : pool_(other.pool_), decoder_(std::move(other.decoder_)), kept_(std::exchange(other.kept_, false)) {}

DecoderPool::Lease::~Lease() {
  if (!decoder_) return;
  if (kept_) {
    pool_->giveBack(std::move(decoder_));
  } else {
    decoder_.reset();
    pool_->discard();
  }
}

DecoderPool::DecoderPool(ModelFiles files, std::size_t limit)
    : files_(std::move(files)), limit_(std::max<std::size_t>(limit, 1)) {}

Expected<DecoderPool::Lease> DecoderPool::take(std::chrono::steady_clock::duration patience) {
  {
    std::unique_lock lock(mutex_);
    const auto available = [&] { return !idle_.empty() || count_ < limit_; };
    if (patience == std::chrono::steady_clock::duration::max()) {
      returned_.wait(lock, available);
    } else if (!returned_.wait_for(lock, patience, available)) {
      return Error("all " + std::to_string(limit_) + " speech decoders stayed in use for " +
                   std::to_string(std::chrono::duration_cast<std::chrono::seconds>(patience).count()) + " s");
    }
    if (!idle_.empty()) {
      Decoder decoder = std::move(idle_.back());
      idle_.pop_back();
      return Lease(*this, std::move(decoder));
    }
    ++count_;
  }
  auto loaded = loadDecoder(files_);
  if (loaded.failed()) {
    discard();
    return loaded.error();
  }
  return Lease(*this, std::move(loaded).value());
}

void DecoderPool::giveBack(Decoder decoder) {
  {
    std::lock_guard lock(mutex_);
    idle_.push_back(std::move(decoder));
  }
  returned_.notify_one();
}

void DecoderPool::discard() {
  {
    std::lock_guard lock(mutex_);
    --count_;
  }
  returned_.notify_one();
}

}  // namespace quillet::platform::pocketsphinx
