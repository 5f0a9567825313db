#pragma once

#include "common/audio/WavFormat.h"

namespace quillet::dictate {

// Dictation chunks use the WAV format shared with the capture helper.
using audio::WavFormat;

}  // namespace quillet::dictate
