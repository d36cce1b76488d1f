#include "app/AlertSound.h"

#include "generated/SirenSamples.h"

namespace dv {

namespace {

void AppendLittleEndian(std::vector<uint8_t>& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void AppendTag(std::vector<uint8_t>& out, const char (&tag)[5]) {
  // Byte by byte: GCC 12 misreads a range insert from a string literal as an overflow.
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(tag[i]));
}

}  // namespace

std::span<const uint8_t> SirenSamples() { return std::span<const uint8_t>(generated::kSirenData); }

std::vector<uint8_t> SirenWaveFile() {
  const auto samples = SirenSamples();
  const auto dataSize = static_cast<uint32_t>(samples.size());
  const uint32_t blockAlign = kSirenChannels * kSirenBitsPerSample / 8;
  std::vector<uint8_t> wave;
  wave.reserve(44 + samples.size() + 1);
  AppendTag(wave, "RIFF");
  AppendLittleEndian(wave, 36 + dataSize + (dataSize & 1), 4);
  AppendTag(wave, "WAVE");
  AppendTag(wave, "fmt ");
  AppendLittleEndian(wave, 16, 4);
  AppendLittleEndian(wave, 1, 2);  // PCM
  AppendLittleEndian(wave, kSirenChannels, 2);
  AppendLittleEndian(wave, kSirenSampleRate, 4);
  AppendLittleEndian(wave, kSirenSampleRate * blockAlign, 4);
  AppendLittleEndian(wave, blockAlign, 2);
  AppendLittleEndian(wave, kSirenBitsPerSample, 2);
  AppendTag(wave, "data");
  AppendLittleEndian(wave, dataSize, 4);
  wave.insert(wave.end(), samples.begin(), samples.end());
  if (dataSize & 1) wave.push_back(0);  // chunks are padded to even length
  return wave;
}

}  // namespace dv
