// The bench's side of sound: the emulated DirectSound buffer as any module could use it, the
// guard after replaced resources, a click in the event log beside its KeyEvents, and sound
// events written as .wav files.
#include <filesystem>
#include <fstream>

#include "layout.h"
#include "sound_support.h"
#include "wav.h"

namespace {

using namespace sound_test;

// The address in slot `slot` of a guest COM object's method table.
uint32_t Method(host::Module& m, uint32_t object, unsigned slot) { return m.machine().read32(m.machine().read32(object) + 4 * slot); }

enum BufferSlot : unsigned { kGetVolume = 6, kLock = 11, kPlay = 12, kSetCurrentPosition = 13, kUnlock = 19 };

TEST(BenchDirectSound, LockWrapsAroundTheBufferEndAndUnlockCopiesBackWhatWasWritten) {
  Player p;
  ASSERT_EQ(p.Play(), 0);
  host::Module& m = *p.m;
  guest::Machine& g = m.machine();
  const uint32_t buffer = p.Word("SoundCache", 0);
  const std::vector<uint8_t> before = p.Sounds().back().samples;
  const uint32_t size = static_cast<uint32_t>(before.size());
  auto call = [&](unsigned slot, std::vector<uint32_t> args) {
    args.insert(args.begin(), buffer);
    return g.call(Method(m, buffer, slot), args, "method").eax;
  };

  // Lock the last 8 bytes and the first 4: two regions.
  const uint32_t out = g.alloc(16);
  ASSERT_EQ(call(kLock, {size - 8, 12, out, out + 4, out + 8, out + 12, 0}), 0u);
  const uint32_t region1 = g.read32(out), region2 = g.read32(out + 8);
  EXPECT_EQ(g.read32(out + 4), 8u);
  EXPECT_EQ(g.read32(out + 12), 4u);
  EXPECT_EQ(g.readBytes(region1, 8), std::vector<uint8_t>(before.end() - 8, before.end())) << "a lock shows the contents";
  EXPECT_EQ(g.readBytes(region2, 4), std::vector<uint8_t>(before.begin(), before.begin() + 4));
  EXPECT_EQ(call(kUnlock, {region1 + 1, 8, region2, 4}), win32::dserr::kInvalidParam) << "not the locked region";
  EXPECT_EQ(call(kUnlock, {region1, 9, region2, 4}), win32::dserr::kInvalidParam) << "longer than locked";
  const std::vector<uint8_t> ones(8, 0x11), twos(4, 0x22);
  g.write(region1, ones.data(), ones.size());
  g.write(region2, twos.data(), twos.size());
  ASSERT_EQ(call(kUnlock, {region1, 8, region2, 2}), 0u) << "only the first 2 bytes of region 2 were written";

  // Play from position 0: the writes landed where they were locked.
  ASSERT_EQ(call(kSetCurrentPosition, {0}), 0u);
  ASSERT_EQ(call(kPlay, {0, 0, 0}), 0u);
  std::vector<uint8_t> want = before;
  std::fill(want.end() - 8, want.end(), 0x11);
  std::fill(want.begin(), want.begin() + 2, 0x22);
  EXPECT_EQ(p.Sounds().back().samples, want);
  // Play from the middle: the sound from there on.
  ASSERT_EQ(call(kSetCurrentPosition, {size / 2}), 0u);
  ASSERT_EQ(call(kPlay, {0, 0, 0}), 0u);
  EXPECT_EQ(p.Sounds().back().samples, std::vector<uint8_t>(want.begin() + size / 2, want.end()));
  EXPECT_EQ(call(kSetCurrentPosition, {size}), win32::dserr::kInvalidParam);

  // A method the bench does not emulate is a fault that names it.
  try {
    call(kGetVolume, {out});
    ADD_FAILURE() << "no fault";
  } catch (const guest::Fault& f) {
    EXPECT_EQ(f.kind, guest::FaultKind::HostCall);
    EXPECT_NE(f.detail.find("IDirectSoundBuffer::GetVolume"), std::string::npos) << f.detail;
  }
  EXPECT_EQ(m.apiCalls()["IDirectSoundBuffer::Lock"], 2u);
  EXPECT_EQ(m.apiCalls()["IDirectSoundBuffer::Play"], 3u);
  EXPECT_EQ(m.apiCalls()["dsound.dll!DirectSoundCreate"], 1u);
}

TEST(BenchDirectSound, ReplacedResourcesEndAtAnUnmappedPage) {
  Player p;
  const std::vector<uint8_t> image = Riff({{"fmt ", PcmFormat(1, 8000, 8)}, {"data", Samples(33)}});
  p.Platform().replaceWave(kClick, image);
  ASSERT_EQ(p.Play(), 0);
  const auto lock = std::find_if(p.Log().begin(), p.Log().end(), [](const win32::ApiCall& c) { return c.name == "LockResource"; });
  const uint32_t end = lock->result + static_cast<uint32_t>(image.size());
  EXPECT_EQ(p.m->machine().readBytes(lock->result, image.size()), image);
  EXPECT_EQ(end % 0x1000, 0u);
  EXPECT_FALSE(p.m->machine().readable(end, 1));
  EXPECT_EQ(p.Sounds().back().id, kClick) << "a buffer made from a replaced resource carries its id";

  // Put back, the module's own resource plays again (in a new player: the first is cached).
  Player q;
  q.Platform().replaceWave(kClick, image);
  q.Platform().restoreResource(pe::ResName::fromName("WAVE"), kClick);
  ASSERT_EQ(q.Play(), 0);
  EXPECT_EQ(q.Sounds().back().samples, ParseWave(WaveResource(*q.m, kClick))->data);
}

TEST(BenchDirectSound, AClickLogsItsSoundBeforeItsKeyEvents) {
  auto m = testing_support::LoadGauge("panel_switch_a");
  testing_support::Start(*m);
  const host::MouseAreaView* area = nullptr;
  for (const host::MouseAreaView& a : m->mouseAreas())
    if (a.kind == layout::mouse_area::kChild) area = &a;
  ASSERT_NE(area, nullptr);
  ASSERT_TRUE(m->press(area->x + area->width / 2, area->y + area->height / 2));
  const std::vector<host::Event>& events = m->simulator().events();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].kind, host::Event::Kind::Sound);
  EXPECT_EQ(events[0].id, 3001u);
  EXPECT_EQ(events[1].kind, host::Event::Kind::Key);
  EXPECT_EQ(events[2].kind, host::Event::Kind::Key);
  EXPECT_EQ(host::FormatEvent(events[0]), "panel_switch_a: sound 3001 (628 bytes of samples)");
}

