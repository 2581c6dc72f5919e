// Reading a well-formed module: every part parse() fills, and the queries on the Image.
#include <gtest/gtest.h>

#include <algorithm>

#include "pe/pe.h"
#include "pe_builder.h"

using namespace pe_test;

namespace {

class BuiltModule : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    built_ = new Built(build(gaugeModule()));
    image_ = new pe::Image(pe::parse(built_->bytes));
  }
  static void TearDownTestSuite() {
    delete image_;
    delete built_;
  }
  static const Built& built() { return *built_; }
  static const pe::Image& image() { return *image_; }
  static uint32_t rva(const std::string& section, uint32_t offset = 0) { return built_->rva({section, offset}); }

 private:
  static inline Built* built_ = nullptr;
  static inline pe::Image* image_ = nullptr;
};

uint32_t word(std::span<const uint8_t> b, size_t off) {
  return b[off] | b[off + 1] << 8 | b[off + 2] << 16 | static_cast<uint32_t>(b[off + 3]) << 24;
}

TEST_F(BuiltModule, ReadsHeaders) {
  const pe::Image& img = image();
  EXPECT_EQ(img.machine, 0x14C);
  EXPECT_EQ(img.magic, 0x10B);
  EXPECT_TRUE(img.isDll());
  EXPECT_FALSE(img.hasTls());
  EXPECT_EQ(img.imageBase, 0x10000000u);
  EXPECT_EQ(img.entryRva, rva(".text"));
  EXPECT_EQ(img.subsystem, 2);
  EXPECT_EQ(img.majorOsVersion, 4);
  EXPECT_EQ(img.minorSubsystemVersion, 0);
  EXPECT_EQ(img.timeDateStamp, 0x36000000u);
  EXPECT_EQ(img.sizeOfHeaders, 0x400u);
  EXPECT_EQ(img.sectionAlignment, 0x1000u);
  EXPECT_EQ(img.sizeOfImage, img.sections.back().virtualAddress + 0x1000);
  EXPECT_EQ(img.directories[pe::kResourceDirectory].rva, rva(".rsrc"));
}

TEST_F(BuiltModule, ReadsSectionsAndMapsRvas) {
  const pe::Image& img = image();
  std::vector<std::string> names;
  for (const auto& s : img.sections) names.push_back(s.name);
  EXPECT_EQ(names, (std::vector<std::string>{".text", ".data", ".edata", ".idata", ".rsrc", ".reloc"}));
  const pe::Section& text = img.sections[0];
  EXPECT_TRUE(text.executable());
  EXPECT_FALSE(text.writable());
  EXPECT_TRUE(img.sections[1].writable());
  EXPECT_FALSE(img.sections[1].executable());
  EXPECT_EQ(text.rawSize, 0x200u);
  EXPECT_EQ(text.fileBacked(), text.virtualSize);

  // sectionAt covers exactly [VA, VA + extent).
  EXPECT_EQ(img.sectionAt(text.virtualAddress), &text);
  EXPECT_EQ(img.sectionAt(text.virtualAddress + text.virtualSize - 1), &text);
  EXPECT_EQ(img.sectionAt(text.virtualAddress + text.virtualSize), nullptr);
  EXPECT_EQ(img.sectionAt(0), nullptr);

  // rvaBytes reads through the section table and the headers, and refuses what the file lacks.
  auto code = img.rvaBytes(text.virtualAddress + 0x20, 8);
  EXPECT_TRUE(std::ranges::equal(code, x87Code()));
  EXPECT_EQ(img.rvaBytes(0, 2)[0], 'M');
  EXPECT_THROW(img.rvaBytes(text.virtualAddress + text.virtualSize - 2, 4), pe::Error);  // past the file data
  EXPECT_THROW(img.rvaBytes(img.sizeOfImage, 1), pe::Error);
  EXPECT_THROW(img.rvaBytes(0xFFFFFFF0u, 0x20), pe::Error);  // wraps around
  EXPECT_THROW(img.rvaBytes(text.virtualAddress, 0xFFFFFFFFu), pe::Error);
}

TEST_F(BuiltModule, ReadsExports) {
  const pe::Image& img = image();
  ASSERT_EQ(img.exports.size(), 2u);
  const pe::Export* linkage = img.findExport("Linkage");
  const pe::Export* table = img.findExport("ImportTable");
  ASSERT_TRUE(linkage && table);
  EXPECT_EQ(linkage->rva, rva(".data"));
  EXPECT_EQ(linkage->ordinal, 1);  // first in the address table, ordinal base 1
  EXPECT_EQ(table->rva, rva(".data", 0x20));
  EXPECT_EQ(table->ordinal, 2);
  EXPECT_EQ(img.rvaBytes(linkage->rva, 4)[0], 0x13);
  EXPECT_EQ(img.findExport("linkage"), nullptr);
  EXPECT_EQ(img.findExport(""), nullptr);
}

