#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace quillet::audio {

// The one WAV format both programs hand over: a canonical 44-byte RIFF/WAVE header,
// then 16-bit little-endian mono PCM at 16 kHz.
struct WavFormat {
  static constexpr std::uint32_t kSampleRate = 16000;
  static constexpr std::uint16_t kChannelCount = 1;
  static constexpr std::uint16_t kBitsPerSample = 16;
  static constexpr std::uint32_t kHeaderSize = 44;

  // The header of a file whose payload holds `payloadSize` bytes.
  static std::array<std::uint8_t, kHeaderSize> header(std::uint32_t payloadSize);

  // The WAV file holding `pcmInt16LE` unchanged after the header.
  static std::vector<std::uint8_t> buildWAV(std::span<const std::uint8_t> pcmInt16LE);

  // The WAV file holding `samples`, written little-endian after the header.
  static std::vector<std::uint8_t> buildWAVFromSamples(std::span<const std::int16_t> samples);

  // `samples` written little-endian at the end of `pcmInt16LE`.
  static void appendPCM(std::span<const std::int16_t> samples, std::vector<std::uint8_t>& pcmInt16LE);

  // Square root of the mean of (sample / 32767)², 0 for fewer than two bytes (no samples).
  static float normalizedRMS(std::span<const std::uint8_t> pcmInt16LE);
  static float normalizedRMS(std::span<const std::int16_t> samples);

  // Whole samples in `byteCount` bytes of payload, in seconds.
  static double durationSeconds(std::size_t byteCount);

  // One integer as little-endian bytes.
  static std::array<std::uint8_t, 4> uint32LE(std::uint32_t value);
  static std::array<std::uint8_t, 2> uint16LE(std::uint16_t value);
};

}  // namespace quillet::audio
