#pragma once

#include <functional>
#include <vector>

#include "platform/KeySynth.h"

namespace quillet::platform::fake {

// Records the chords posted; `onPost` lets a test look at the world at the moment of the keystroke,
// such as what a paste would take from the clipboard.
class FakeKeySynth final : public KeySynth {
 public:
  void post(const KeyChord& chord) override {
    posted.push_back(chord);
    if (onPost) onPost(chord);
  }

  std::vector<KeyChord> posted;
  std::function<void(const KeyChord&)> onPost;
};

}  // namespace quillet::platform::fake
