// Corrupted modules: whatever the bytes, the reader either returns an Image whose queries all
// work, or throws pe::Error. Run under the sanitizers this also proves no read leaves the buffer.
#include <gtest/gtest.h>

#include <random>

#include "pe/pe.h"
#include "pe_builder.h"

using namespace pe_test;

namespace {

// Everything a caller may do with a parsed image.
void exercise(const pe::Image& img) {
  (void)pe::describe(img);
  (void)pe::checkModule(img);
  for (const pe::Resource& r : img.resources) {
    try {
      (void)img.resourceData(r);
    } catch (const pe::Error&) {
    }
  }
  (void)img.findResource(pe::ResName::fromName("WAVE"), pe::ResName::fromId(5));
  (void)img.symbolRva("Linkage");
  for (const pe::Export& e : img.exports) {
    try {
      (void)img.rvaBytes(e.rva, 32);
    } catch (const pe::Error&) {
    }
  }
  if (img.sizeOfImage <= (1u << 20)) (void)img.layout();
}

// Corrupts a copy of seed: overwrites words with awkward values, flips bytes, or cuts the file,
// mostly inside the headers and the generated tables where the structure lives.
Bytes mutate(const Built& seed, std::mt19937& rng) {
  Bytes b = seed.bytes;
  std::vector<std::pair<uint32_t, uint32_t>> hot = {{0, 0x400}};
  for (const char* s : {".edata", ".idata", ".rsrc", ".reloc"})
    hot.push_back({seed.sections.at(s).fileOffset, seed.sections.at(s).rawSize});
  hot.push_back({seed.symbolTable, static_cast<uint32_t>(b.size()) - seed.symbolTable});
  auto position = [&]() -> size_t {
    if (rng() % 4 == 0) return rng() % b.size();
    auto [start, size] = hot[rng() % hot.size()];
    return start + rng() % size;
  };
  const uint32_t awkward[] = {0, 1, 0xFF, 0xFFFF, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0x80000000u | 0x10,
                              static_cast<uint32_t>(b.size()), 0x7000, 0x6FFC, 0x1000};
  for (int n = 1 + static_cast<int>(rng() % 4); n > 0; --n) {
    switch (rng() % 5) {
      case 0:
      case 1: {
        size_t at = position() & ~size_t{3};
        uint32_t v = awkward[rng() % std::size(awkward)];
        for (int i = 0; i < 4 && at + i < b.size(); ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
        break;
      }
      case 2:
      case 3:
        b[position()] ^= static_cast<uint8_t>(1u << (rng() % 8));
        break;
      default:
        if (rng() % 4 == 0) b.resize(rng() % b.size());
        break;
    }
  }
  return b;
}

TEST(PeRobustness, CorruptedModulesParseOrFailCleanly) {
  ModulePlan plan = gaugeModule();
  plan.sections.push_back({".gcc_except_table", 0x40000040, {1, 2, 3, 4}, 0});
  Built seed = build(plan);
  std::mt19937 rng(20240611);
  int parsed = 0;
  for (int i = 0; i < 4000; ++i) {
    Bytes bytes = mutate(seed, rng);
    try {
      pe::Image img = pe::parse(bytes);
      ++parsed;
      exercise(img);
    } catch (const pe::Error&) {
    }
  }
  // Both outcomes must have been exercised for the run to mean anything.
  EXPECT_GT(parsed, 400);
  EXPECT_LT(parsed, 3600);
}

}  // namespace
