// The click sound player as a real gauge module carries it: results and SoundStatus for every
// way DirectSound can answer, lazy device creation, the cache, buffer loss, and the cost of a
// warm click.
#include <functional>
#include <map>

#include "sound_support.h"

namespace {

using namespace sound_test;
using win32::ApiCall;

struct Click {
  int32_t result;
  int32_t status;
  bool sounds;
};

struct ResultCase {
  const char* name;
  std::function<void(win32::State&)> platform;  // how the platform fails
  std::vector<Click> clicks;
  std::map<std::string, uint64_t> calls;  // calls of these APIs after all the clicks
};

int32_t S(uint32_t hresult) { return static_cast<int32_t>(hresult); }

TEST(SoundPlayer, ResultAndStatusForEveryOutcome) {
  const ResultCase cases[] = {
      {"the sound starts", [](win32::State&) {},
       {{0, 0, true}, {0, 0, true}},
       {{"DirectSoundCreate", 1}, {"IDirectSound::CreateSoundBuffer", 1}, {"IDirectSoundBuffer::Play", 2}}},
      {"DirectSoundCreate fails: its result once, then -4 without a retry",
       [](win32::State& s) { s.failCall("DirectSoundCreate", kNoDriver); },
       {{S(kNoDriver), S(kNoDriver), false}, {-4, -4, false}, {-4, -4, false}},
       {{"DirectSoundCreate", 1}, {"IDirectSound::SetCooperativeLevel", 0}, {"FindResourceA", 0}}},
      {"SetCooperativeLevel fails: its result with status -1, then the same device plays",
       [](win32::State& s) { s.failCall("IDirectSound::SetCooperativeLevel", kAllocated); },
       {{S(kAllocated), -1, false}, {0, 0, true}, {0, 0, true}},
       {{"DirectSoundCreate", 1}, {"IDirectSound::SetCooperativeLevel", 1}, {"IDirectSound::CreateSoundBuffer", 1}}},
      {"no foreground window: DirectSound refuses the level, later clicks play",
       [](win32::State& s) { s.foregroundWindow = 0; },
       {{S(win32::dserr::kInvalidParam), -1, false}, {0, 0, true}},
       {{"IDirectSound::SetCooperativeLevel", 1}}},
      {"Play fails: -3 with Play's result, the buffer stays cached",
       [](win32::State& s) { s.failCall("IDirectSoundBuffer::Play", kInvalidCall); },
       {{S(kInvalidCall), -3, false}, {S(kInvalidCall), -3, false}},
       {{"IDirectSound::CreateSoundBuffer", 1}, {"FindResourceA", 1}, {"IDirectSoundBuffer::Play", 2}}},
      {"buffer creation fails: -5, and the next click tries the whole creation again",
       [](win32::State& s) { s.failCall("IDirectSound::CreateSoundBuffer", kOutOfMemory, 1); },
       {{-5, -5, false}, {0, 0, true}, {0, 0, true}},
       {{"FindResourceA", 2}, {"IDirectSound::CreateSoundBuffer", 2}, {"DirectSoundCreate", 1}}},
      {"the new buffer cannot be locked: released at once, -5",
       [](win32::State& s) { s.failCall("IDirectSoundBuffer::Lock", kGeneric, 1); },
       {{-5, -5, false}, {0, 0, true}},
       {{"IDirectSoundBuffer::Release", 1}, {"IDirectSound::CreateSoundBuffer", 2}}},
      {"a format DirectSound refuses: -5 on every click",
       [](win32::State& s) { s.failCall("IDirectSound::CreateSoundBuffer", win32::dserr::kBadFormat); },
       {{-5, -5, false}, {-5, -5, false}},
       {{"IDirectSound::CreateSoundBuffer", 2}, {"IDirectSoundBuffer::Release", 0}}},
      {"the WAVE resource is missing: -5, and every click looks again",
       [](win32::State& s) { s.removeWave(kClick); },
       {{-5, -5, false}, {-5, -5, false}, {-5, -5, false}},
       {{"FindResourceA", 3}, {"IDirectSound::CreateSoundBuffer", 0}}},
      {"the resource cannot be locked: -5",
       [](win32::State& s) { s.failCall("LockResource", 0); },
       {{-5, -5, false}},
       {{"IDirectSound::CreateSoundBuffer", 0}}},
      {"buffer lost and Restore fails: Restore's result",
       [](win32::State& s) {
         s.failCall("IDirectSoundBuffer::Play", kBufferLost, 1);
         s.failCall("IDirectSoundBuffer::Restore", kBufferLost, 1);
       },
       {{S(kBufferLost), S(kBufferLost), false}},
       {{"IDirectSoundBuffer::Play", 1}, {"FindResourceA", 1}}},
      {"buffer lost, restored, the resource gone at the refill: 0, silent",
       [](win32::State& s) {
         s.failCall("IDirectSoundBuffer::Play", kBufferLost, 1);
         s.failCall("FindResourceA", 0, 2);
       },
       {{0, 0, false}},
       {{"IDirectSoundBuffer::Play", 1}, {"IDirectSoundBuffer::Restore", 1}}},
      {"buffer lost, restored, the refill's own Restore fails: 0, silent",
       [](win32::State& s) {
         s.failCall("IDirectSoundBuffer::Play", kBufferLost, 1);
         s.failCall("IDirectSoundBuffer::Restore", kGeneric, 2);
       },
       {{0, 0, false}},
       {{"IDirectSoundBuffer::Play", 1}, {"IDirectSoundBuffer::Lock", 1}}},
      {"buffer lost, restored, the refill cannot lock: 0, silent",
       [](win32::State& s) {
         s.failCall("IDirectSoundBuffer::Play", kBufferLost, 1);
         s.failCall("IDirectSoundBuffer::Lock", kBufferLost, 2);
       },
       {{0, 0, false}},
       {{"IDirectSoundBuffer::Play", 1}, {"IDirectSoundBuffer::Unlock", 1}}},
      {"buffer lost, restored, refilled, played again: the second Play's result",
       [](win32::State& s) { s.failCall("IDirectSoundBuffer::Play", kBufferLost, 1); },
       {{0, 0, true}, {0, 0, true}},
       {{"IDirectSoundBuffer::Play", 3}, {"IDirectSoundBuffer::Restore", 2}, {"FindResourceA", 2}}},
      {"lost again on the second Play: that result, no third attempt",
       [](win32::State& s) { s.failCall("IDirectSoundBuffer::Play", kBufferLost); },
       {{S(kBufferLost), S(kBufferLost), false}},
       {{"IDirectSoundBuffer::Play", 2}}},
      {"the second Play fails otherwise: its result, not -3",
       [](win32::State& s) {
         s.failCall("IDirectSoundBuffer::Play", kBufferLost, 1);
         s.failCall("IDirectSoundBuffer::Play", kInvalidCall, 2);
       },
       {{S(kInvalidCall), S(kInvalidCall), false}},
       {{"IDirectSoundBuffer::Play", 2}}},
  };
  for (const ResultCase& c : cases) {
    SCOPED_TRACE(c.name);
    Player p;
    c.platform(p.Platform());
    for (size_t i = 0; i < c.clicks.size(); ++i) {
      SCOPED_TRACE("click " + std::to_string(i + 1));
      const size_t soundsBefore = p.Sounds().size();
      EXPECT_EQ(p.Play(), c.clicks[i].result);
      EXPECT_EQ(p.Status(), c.clicks[i].status);
      EXPECT_EQ(p.Sounds().size() - soundsBefore, c.clicks[i].sounds ? 1u : 0u);
    }
    for (const auto& [api, count] : c.calls) EXPECT_EQ(p.Calls(api), count) << api;
    // One device for the module's life: every device call goes to the one DirectSoundCreate made.
    for (const ApiCall& call : p.Log()) {
      if (call.name.rfind("IDirectSound::", 0) == 0) {
        EXPECT_EQ(call.args[0], p.Word("soundDevice")) << call.name;
      }
    }
  }
}

TEST(SoundPlayer, FirstClickCreatesTheDeviceAgainstTheForegroundWindowOfThatMoment) {
  Player p;
  EXPECT_EQ(p.Word("soundDeviceFirstUse"), 1u);
  EXPECT_EQ(p.Word("soundDevice"), 0u);
  p.Platform().foregroundWindow = 0x00051234;
  ASSERT_EQ(p.Play(), 0);

  const std::vector<ApiCall> first = p.Log();
  ASSERT_GE(first.size(), 2u);
  EXPECT_EQ(first[0].name, "DirectSoundCreate");
  EXPECT_EQ(first[0].args, (std::vector<uint32_t>{0, *p.m->symbolAddress("soundDevice"), 0}))
      << "the default device, into soundDevice, not aggregated";
  const uint32_t device = p.Word("soundDevice");
  EXPECT_NE(device, 0u);
  EXPECT_EQ(first[1].name, "IDirectSound::SetCooperativeLevel");
  EXPECT_EQ(first[1].args, (std::vector<uint32_t>{device, 0x00051234, 1})) << "DSSCL_NORMAL";
  EXPECT_EQ(p.Word("soundDeviceFirstUse"), 0u);

  // Later clicks neither create a device nor set the level again, whatever window is in front.
  p.Platform().foregroundWindow = 0x00067777;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(p.Play(), 0);
  EXPECT_EQ(p.Calls("DirectSoundCreate"), 1u);
  EXPECT_EQ(p.Calls("IDirectSound::SetCooperativeLevel"), 1u);
  EXPECT_EQ(p.m->apiCalls()["USER32.dll!GetForegroundWindow"], 1u);
  EXPECT_EQ(p.Word("soundDevice"), device);
}

TEST(SoundPlayer, FirstClickLoadsTheResourceIntoAStaticBufferOnce) {
  Player p;
  const std::vector<uint8_t> resource = WaveResource(*p.m, kClick);
  const WaveParts parts = *ParseWave(resource);
  ASSERT_EQ(p.Play(), 0);

  // The resource calls, then the buffer: its description points into the locked resource.
  std::vector<std::string> names;
  for (const ApiCall& c : p.Log()) names.push_back(c.name);
  EXPECT_EQ(names, (std::vector<std::string>{
                       "DirectSoundCreate", "IDirectSound::SetCooperativeLevel", "FindResourceA", "LoadResource",
                       "LockResource", "SizeofResource", "IDirectSound::CreateSoundBuffer", "IDirectSoundBuffer::Lock",
                       "IDirectSoundBuffer::Unlock", "IDirectSoundBuffer::SetCurrentPosition", "IDirectSoundBuffer::Play"}));
  const std::vector<ApiCall>& log = p.Log();
  EXPECT_EQ(log[2].args, (std::vector<uint32_t>{p.m->base(), kClick, log[2].args[2]}));
  EXPECT_EQ(p.m->machine().readCString(log[2].args[2]), "WAVE");
  const uint32_t image = log[4].result;
  const uint32_t description = log[6].args[1];
  const uint32_t formatOffset = 20;  // RIFF header and the "fmt " chunk header
  EXPECT_EQ(p.m->machine().readBytes(description, 20),
            (std::vector<uint8_t>{20, 0, 0, 0, 0xE2, 0x00, 0x01, 0x00,                        // dwSize, dwFlags
                                  static_cast<uint8_t>(parts.data.size()), static_cast<uint8_t>(parts.data.size() >> 8), 0, 0,
                                  0, 0, 0, 0,                                                  // dwReserved
                                  static_cast<uint8_t>(image + formatOffset), static_cast<uint8_t>((image + formatOffset) >> 8),
                                  static_cast<uint8_t>((image + formatOffset) >> 16), static_cast<uint8_t>((image + formatOffset) >> 24)}))
      << "the format record is handed over in place";
  const uint32_t buffer = p.m->machine().read32(log[6].args[2]);
  EXPECT_EQ(log[6].args[3], 0u);
  EXPECT_EQ(log[7].args[0], buffer);
  EXPECT_EQ((std::vector<uint32_t>{log[7].args[1], log[7].args[2], log[7].args[7]}),
            (std::vector<uint32_t>{0, static_cast<uint32_t>(parts.data.size()), 0}))
      << "locked from 0 for the data length, flags 0";

  // The cache holds the buffer under the id; the second click touches no resource.
  EXPECT_EQ(p.Word("soundCacheCount"), 1u);
  EXPECT_EQ(p.Word("SoundCache", 0), buffer);
  EXPECT_EQ(p.Word("SoundCache", 1), kClick);
  ASSERT_EQ(p.Play(), 0);
  EXPECT_EQ(p.Calls("FindResourceA"), 1u);
  EXPECT_EQ(p.Calls("IDirectSound::CreateSoundBuffer"), 1u);

  // Both clicks played the resource's samples in its format, from the start.
  const std::vector<host::Event> sounds = p.Sounds();
  ASSERT_EQ(sounds.size(), 2u);
  for (const host::Event& e : sounds) {
    EXPECT_EQ(e.module, kModule);
    EXPECT_EQ(e.id, kClick);
    EXPECT_EQ(e.format, parts.format);
    EXPECT_EQ(e.samples, parts.data);
  }
}

TEST(SoundPlayer, AWarmClickIsARewindAndAPlayOnce) {
  Player p;
  ASSERT_EQ(p.Play(), 0);
  const uint32_t buffer = p.Word("SoundCache", 0);
  for (int click = 0; click < 3; ++click) {
    const size_t mark = p.Log().size();
    const uint64_t allocations = p.m->machine().liveAllocations();
    ASSERT_EQ(p.Play(), 0);
    const std::vector<ApiCall> calls = p.LogSince(mark);
    ASSERT_EQ(calls.size(), 2u) << "two DirectSound calls, no resource call";
    EXPECT_EQ(calls[0].name, "IDirectSoundBuffer::SetCurrentPosition");
    EXPECT_EQ(calls[0].args, (std::vector<uint32_t>{buffer, 0}));
    EXPECT_EQ(calls[1].name, "IDirectSoundBuffer::Play");
    EXPECT_EQ(calls[1].args, (std::vector<uint32_t>{buffer, 0, 0, 0})) << "reserved 0, priority 0, no DSBPLAY_LOOPING";
    EXPECT_EQ(p.m->machine().liveAllocations(), allocations);
  }
}

TEST(SoundPlayer, ABufferLossIsRepairedFromTheModulesOwnResource) {
  Player p;
  ASSERT_EQ(p.Play(), 0);
  p.m->simulator().clearEvents();
  p.Platform().failNextCall("IDirectSoundBuffer::Play", kBufferLost);
  const size_t mark = p.Log().size();
  ASSERT_EQ(p.Play(), 0);

  std::vector<std::string> names;
  for (const ApiCall& c : p.LogSince(mark)) names.push_back(c.name);
  EXPECT_EQ(names, (std::vector<std::string>{
                       "IDirectSoundBuffer::SetCurrentPosition", "IDirectSoundBuffer::Play", "IDirectSoundBuffer::Restore",
                       "FindResourceA", "LoadResource", "LockResource", "SizeofResource", "IDirectSoundBuffer::Restore",
                       "IDirectSoundBuffer::Lock", "IDirectSoundBuffer::Unlock", "IDirectSoundBuffer::SetCurrentPosition",
                       "IDirectSoundBuffer::Play"}));
  // The lost buffer's contents were gone: what plays is the refill.
  const std::vector<host::Event> sounds = p.Sounds();
  ASSERT_EQ(sounds.size(), 1u);
  EXPECT_EQ(sounds[0].samples, ParseWave(WaveResource(*p.m, kClick))->data);
  EXPECT_EQ(p.Word("soundCacheCount"), 1u) << "the entry stays";
}

TEST(SoundPlayer, TheCacheKeyIsAllThirtyTwoBitsOfTheId) {
  Player p;
  ASSERT_EQ(p.Play(kClick), 0);
  const uint32_t first = p.Word("SoundCache", 0);
  // Another id naming the same resource: loaded again, and it takes the one entry; the buffer it
  // held is released.
  const int32_t alias = kClick | 0x10000;
  ASSERT_EQ(p.Play(alias), 0);
  EXPECT_EQ(p.Calls("FindResourceA"), 2u);
  const auto lookup = std::find_if(p.Log().rbegin(), p.Log().rend(), [](const ApiCall& c) { return c.name == "FindResourceA"; });
  EXPECT_EQ(lookup->args[1], kClick) << "the resource is named by the low 16 bits";
  EXPECT_EQ(p.Word("soundCacheCount"), 1u);
  EXPECT_EQ(p.Word("SoundCache", 1), static_cast<uint32_t>(alias));
  EXPECT_NE(p.Word("SoundCache", 0), first);
  EXPECT_EQ(p.Platform().soundBuffers.count(first), 0u) << "the replaced buffer was released";
  EXPECT_EQ(p.Platform().soundBuffers.size(), 1u);
  for (const host::Event& e : p.Sounds()) EXPECT_EQ(e.id, kClick);
}

// Every clicking gauge carries its own click in its own format and plays it.
TEST(SoundPlayer, EveryClickingGaugePlaysItsOwnClick) {
  struct Format {
    uint16_t channels;
    uint32_t rate;
    uint16_t bits;
    uint32_t formatBytes, dataBytes;
  };
  const Format stereo8 = {2, 22050, 8, 18, 628}, mono16 = {1, 11025, 16, 16, 1534};
  for (const ClickingGauge& g : kClickingGauges) {
    SCOPED_TRACE(g.deliverable);
    const Format& want = std::string(g.deliverable).rfind("prop_feather", 0) == 0 ? mono16 : stereo8;
    Player p(g.deliverable);
    const std::vector<uint8_t> resource = WaveResource(*p.m, g.resourceId);
    // Exactly the chunks "fmt ", "fact", "data", in this order.
    const uint32_t frames = want.dataBytes / (want.channels * want.bits / 8);
    std::vector<uint8_t> format = PcmFormat(want.channels, want.rate, want.bits, want.formatBytes);
    std::vector<uint8_t> fact;
    Put32(fact, frames);
    const std::vector<uint8_t> data(resource.end() - want.dataBytes, resource.end());
    EXPECT_EQ(resource, Riff({{"fmt ", format}, {"fact", fact}, {"data", data}}));
    EXPECT_NE(data, std::vector<uint8_t>(data.size(), data[0])) << "not silence";

    ASSERT_EQ(p.Play(g.resourceId), 0);
    ASSERT_EQ(p.Play(g.resourceId), 0);
    const std::vector<host::Event> sounds = p.Sounds();
    ASSERT_EQ(sounds.size(), 2u);
    EXPECT_EQ(sounds[1].id, g.resourceId);
    EXPECT_EQ(sounds[1].module, g.deliverable);
    EXPECT_EQ(sounds[1].format, std::vector<uint8_t>(format.begin(), format.begin() + 16));
    EXPECT_EQ(sounds[1].samples, data);
  }
}

}  // namespace
