// The chunk walk over a WAVE resource, through the real module: its WAVE resource is replaced by
// a crafted image that ends right where an unmapped guest page begins, so reading one byte past
// the resource is a guest fault, not a quiet wrong answer.
#include "sound_support.h"

namespace {

using namespace sound_test;

struct WalkCase {
  const char* name;
  std::vector<uint8_t> image;
  // What plays: the format record (first 16 bytes) and the samples; nothing when the click fails.
  std::optional<WaveParts> plays;
  // For a failing click: whether the walk succeeded and DirectSound refused (true), or the walk
  // failed and DirectSound never saw a buffer description (false).
  bool reachesDirectSound = false;
};

std::vector<uint8_t> Cut(std::vector<uint8_t> v, size_t size) {
  v.resize(size);
  return v;
}

std::vector<uint8_t> Head(const std::vector<uint8_t>& v, size_t n) { return {v.begin(), v.begin() + static_cast<std::ptrdiff_t>(n)}; }

TEST(SoundChunkWalk, ResourcesPlayOrFailAsTheirChunksSay) {
  const std::vector<uint8_t> fmt = PcmFormat(1, 11025, 8);
  const std::vector<uint8_t> other = PcmFormat(2, 22050, 16);
  const std::vector<uint8_t> samples = Samples(40), odd = Samples(41, 0x90);
  const std::vector<uint8_t> fact = {40, 0, 0, 0};
  const WaveParts plain = {fmt, samples};
  const std::vector<uint8_t> canonical = Riff({{"fmt ", fmt}, {"fact", fact}, {"data", samples}});

  const WalkCase cases[] = {
      {"fmt, fact, data", canonical, plain},
      {"data before fmt", Riff({{"data", samples}, {"fmt ", fmt}}), plain},
      {"a fact chunk between data and fmt", Riff({{"data", samples}, {"fact", fact}, {"fmt ", fmt}}), plain},
      {"odd chunks are skipped with their pad byte",
       Riff({{"junk", {1, 2, 3}}, {"LIST", {'I', 'N', 'F', 'O', 0}}, {"fmt ", fmt}, {"data", samples}}), plain},
      {"an odd data chunk before fmt", Riff({{"data", odd}, {"fmt ", fmt}}), WaveParts{fmt, odd}},
      {"an 18-byte fmt", Riff({{"fmt ", PcmFormat(1, 11025, 8, 18)}, {"data", samples}}), plain},
      {"the first fmt counts", Riff({{"fmt ", fmt}, {"fmt ", other}, {"data", samples}}), plain},
      {"the first data counts", Riff({{"data", samples}, {"data", odd}, {"fmt ", fmt}}), plain},
      {"a 13-byte fmt fails even when a valid one follows",
       Riff({{"fmt ", Head(fmt, 13)}, {"fmt ", fmt}, {"data", samples}}), std::nullopt, false},
      {"a 14-byte fmt passes the walk; DirectSound reads 16 bytes and refuses",
       Riff({{"fmt ", Head(fmt, 14)}, {"data", samples}}), std::nullopt, true},
      {"an empty data chunk before fmt is replaced by a later one",
       Riff({{"data", {}}, {"fmt ", fmt}, {"data", samples}}), plain},
      {"an empty data chunk before fmt, and no other: the walk fails",
       Riff({{"data", {}}, {"fmt ", fmt}}), std::nullopt, false},
      {"an empty data chunk after fmt ends the walk with length 0",
       Riff({{"fmt ", fmt}, {"data", {}}, {"data", samples}}), std::nullopt, true},
      {"no data chunk", Riff({{"fmt ", fmt}, {"fact", fact}}), std::nullopt, false},
      {"no fmt chunk", Riff({{"data", samples}, {"fact", fact}}), std::nullopt, false},
      {"RIFF length 4: no room for a chunk", Riff({{"fmt ", fmt}, {"data", samples}}, 4), std::nullopt, false},
      {"RIFF length 0", Riff({{"fmt ", fmt}, {"data", samples}}, 0), std::nullopt, false},
      {"a chunk after the RIFF length is not part of the image",
       Riff({{"fmt ", fmt}, {"data", samples}}, 4 + 8 + 16), std::nullopt, false},
      {"bytes after the RIFF image are ignored", [&] {
         std::vector<uint8_t> v = canonical;
         v.insert(v.end(), {'d', 'a', 't', 'a', 0xFF, 0xFF, 0, 0});
         return v;
       }(), plain},
      {"not RIFF", [&] { auto v = canonical; v[3] = 'X'; return v; }(), std::nullopt, false},
      {"not WAVE", [&] { auto v = canonical; v[11] = 'X'; return v; }(), std::nullopt, false},
      {"shorter than a RIFF header", Head(canonical, 11), std::nullopt, false},
      {"empty", {}, std::nullopt, false},
      // Damaged resources: lengths that point past the resource.
      {"the resource ends inside the data body (RIFF length larger than the resource)",
       Cut(canonical, canonical.size() - 10), std::nullopt, false},
      {"the resource ends inside a chunk header", Cut(canonical, 12 + 8 + 16 + 5), std::nullopt, false},
      {"a data length running past the end",
       Riff({{"fmt ", fmt}, {"data", samples, 1000}}), std::nullopt, false},
      {"a fmt length running past the end of the address space",
       Riff({{"fmt ", fmt, 0xFFFFFFF0}, {"data", samples}}), std::nullopt, false},
      {"a skipped chunk whose length would wrap the walk back onto itself",
       Riff({{"junk", {}, 0xFFFFFFF8}, {"fmt ", fmt}, {"data", samples}}), std::nullopt, false},
      {"a RIFF length past the end of the address space, the chunks inside the resource",
       Riff({{"fmt ", fmt}, {"data", samples}}, 0xFFFFFFFF), plain},
  };
  for (const WalkCase& c : cases) {
    SCOPED_TRACE(c.name);
    Player p;
    p.Platform().replaceWave(kClick, c.image);
    int32_t result = 0;
    try {
      result = p.Play();
    } catch (const guest::Fault& f) {
      ADD_FAILURE() << "the player faulted (a read outside the resource?): " << f.what();
      continue;
    }
    if (c.plays) {
      EXPECT_EQ(result, 0);
      const std::vector<host::Event> sounds = p.Sounds();
      ASSERT_EQ(sounds.size(), 1u);
      EXPECT_EQ(sounds[0].format, c.plays->format);
      EXPECT_EQ(sounds[0].samples, c.plays->data);
    } else {
      EXPECT_EQ(result, -5);
      EXPECT_EQ(p.Status(), -5);
      EXPECT_TRUE(p.Sounds().empty());
      EXPECT_EQ(p.Calls("IDirectSound::CreateSoundBuffer"), c.reachesDirectSound ? 1u : 0u);
      EXPECT_EQ(p.Word("soundCacheCount"), 0u);
    }
  }
}

}  // namespace