TEST_F(BuiltModule, ReadsImportsWithTheirIatSlots) {
  const pe::Image& img = image();
  std::vector<std::string> names;
  for (const auto& i : img.imports) names.push_back(i.dll + "!" + i.function);
  EXPECT_EQ(names, (std::vector<std::string>{"DSOUND.dll!DirectSoundCreate", "KERNEL32.dll!FindResourceA",
                                             "KERNEL32.dll!LoadResource", "KERNEL32.dll!LockResource",
                                             "KERNEL32.dll!SizeofResource", "USER32.dll!GetForegroundWindow"}));
  const pe::Import& lock = img.imports[3];
  EXPECT_FALSE(lock.byOrdinal);
  EXPECT_EQ(lock.hint, 2);
  // The IAT slot holds (before binding) the RVA of the hint/name entry.
  uint32_t hintName = word(img.rvaBytes(lock.iatRva, 4), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(img.rvaBytes(hintName + 2, 12).data())), "LockResource");
  // Slots of one DLL are consecutive words.
  EXPECT_EQ(img.imports[2].iatRva, img.imports[1].iatRva + 4);
}

TEST(PeImports, ReadsImportsByOrdinal) {
  ModulePlan plan = gaugeModule();
  plan.imports = {{"dsound.dll", {"#1", "DirectSoundCreate"}}};
  pe::Image img = pe::parse(build(plan).bytes);
  ASSERT_EQ(img.imports.size(), 2u);
  EXPECT_TRUE(img.imports[0].byOrdinal);
  EXPECT_EQ(img.imports[0].ordinal, 1);
  EXPECT_EQ(img.imports[0].function, "#1");
  EXPECT_FALSE(img.imports[1].byOrdinal);
}

TEST_F(BuiltModule, ReadsRelocationsSkippingPadding) {
  std::vector<uint32_t> rvas;
  for (const auto& r : image().relocations) {
    EXPECT_EQ(r.type, pe::kRelocHighLow);
    rvas.push_back(r.rva);
  }
  std::sort(rvas.begin(), rvas.end());
  EXPECT_EQ(rvas, (std::vector<uint32_t>{rva(".text", 5), rva(".data", 4), rva(".data", 8), rva(".data", 0x18),
                                         rva(".data", 0x44)}));
}

TEST(PeRelocations, ListsOtherTypesAsFound) {
  ModulePlan plan = gaugeModule();
  plan.relocations = {{{".data", 0x60}, 10}, {{".data", 0x64}, 1}};
  pe::Image img = pe::parse(build(plan).bytes);
  EXPECT_EQ(std::ranges::count_if(img.relocations, [](auto& r) { return r.type == 10; }), 1);
  EXPECT_EQ(std::ranges::count_if(img.relocations, [](auto& r) { return r.type == 1; }), 1);
}

TEST_F(BuiltModule, ReadsResourceTree) {
  const pe::Image& img = image();
  std::vector<std::string> listed;
  for (const auto& r : img.resources)
    listed.push_back(r.type.str() + "/" + r.name.str() + "/" + std::to_string(r.language));
  EXPECT_EQ(listed, (std::vector<std::string>{"WAVE/CLICK/1033", "WAVE/#5/1033", "#2/#1000/1031", "#2/#1000/1033",
                                              "#16/#1/1033"}));

  // First language wins; names compare case-insensitively, ids and names never match each other.
  const pe::Resource* bitmap = img.findResource(pe::ResName::fromId(2), pe::ResName::fromId(1000));
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(bitmap->language, 0x407);
  const pe::Resource* click = img.findResource(pe::ResName::fromName("wave"), pe::ResName::fromName("Click"));
  ASSERT_NE(click, nullptr);
  EXPECT_TRUE(std::ranges::equal(img.resourceData(*click), waveResource(10)));
  EXPECT_EQ(img.findResource(pe::ResName::fromName("WAVE"), pe::ResName::fromName("#5")), nullptr);
  EXPECT_EQ(img.findResource(pe::ResName::fromId(10), pe::ResName::fromId(5)), nullptr);

  pe::Resource outside = *click;
  outside.dataRva = img.sizeOfImage - 4;
  EXPECT_THROW(img.resourceData(outside), pe::Error);
}

TEST_F(BuiltModule, ReadsVersionResource) {
  ASSERT_TRUE(image().version);
  const pe::VersionInfo& v = *image().version;
  EXPECT_EQ(std::vector<uint16_t>(v.fileVersion, v.fileVersion + 4), (std::vector<uint16_t>{1, 0, 0, 0}));
  EXPECT_EQ(std::vector<uint16_t>(v.productVersion, v.productVersion + 4), (std::vector<uint16_t>{1, 0, 0, 0}));
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(v.strings, (Pairs{{"FileDescription", "Test gauge"}, {"ProductVersion", "1.0.0.0"}}));
}

TEST(PeVersion, ReadsAllFourVersionWords) {
  ModulePlan plan = gaugeModule();
  plan.resources.back().data = versionResource({2, 3, 4, 5}, {6, 7, 8, 0xFFFF}, {});
  pe::Image img = pe::parse(build(plan).bytes);
  ASSERT_TRUE(img.version);
  EXPECT_EQ(std::vector<uint16_t>(img.version->fileVersion, img.version->fileVersion + 4),
            (std::vector<uint16_t>{2, 3, 4, 5}));
  EXPECT_EQ(std::vector<uint16_t>(img.version->productVersion, img.version->productVersion + 4),
            (std::vector<uint16_t>{6, 7, 8, 0xFFFF}));
  EXPECT_TRUE(img.version->strings.empty());
}

