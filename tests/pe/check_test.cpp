// checkModule: a clean module passes; each rule fires on its own fault, naming the detail.
#include <gtest/gtest.h>

#include <functional>

#include "pe/pe.h"
#include "pe_builder.h"

using namespace pe_test;

namespace {

std::vector<pe::Violation> check(const ModulePlan& plan) { return pe::checkModule(pe::parse(build(plan).bytes)); }

std::string dump(const std::vector<pe::Violation>& v) {
  std::string s;
  for (const auto& x : v) s += "  " + x.rule + ": " + x.detail + "\n";
  return s.empty() ? "  (none)\n" : s;
}

std::vector<pe::Violation> only(const std::vector<pe::Violation>& all, const std::string& rule) {
  std::vector<pe::Violation> out;
  for (const auto& v : all)
    if (v.rule == rule) out.push_back(v);
  return out;
}

TEST(PeCheck, CleanModulePasses) {
  auto v = check(gaugeModule());
  EXPECT_TRUE(v.empty()) << dump(v);
}

struct RuleCase {
  const char* name;
  std::function<void(ModulePlan&)> change;
  std::string rule;
  std::string detail;  // contained in the one violation expected
};

const std::vector<RuleCase>& ruleCases() {
  static const std::vector<RuleCase> cases = {
      {"Machine", [](ModulePlan& m) { m.machine = 0x8664; }, "pe32-i386", "machine 0x8664"},
      {"NotDll", [](ModulePlan& m) { m.characteristics = 0x0102; }, "dll", "DLL flag"},
      {"ExtraExport", [](ModulePlan& m) { m.exports.push_back({"GaugeHeader", {".data", 0x40}}); }, "exports",
       "unexpected export GaugeHeader"},
      {"DuplicateExport", [](ModulePlan& m) { m.exports.push_back({"Linkage", {".data", 0x30}}); }, "exports",
       "Linkage is exported 2 times"},
      {"MissingExport", [](ModulePlan& m) { m.exports.pop_back(); }, "exports", "missing export ImportTable"},
      {"ExportInCode", [](ModulePlan& m) { m.exports[0].at = {".text", 0x14}; }, "exports",
       "Linkage at RVA 0x1014 is in .text, an executable section"},
      {"CRuntimeImport", [](ModulePlan& m) { m.imports.push_back({"msvcrt.dll", {"malloc"}}); }, "imports",
       "msvcrt.dll!malloc is not allowed"},
      {"OtherKernelImport", [](ModulePlan& m) { m.imports[1].functions.push_back("LoadLibraryA"); }, "imports",
       "KERNEL32.dll!LoadLibraryA is not allowed"},
      {"ImportByOrdinal", [](ModulePlan& m) { m.imports[0].functions = {"#1"}; }, "imports",
       "DSOUND.dll!#1 is not allowed"},
      {"NoEntryPoint", [](ModulePlan& m) { m.entry.reset(); }, "entry-point", "the entry point is 0"},
      {"EntryInData", [](ModulePlan& m) { m.entry = Loc{".data", 0}; }, "entry-point",
       "the entry point 0x2000 is in .data, which is not executable"},
      {"OsVersion", [](ModulePlan& m) { m.osMajor = 6; }, "os-version", "OS version 6.0, expected 4.0"},
      {"SubsystemVersion", [](ModulePlan& m) { m.subsystemMinor = 10; }, "subsystem-version",
       "subsystem version 4.10, expected 4.0"},
      {"ConsoleSubsystem", [](ModulePlan& m) { m.subsystem = 3; }, "subsystem", "subsystem 3, expected 2"},
      {"NoRelocations", [](ModulePlan& m) { m.addresses.clear(); }, "relocations", "no base relocation directory"},
      {"OnlyPaddingRelocations",
       [](ModulePlan& m) {
         m.addresses.clear();
         m.relocations = {{{".data", 0x60}, pe::kRelocAbsolute}};
       },
       "relocations", "holds no HIGHLOW entry"},
      {"OtherRelocationType", [](ModulePlan& m) { m.relocations = {{{".data", 0x60}, 10}, {{".data", 0x68}, 10}}; },
       "relocations", "2 relocation(s) of unsupported type 10, the first at RVA 0x2060"},
      {"RelocationsStripped", [](ModulePlan& m) { m.characteristics |= 0x0001; }, "relocations",
       "relocations-stripped flag"},
      {"Tls", [](ModulePlan& m) { m.tls = Loc{".data", 0x60}; }, "no-tls", "TLS directory at RVA 0x2060"},
      {"NoVersionResource", [](ModulePlan& m) { m.resources.pop_back(); }, "version-resource", "no version resource"},
      {"FileVersion", [](ModulePlan& m) { m.resources.back().data = versionResource({1, 2, 0, 0}, {1, 0, 0, 0}, {}); },
       "version-resource", "file version 1.2.0.0, expected 1.0.0.0"},
      {"ProductVersion",
       [](ModulePlan& m) { m.resources.back().data = versionResource({1, 0, 0, 0}, {1, 0, 0, 3}, {}); },
       "version-resource", "product version 1.0.0.3"},
      {"CtorsSection", [](ModulePlan& m) { m.sections.push_back({".ctors", 0x40000040, Bytes(4, 1), 0}); },
       "runtime-sections", ".ctors has content"},
      {"TruncatedEhFrameName",
       [](ModulePlan& m) {
         m.symbols.clear();  // without a string table the linker cuts names to 8 characters
         m.sections.push_back({".eh_frame", 0x40000040, Bytes(16, 1), 0});
       },
       "runtime-sections", ".eh_fram has content"},
      {"TlsSection", [](ModulePlan& m) { m.sections.push_back({".tls", 0xC0000040, Bytes(8, 0), 0}); },
       "runtime-sections", ".tls has content"},
      {"StaticConstructorList",
       [](ModulePlan& m) {
         // ld's list in .text: -1, one constructor address, 0; it must not read as undecodable code.
         Bytes& text = m.sections[0].bytes;
         text.insert(text.end(), {0x90, 0x90, 0x90, 0x90, 0xFF, 0xFF, 0xFF, 0xFF, 0x14, 0x10, 0x00, 0x10, 0, 0, 0, 0});
         m.symbols.push_back({"___CTOR_LIST__", {".text", 0x2C}});
       },
       "static-constructors", "1 entry(ies) in the ___CTOR_LIST__ at RVA 0x102c in .text"},
  };
  return cases;
}

void PrintTo(const RuleCase& c, std::ostream* os) { *os << c.name; }

class PeCheckRules : public ::testing::TestWithParam<RuleCase> {};

TEST_P(PeCheckRules, ReportsExactlyTheBrokenRule) {
  ModulePlan plan = gaugeModule();
  GetParam().change(plan);
  auto v = check(plan);
  ASSERT_EQ(v.size(), 1u) << dump(v);
  EXPECT_EQ(v[0].rule, GetParam().rule);
  EXPECT_NE(v[0].detail.find(GetParam().detail), std::string::npos) << dump(v);
}

INSTANTIATE_TEST_SUITE_P(Table, PeCheckRules, ::testing::ValuesIn(ruleCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PeCheck, EmptyConstructorListsAreFine) {
  ModulePlan plan = gaugeModule();
  Bytes& text = plan.sections[0].bytes;
  text.insert(text.end(), {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0});
  auto v = check(plan);
  EXPECT_TRUE(v.empty()) << dump(v);
}

// ---- isa -----------------------------------------------------------------------------------------

struct IsaCase {
  const char* name;
  Bytes code;
  std::vector<std::string> findings;  // expected isa details, in order (substrings)
};

const std::vector<IsaCase>& isaCases() {
  static const std::vector<IsaCase> cases = {
      {"X87Clean", x87Code(), {}},
      {"I686Extras",  // fcomi st1; fcmovb st0, st1; fucomip st1; cmove eax, ecx; pause; ud2; ret
       {0xDB, 0xF1, 0xDA, 0xC1, 0xDF, 0xE9, 0x0F, 0x44, 0xC1, 0xF3, 0x90, 0x0F, 0x0B, 0xC3},
       {}},
      {"PaddingBetweenFunctions",  // ret; int3 x3; nop x2; zeros x5; push ebp; mov ebp, esp; pop ebp; ret; 1 zero at end
       {0xC3, 0xCC, 0xCC, 0xCC, 0x90, 0x90, 0, 0, 0, 0, 0, 0x55, 0x89, 0xE5, 0x5D, 0xC3, 0},
       {}},
      {"Movaps", {0x0F, 0x28, 0xC1, 0xC3}, {".text RVA 0x1020: movaps xmm0, xmm1 (SSE)"}},
      {"Emms", {0x90, 0x0F, 0x77, 0xC3}, {".text RVA 0x1021: emms (MMX)"}},
      {"Paddb", {0x0F, 0xFC, 0xC1, 0xC3}, {"RVA 0x1020: paddb mm0, mm1 (MMX)"}},
      {"Cvtsi2sd", {0xF2, 0x0F, 0x2A, 0xC0, 0xC3}, {"cvtsi2sd xmm0, eax (SSE2)"}},
      {"Pshufb", {0x66, 0x0F, 0x38, 0x00, 0xC1, 0xC3}, {"pshufb xmm0, xmm1 (SSSE3)"}},
      {"Vaddps", {0xC5, 0xF4, 0x58, 0xC2, 0xC3}, {"vaddps ymm0, ymm1, ymm2 (AVX)"}},
      {"Femms", {0x0F, 0x0E, 0xC3}, {"femms (3DNow!)"}},
      {"Ldmxcsr", {0x0F, 0xAE, 0x10, 0xC3}, {"ldmxcsr dword ptr [eax] (SSE)"}},
      {"Fisttp", {0xDB, 0x08, 0xC3}, {"fisttp dword ptr [eax] (SSE3)"}},
      {"Popcnt", {0xF3, 0x0F, 0xB8, 0xC1, 0xC3}, {"popcnt eax, ecx (ABM)"}},
      {"UndecodableByte", {0x90, 0x0F, 0x04, 0x90, 0xC3}, {".text RVA 0x1021: 1 undecodable byte(s), first 0xf"}},
      {"UndecodableRun", {0x90, 0xFF, 0xFF, 0xFF, 0xFF, 0x90, 0xC3},
       {".text RVA 0x1021: 4 undecodable byte(s), first 0xff"}},
      {"SeveralInOrder", {0x0F, 0x77, 0xDD, 0x00, 0x0F, 0x28, 0xC1, 0xC3}, {"RVA 0x1020: emms", "RVA 0x1024: movaps"}},
  };
  return cases;
}

void PrintTo(const IsaCase& c, std::ostream* os) { *os << c.name; }

class PeCheckIsa : public ::testing::TestWithParam<IsaCase> {};

TEST_P(PeCheckIsa, FlagsOnlyInstructionsI686Lacks) {
  auto all = check(gaugeModule(GetParam().code));
  auto v = only(all, "isa");
  EXPECT_EQ(v.size(), all.size()) << dump(all);
  ASSERT_EQ(v.size(), GetParam().findings.size()) << dump(v);
  for (size_t i = 0; i < v.size(); ++i)
    EXPECT_NE(v[i].detail.find(GetParam().findings[i]), std::string::npos) << dump(v);
}

INSTANTIATE_TEST_SUITE_P(Table, PeCheckIsa, ::testing::ValuesIn(isaCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PeCheck, IsaReportsTheFirstTwentyAndACount) {
  Bytes code;
  for (int i = 0; i < 25; ++i) code.insert(code.end(), {0x0F, 0x28, 0xC1});
  code.push_back(0xC3);
  auto v = only(check(gaugeModule(code)), "isa");
  ASSERT_EQ(v.size(), 21u) << dump(v);
  EXPECT_NE(v[0].detail.find("RVA 0x1020: movaps"), std::string::npos);
  EXPECT_NE(v[19].detail.find("RVA 0x1059: movaps"), std::string::npos);
  EXPECT_EQ(v[20].detail, "5 more isa finding(s) not listed (25 in total)");
}

TEST(PeCheck, IsaLooksAtEveryExecutableSection) {
  ModulePlan plan = gaugeModule();
  plan.sections.push_back({".text2", 0x60000020, {0x90, 0x0F, 0x77, 0xC3}, 0});
  plan.sections.push_back({".rdata", 0x40000040, {0x0F, 0x77}, 0});  // data, not disassembled
  auto v = check(plan);
  ASSERT_EQ(v.size(), 1u) << dump(v);
  EXPECT_EQ(v[0].detail, ".text2 RVA 0x3001: emms (MMX)");
}

}  // namespace
