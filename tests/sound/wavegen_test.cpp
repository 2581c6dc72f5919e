// wavegen, the build's click synthesizer: the same click every time, in the layout asked for.
#include "sound_support.h"
#include "wave.h"

namespace {

using namespace sound_test;

TEST(Wavegen, TheSameParametersGiveTheSameBytesInTheLayoutAskedFor) {
  wavegen::ClickParams params;
  params.channels = 1;
  params.sampleRate = 8000;
  params.bitsPerSample = 8;
  params.frames = 41;  // odd: the data chunk gets its pad byte
  params.formatBytes = 18;
  params.factChunk = false;
  const std::vector<uint8_t> a = wavegen::MakeClickWave(params);
  EXPECT_EQ(a, wavegen::MakeClickWave(params));
  const std::vector<uint8_t> data(a.begin() + 12 + 26 + 8, a.begin() + 12 + 26 + 8 + 41);
  EXPECT_EQ(a, Riff({{"fmt ", PcmFormat(1, 8000, 8, 18)}, {"data", data}}));
  EXPECT_EQ(data.back(), 128) << "the click fades to silence";

  params.seed += 1;
  EXPECT_NE(wavegen::MakeClickWave(params), a) << "the noise follows the seed";
}

TEST(Wavegen, RefusesWhatItCannotWrite) {
  const auto bad = [](auto change) {
    wavegen::ClickParams params;
    params.frames = 100;
    change(params);
    return params;
  };
  for (const wavegen::ClickParams& params : {bad([](auto& s) { s.channels = 3; }), bad([](auto& s) { s.bitsPerSample = 12; }),
                                         bad([](auto& s) { s.formatBytes = 14; }), bad([](auto& s) { s.frames = 0; }),
                                         bad([](auto& s) { s.toneHz = 20000; })})
    EXPECT_THROW(wavegen::MakeClickWave(params), wavegen::WaveError);
}

}  // namespace
