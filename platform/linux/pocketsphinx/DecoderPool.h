#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/result/Expected.h"

// PocketSphinx's decoder type, without its headers.
struct ps_decoder_s;

namespace quillet::platform::pocketsphinx {

// The files of one installed model.
struct ModelFiles {
  std::filesystem::path acousticModel;
  std::filesystem::path languageModel;
  std::filesystem::path dictionary;
};

struct DecoderDeleter {
  void operator()(ps_decoder_s* decoder) const;
};
using Decoder = std::unique_ptr<ps_decoder_s, DecoderDeleter>;

// The decoders of one model: idle ones wait here between calls. Loading a model takes a good fraction of
// a second, so decoders are made on first need, up to a limit, and reused; a call beyond the limit waits.
class DecoderPool {
 public:
  // A decoder lent to one user. It goes back to the pool when kept, otherwise (a failure, an exception
  // from a result handler) it is freed, since its utterance may be left half done.
  class Lease {
   public:
    Lease(DecoderPool& pool, Decoder decoder) : pool_(&pool), decoder_(std::move(decoder)) {}
    Lease(Lease&& other) noexcept;
    Lease& operator=(Lease&&) = delete;
    ~Lease();

    [[nodiscard]] ps_decoder_s* decoder() const { return decoder_.get(); }
    void keep() { kept_ = true; }

   private:
    DecoderPool* pool_;
    Decoder decoder_;
    bool kept_ = false;
  };

  DecoderPool(ModelFiles files, std::size_t limit);

  // An idle decoder, else a new one while under the limit, else the next one given back within `patience`;
  // or why none came (none loads, or every one stayed in use).
  Expected<Lease> take(std::chrono::steady_clock::duration patience = std::chrono::steady_clock::duration::max());

 private:
  void giveBack(Decoder decoder);
  // Frees the place of a decoder that is gone, for a new one.
  void discard();

  const ModelFiles files_;
  const std::size_t limit_;
  std::mutex mutex_;
  std::condition_variable returned_;
  std::vector<Decoder> idle_;
  std::size_t count_ = 0;  // decoders in existence or being loaded
};

}  // namespace quillet::platform::pocketsphinx
