// Real modules linked by mingw-w64 (built by this folder's CMake when the cross compiler is there):
// one built the way the gauge modules are, one built carelessly.
#include <gtest/gtest.h>

#include <set>

#include "pe/pe.h"

namespace {

#ifdef PE_TEST_MODULES
const char* const kModules = PE_TEST_MODULES;
#else
const char* const kModules = nullptr;
#endif

pe::Image loadModule(const char* name) { return pe::load(std::string(kModules) + "/" + name); }

TEST(PeRealModule, GaugeStyleBuildPassesEveryRule) {
  if (!kModules) GTEST_SKIP() << "i686-w64-mingw32-gcc not found";
  pe::Image img = loadModule("good_module.gau");
  auto v = pe::checkModule(img);
  std::string listed;
  for (const auto& x : v) listed += x.rule + ": " + x.detail + "\n";
  EXPECT_TRUE(v.empty()) << listed;

  // What the bench relies on when it maps the module.
  const pe::Export* linkage = img.findExport("Linkage");
  ASSERT_NE(linkage, nullptr);
  EXPECT_EQ(img.symbolRva("Linkage"), linkage->rva);
  EXPECT_EQ(img.symbolRva("ModuleEntry@12"), img.entryRva);
  std::vector<uint8_t> mem = img.layout();
  EXPECT_EQ(mem[linkage->rva], 0x13);
  std::set<std::string> imports;
  for (const auto& i : img.imports) imports.insert(i.dll + "!" + i.function);
  EXPECT_EQ(imports.size(), 6u);
  EXPECT_TRUE(imports.contains("dsound.dll!DirectSoundCreate")) << *imports.begin();
  for (const auto& r : img.relocations) {
    // Every HIGHLOW target holds an address inside the image at its preferred base.
    uint32_t va = mem[r.rva] | mem[r.rva + 1] << 8 | mem[r.rva + 2] << 16 | uint32_t{mem[r.rva + 3]} << 24;
    EXPECT_GE(va, img.imageBase);
    EXPECT_LT(va, img.imageBase + img.sizeOfImage);
  }
  const pe::Resource* wave = img.findResource(pe::ResName::fromName("WAVE"), pe::ResName::fromId(5));
  ASSERT_NE(wave, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(img.resourceData(*wave).data()), 4), "RIFF");
  ASSERT_TRUE(img.version);
  EXPECT_EQ(img.version->strings.at(0), (std::pair<std::string, std::string>{"FileDescription", "Reader test module"}));
}

TEST(PeRealModule, CarelessBuildBreaksTheExpectedRules) {
  if (!kModules) GTEST_SKIP() << "i686-w64-mingw32-gcc not found";
  pe::Image img = loadModule("bad_module.gau");
  std::set<std::string> rules;
  std::string listed;
  for (const auto& x : pe::checkModule(img)) {
    rules.insert(x.rule);
    listed += x.rule + ": " + x.detail + "\n";
  }
  for (const char* rule : {"exports", "imports", "version-resource", "runtime-sections", "static-constructors", "isa"})
    EXPECT_TRUE(rules.contains(rule)) << rule << " not reported; got:\n" << listed;
  EXPECT_NE(listed.find("imports: msvcrt.dll!malloc is not allowed"), std::string::npos) << listed;
  EXPECT_NE(listed.find("runtime-sections: .eh_fram has content"), std::string::npos) << listed;
  EXPECT_NE(listed.find("static-constructors: 1 entry(ies) in the __CTOR_LIST__"), std::string::npos) << listed;
  EXPECT_NE(listed.find("(SSE)"), std::string::npos) << listed;
  EXPECT_EQ(listed.find("undecodable"), std::string::npos) << listed;
}

}  // namespace
