// wavegen, the build's click synthesizer: the same click every time, in the layout asked for.
#include "sound_support.h"
#include "wave.h"

namespace {

using namespace sound_test;

TEST(Wavegen, TheSameSpecGivesTheSameBytesInTheLayoutAskedFor) {
  wavegen::ClickSpec spec;
  spec.channels = 1;
  spec.sampleRate = 8000;
  spec.bitsPerSample = 8;
  spec.frames = 41;  // odd: the data chunk gets its pad byte
  spec.formatBytes = 18;
  spec.factChunk = false;
  const std::vector<uint8_t> a = wavegen::MakeClickWave(spec);
  EXPECT_EQ(a, wavegen::MakeClickWave(spec));
  const std::vector<uint8_t> data(a.begin() + 12 + 26 + 8, a.begin() + 12 + 26 + 8 + 41);
  EXPECT_EQ(a, Riff({{"fmt ", PcmFormat(1, 8000, 8, 18)}, {"data", data}}));
  EXPECT_EQ(data.back(), 128) << "the click fades to silence";

  spec.seed += 1;
  EXPECT_NE(wavegen::MakeClickWave(spec), a) << "the noise follows the seed";
}

TEST(Wavegen, RefusesWhatItCannotWrite) {
  const auto bad = [](auto change) {
    wavegen::ClickSpec spec;
    spec.frames = 100;
    change(spec);
    return spec;
  };
  for (const wavegen::ClickSpec& spec : {bad([](auto& s) { s.channels = 3; }), bad([](auto& s) { s.bitsPerSample = 12; }),
                                         bad([](auto& s) { s.formatBytes = 14; }), bad([](auto& s) { s.frames = 0; }),
                                         bad([](auto& s) { s.toneHz = 20000; })})
    EXPECT_THROW(wavegen::MakeClickWave(spec), wavegen::WaveError);
}

}  // namespace