TEST_F(BuiltModule, ReadsCoffSymbols) {
  const pe::Image& img = image();
  std::vector<std::string> names;
  for (const auto& s : img.symbols) names.push_back(s.name);
  // The auxiliary record after ".text" is skipped; the long name comes from the string table.
  EXPECT_EQ(names, (std::vector<std::string>{"_Linkage", "_ImportTable", "_ModuleEntry@12", ".text"}));
  EXPECT_EQ(img.symbols[2].type, 0x20);
  EXPECT_EQ(img.symbols[2].section, 1);
  EXPECT_EQ(img.symbols[3].storageClass, 3);

  EXPECT_EQ(img.symbolRva("Linkage"), img.findExport("Linkage")->rva);
  EXPECT_EQ(img.symbolRva("_Linkage"), img.findExport("Linkage")->rva);
  EXPECT_EQ(img.symbolRva("ModuleEntry@12"), img.entryRva);
  EXPECT_EQ(img.symbolRva("ImportTable"), rva(".data", 0x20));
  EXPECT_EQ(img.symbolRva("GaugeHeader"), std::nullopt);
}

TEST(PeSections, ResolvesLongSectionNamesFromTheStringTable) {
  ModulePlan plan = gaugeModule();
  plan.sections.push_back({".gcc_except_table", 0x40000040, {1, 2, 3, 4}, 0});
  pe::Image img = pe::parse(build(plan).bytes);
  EXPECT_EQ(img.sections[2].name, ".gcc_except_table");
}

TEST_F(BuiltModule, LaysOutTheImage) {
  const pe::Image& img = image();
  std::vector<uint8_t> mem = img.layout();
  ASSERT_EQ(mem.size(), img.sizeOfImage);
  EXPECT_TRUE(std::equal(mem.begin(), mem.begin() + 0x400, built().bytes.begin()));
  const pe::Section& text = img.sections[0];
  EXPECT_TRUE(std::ranges::equal(std::span(mem).subspan(text.virtualAddress, text.virtualSize),
                                 img.rvaBytes(text.virtualAddress, text.virtualSize)));
  // The file pads .text to 0x200 bytes; the image keeps only virtualSize of it, then zeros.
  EXPECT_TRUE(std::all_of(mem.begin() + text.virtualAddress + text.virtualSize,
                          mem.begin() + img.sections[1].virtualAddress, [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(word(mem, img.findExport("Linkage")->rva + 4), 0x10000000u + rva(".text", 0x14));
}

TEST(PeLayout, ZeroFillsUninitialisedData) {
  ModulePlan plan = gaugeModule();
  plan.sections.push_back({".bss", 0xC0000080, {}, 0x30});
  plan.sections.push_back({".tail", 0xC0000040, std::vector<uint8_t>(0x10, 0xAB), 0x40});
  pe::Image img = pe::parse(build(plan).bytes);
  const pe::Section& bss = img.sections[2];
  EXPECT_EQ(bss.rawSize, 0u);
  EXPECT_EQ(bss.extent(), 0x30u);
  EXPECT_THROW(img.rvaBytes(bss.virtualAddress, 1), pe::Error);
  std::vector<uint8_t> mem = img.layout();
  const pe::Section& tail = img.sections[3];
  EXPECT_EQ(tail.fileBacked(), 0x40u);  // raw data is padded to 0x200; the image takes virtualSize
  EXPECT_EQ(mem[tail.virtualAddress + 0xF], 0xAB);
  EXPECT_EQ(mem[tail.virtualAddress + 0x10], 0);
  EXPECT_EQ(mem[bss.virtualAddress], 0);
}

TEST_F(BuiltModule, DescribesTheModule) {
  std::string d = pe::describe(image());
  for (const char* expected : {
           "PE32 i386 (machine 0x14c), DLL", "image base          0x10000000", "OS version          4.0",
           "subsystem           2 (Windows GUI) 4.0", "timestamp           0x36000000 (1998-",
           "entry point         RVA 0x1000 (VA 0x10001000) in .text", ".text  RVA 0x1000 size 0x28",
           "r-x code", "rw- data", "Linkage  ordinal 1  RVA 0x2000 in .data", "DSOUND.dll!DirectSoundCreate",
           "USER32.dll!GetForegroundWindow", "relocations         5 (5 HIGHLOW)", "TLS                 no",
           "BITMAP (#2) / #1000  language 0x407", "8 x 4 x 4 bits", "16 x 8 x 8 bits", "WAVE / #5  language 0x409  144 bytes",
           "WAVE / CLICK", "VERSION (#16) / #1", "version             file 1.0.0.0, product 1.0.0.0",
           "FileDescription: Test gauge", "COFF symbols        4"})
    EXPECT_NE(d.find(expected), std::string::npos) << "missing \"" << expected << "\" in:\n" << d;
}

}  // namespace
