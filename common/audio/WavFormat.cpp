#include "common/audio/WavFormat.h"

#include <algorithm>
#include <cmath>
#include <string_view>

namespace quillet::audio {

std::array<std::uint8_t, 4> WavFormat::uint32LE(std::uint32_t value) {
  return {std::uint8_t(value & 0xFF), std::uint8_t((value >> 8) & 0xFF), std::uint8_t((value >> 16) & 0xFF),
          std::uint8_t(value >> 24)};
}

std::array<std::uint8_t, 2> WavFormat::uint16LE(std::uint16_t value) {
  return {std::uint8_t(value & 0xFF), std::uint8_t(value >> 8)};
}

std::array<std::uint8_t, WavFormat::kHeaderSize> WavFormat::header(std::uint32_t payloadSize) {
  constexpr std::uint16_t blockAlign = kChannelCount * kBitsPerSample / 8;
  std::array<std::uint8_t, kHeaderSize> bytes{};
  auto next = bytes.begin();
  const auto put = [&next](std::span<const std::uint8_t> part) { next = std::copy(part.begin(), part.end(), next); };
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
  return bytes;
}

std::vector<std::uint8_t> WavFormat::buildWAV(std::span<const std::uint8_t> pcmInt16LE) {
  const auto head = header(std::uint32_t(pcmInt16LE.size()));
  std::vector<std::uint8_t> wav;
  wav.reserve(kHeaderSize + pcmInt16LE.size());
  wav.insert(wav.end(), head.begin(), head.end());
  wav.insert(wav.end(), pcmInt16LE.begin(), pcmInt16LE.end());
  return wav;
}

std::vector<std::uint8_t> WavFormat::buildWAVFromSamples(std::span<const std::int16_t> samples) {
  const auto head = header(std::uint32_t(samples.size() * 2));
  std::vector<std::uint8_t> wav;
  wav.reserve(kHeaderSize + samples.size() * 2);
  wav.insert(wav.end(), head.begin(), head.end());
  appendPCM(samples, wav);
  return wav;
}

void WavFormat::appendPCM(std::span<const std::int16_t> samples, std::vector<std::uint8_t>& pcmInt16LE) {
  const std::size_t start = pcmInt16LE.size();
  pcmInt16LE.resize(start + samples.size() * 2);
  std::uint8_t* out = pcmInt16LE.data() + start;
  for (const std::int16_t sample : samples) {
    const auto value = std::uint16_t(sample);
    *out++ = std::uint8_t(value & 0xFF);
    *out++ = std::uint8_t(value >> 8);
  }
}

namespace {

// One formula for samples however they are stored; `sampleAt` reads the index-th sample.
template <typename SampleAt>
float rootMeanSquare(std::size_t sampleCount, SampleAt sampleAt) {
  if (sampleCount == 0) return 0;
  double sumOfSquares = 0;
  for (std::size_t index = 0; index < sampleCount; ++index) {
    const double normalized = double(sampleAt(index)) / 32767.0;
    sumOfSquares += normalized * normalized;
  }
  return float(std::sqrt(sumOfSquares / double(sampleCount)));
}

}  // namespace

float WavFormat::normalizedRMS(std::span<const std::uint8_t> pcmInt16LE) {
  return rootMeanSquare(pcmInt16LE.size() / 2, [&pcmInt16LE](std::size_t index) {
    return std::int16_t(std::uint16_t(pcmInt16LE[2 * index]) | std::uint16_t(pcmInt16LE[2 * index + 1] << 8));
  });
}

float WavFormat::normalizedRMS(std::span<const std::int16_t> samples) {
  return rootMeanSquare(samples.size(), [&samples](std::size_t index) { return samples[index]; });
}

double WavFormat::durationSeconds(std::size_t byteCount) { return double(byteCount / 2) / double(kSampleRate); }

}  // namespace quillet::audio
