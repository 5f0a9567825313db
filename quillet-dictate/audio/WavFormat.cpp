#include "quillet-dictate/audio/WavFormat.h"

#include <cmath>
#include <cstring>
#include <string_view>

namespace quillet::dictate {

std::array<std::uint8_t, 4> WavFormat::uint32LE(std::uint32_t value) {
  return {std::uint8_t(value & 0xFF), std::uint8_t((value >> 8) & 0xFF), std::uint8_t((value >> 16) & 0xFF),
          std::uint8_t(value >> 24)};
}

std::array<std::uint8_t, 2> WavFormat::uint16LE(std::uint16_t value) {
  return {std::uint8_t(value & 0xFF), std::uint8_t(value >> 8)};
}

std::vector<std::uint8_t> WavFormat::buildWAV(std::span<const std::uint8_t> pcmInt16LE) {
  const auto payloadSize = std::uint32_t(pcmInt16LE.size());
  constexpr std::uint16_t blockAlign = kChannelCount * kBitsPerSample / 8;
  std::vector<std::uint8_t> wav(kHeaderSize + pcmInt16LE.size());
  std::size_t offset = 0;
  const auto put = [&wav, &offset](std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return;
    std::memcpy(wav.data() + offset, bytes.data(), bytes.size());
    offset += bytes.size();
  };
  const auto putText = [&put](std::string_view text) {
    put(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  };
  putText("RIFF");
  put(uint32LE(36 + payloadSize));
  putText("WAVE");
  putText("fmt ");
  put(uint32LE(16));
  put(uint16LE(1));
  put(uint16LE(kChannelCount));
  put(uint32LE(kSampleRate));
  put(uint32LE(kSampleRate * blockAlign));
  put(uint16LE(blockAlign));
  put(uint16LE(kBitsPerSample));
  putText("data");
  put(uint32LE(payloadSize));
  put(pcmInt16LE);
  return wav;
}

float WavFormat::normalizedRMS(std::span<const std::uint8_t> pcmInt16LE) {
  const std::size_t sampleCount = pcmInt16LE.size() / 2;
  if (sampleCount == 0) return 0;
  double sumOfSquares = 0;
  for (std::size_t index = 0; index < sampleCount; ++index) {
    const auto sample = std::int16_t(std::uint16_t(pcmInt16LE[2 * index]) | std::uint16_t(pcmInt16LE[2 * index + 1] << 8));
    const double normalized = double(sample) / 32767.0;
    sumOfSquares += normalized * normalized;
  }
  return float(std::sqrt(sumOfSquares / double(sampleCount)));
}

double WavFormat::durationSeconds(std::size_t byteCount) { return double(byteCount / 2) / double(kSampleRate); }

}  // namespace quillet::dictate
