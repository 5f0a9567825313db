#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace quillet::audio {

// Replaces `mono` with the average of `channels` frame by frame; each channel holds `frameCount` samples.
// No channels give silence.
void mixDownToMono(std::span<const float* const> channels, std::size_t frameCount, std::vector<float>& mono);

}  // namespace quillet::audio