TEST(BenchWav, ASoundEventWritesAsAWaveFileOfItsFormatAndSamples) {
  for (const ClickingGauge& g : {kClickingGauges[0], kClickingGauges[1]}) {
    SCOPED_TRACE(g.deliverable);
    Player p(g.deliverable);
    ASSERT_EQ(p.Play(g.resourceId), 0);
    const host::Event sound = p.Sounds().back();
    const auto path = std::filesystem::temp_directory_path() / (std::string("bench_wav_") + g.deliverable + ".wav");
    host::WriteWav(sound, path.string());
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), {});
    std::filesystem::remove(path);
    EXPECT_EQ(file, host::WavImage(sound));
    EXPECT_EQ(file, Riff({{"fmt ", sound.format}, {"data", sound.samples}}));
    const auto parts = ParseWave(file);
    ASSERT_TRUE(parts);
    EXPECT_EQ(parts->data, ParseWave(WaveResource(*p.m, g.resourceId))->data);
  }
  host::Event key;
  EXPECT_THROW(host::WavImage(key), std::invalid_argument);
  host::Event sound;
  sound.kind = host::Event::Kind::Sound;
  EXPECT_THROW(host::WriteWav(sound, "/nonexistent/x.wav"), std::invalid_argument) << "no format record";
  sound.format = PcmFormat(1, 8000, 8);
  EXPECT_THROW(host::WriteWav(sound, "/nonexistent/x.wav"), std::runtime_error);
}

}  // namespace
