// checkModule(): the structural rules every gauge module must meet before the bench (or the
// simulator) loads it.
#include <capstone/capstone.h>

#include <algorithm>
#include <array>
#include <map>
#include <memory>

#include "pe/pe.h"
#include "pe/util.h"

namespace pe {

using detail::hex;

namespace {

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}

std::string version4(const uint16_t v[4]) {
  return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." +
         std::to_string(v[3]);
}

// The only functions a gauge module may import: the click sound player's DirectSound device,
// its WAVE resource lookup, and the window for the sound device's cooperative level.
struct Allowed {
  const char* dll;
  const char* function;
};
constexpr Allowed kAllowedImports[] = {
    {"dsound.dll", "DirectSoundCreate"}, {"kernel32.dll", "FindResourceA"},
    {"kernel32.dll", "LoadResource"},    {"kernel32.dll", "LockResource"},
    {"kernel32.dll", "SizeofResource"},  {"user32.dll", "GetForegroundWindow"},
};

// Sections that only the C/C++ runtime's static construction, TLS or unwinding would fill.
// Images usually carry section names cut to 8 characters (".eh_fram"), so those match too.
constexpr const char* kRuntimeSections[] = {".ctors", ".dtors", ".CRT", ".tls", ".eh_frame", ".gcc_except_table"};

bool isRuntimeSection(const std::string& name) {
  for (std::string_view r : kRuntimeSections)
    if (name == r || (name.size() == 8 && r.size() > 8 && r.starts_with(name))) return true;
  return false;
}

void checkHeaders(const Image& img, std::vector<Violation>& out) {
  if (img.magic != 0x10B || img.machine != 0x14C)
    out.push_back({"pe32-i386", "magic " + hex(img.magic) + ", machine " + hex(img.machine) +
                                    "; expected PE32 (0x10b) for i386 (0x14c)"});
  if (!img.isDll())
    out.push_back({"dll", "the DLL flag (0x2000) is not set in characteristics " + hex(img.characteristics)});
  if (img.majorOsVersion != 4 || img.minorOsVersion != 0)
    out.push_back({"os-version", "OS version " + std::to_string(img.majorOsVersion) + "." +
                                     std::to_string(img.minorOsVersion) + ", expected 4.0"});
  if (img.subsystem != 2)
    out.push_back({"subsystem", "subsystem " + std::to_string(img.subsystem) + ", expected 2 (Windows GUI)"});
  if (img.majorSubsystemVersion != 4 || img.minorSubsystemVersion != 0)
    out.push_back({"subsystem-version", "subsystem version " + std::to_string(img.majorSubsystemVersion) +
                                            "." + std::to_string(img.minorSubsystemVersion) + ", expected 4.0"});
  if (img.entryRva == 0) {
    out.push_back({"entry-point", "the entry point is 0 (no entry routine)"});
  } else if (const Section* s = img.sectionAt(img.entryRva); !s) {
    out.push_back({"entry-point", "the entry point " + hex(img.entryRva) + " is in no section"});
  } else if (!s->executable()) {
    out.push_back({"entry-point", "the entry point " + hex(img.entryRva) + " is in " + s->name +
                                      ", which is not executable"});
  }
  if (img.hasTls())
    out.push_back({"no-tls", "TLS directory at RVA " + hex(img.directories[kTlsDirectory].rva) + " (size " +
                                 hex(img.directories[kTlsDirectory].size) + ")"});
}

void checkExports(const Image& img, std::vector<Violation>& out) {
  for (const char* required : {"Linkage", "ImportTable"}) {
    const Export* e = img.findExport(required);
    if (!e) {
      out.push_back({"exports", std::string("missing export ") + required});
      continue;
    }
    auto count = std::count_if(img.exports.begin(), img.exports.end(), [&](const Export& x) { return x.name == required; });
    if (count > 1)
      out.push_back({"exports", std::string(required) + " is exported " + std::to_string(count) + " times"});
    const Section* s = img.sectionAt(e->rva);
    if (!s)
      out.push_back({"exports", std::string(required) + " at RVA " + hex(e->rva) + " is in no section"});
    else if (s->executable())
      out.push_back({"exports", std::string(required) + " at RVA " + hex(e->rva) + " is in " + s->name +
                                    ", an executable section; it must be a data record"});
  }
  for (const Export& e : img.exports)
    if (e.name != "Linkage" && e.name != "ImportTable")
      out.push_back({"exports", "unexpected export " + (e.name.empty() ? "#" + std::to_string(e.ordinal) : e.name)});
}

void checkImports(const Image& img, std::vector<Violation>& out) {
  for (const Import& i : img.imports) {
    bool allowed = !i.byOrdinal && std::any_of(std::begin(kAllowedImports), std::end(kAllowedImports),
                                               [&](const Allowed& a) {
                                                 return lower(i.dll) == a.dll && i.function == a.function;
                                               });
    if (!allowed) out.push_back({"imports", i.dll + "!" + i.function + " is not allowed"});
  }
}

void checkRelocations(const Image& img, std::vector<Violation>& out) {
  const Image::Directory& d = img.directories[kBaseRelocationDirectory];
  if (img.characteristics & kFileRelocsStripped)
    out.push_back({"relocations", "the relocations-stripped flag (0x0001) is set"});
  if (d.rva == 0 || d.size == 0) {
    out.push_back({"relocations", "no base relocation directory: the module cannot load away from " +
                                      hex(img.imageBase)});
    return;
  }
  std::map<uint8_t, std::pair<size_t, uint32_t>> other;  // type -> (count, first RVA)
  size_t highLow = 0;
  for (const Relocation& r : img.relocations) {
    if (r.type == kRelocHighLow) {
      ++highLow;
    } else {
      auto& [count, first] = other[r.type];
      if (count++ == 0) first = r.rva;
    }
  }
  if (highLow == 0) out.push_back({"relocations", "the base relocation directory holds no HIGHLOW entry"});
  for (auto& [type, info] : other)
    out.push_back({"relocations", std::to_string(info.first) + " relocation(s) of unsupported type " +
                                      std::to_string(type) + ", the first at RVA " + hex(info.second)});
}

void checkVersion(const Image& img, std::vector<Violation>& out) {
  if (!img.version) {
    out.push_back({"version-resource", "no version resource"});
    return;
  }
  static constexpr uint16_t kOne[4] = {1, 0, 0, 0};
  if (!std::equal(kOne, kOne + 4, img.version->fileVersion))
    out.push_back({"version-resource", "file version " + version4(img.version->fileVersion) + ", expected 1.0.0.0"});
  if (!std::equal(kOne, kOne + 4, img.version->productVersion))
    out.push_back({"version-resource",
                   "product version " + version4(img.version->productVersion) + ", expected 1.0.0.0"});
}

void checkRuntimeSections(const Image& img, std::vector<Violation>& out) {
  for (const Section& s : img.sections)
    if (isRuntimeSection(s.name) && (s.virtualSize != 0 || s.rawSize != 0))
      out.push_back({"runtime-sections", s.name + " has content (" + hex(s.extent()) +
                                             " bytes); the module must not need runtime start-up or unwinding"});
}

// ---- isa ----------------------------------------------------------------------------------------

constexpr size_t kMaxIsaReports = 20;

// Instruction groups i686 lacks. CMOV and FPU (fcomi, fcmov) are i686 and allowed.
const std::map<unsigned, const char*>& forbiddenGroups() {
  static const std::map<unsigned, const char*> groups = {
      {X86_GRP_MMX, "MMX"},       {X86_GRP_3DNOW, "3DNow!"},    {X86_GRP_SSE1, "SSE"},
      {X86_GRP_SSE2, "SSE2"},     {X86_GRP_SSE3, "SSE3"},       {X86_GRP_SSSE3, "SSSE3"},
      {X86_GRP_SSE41, "SSE4.1"},  {X86_GRP_SSE42, "SSE4.2"},    {X86_GRP_SSE4A, "SSE4a"},
      {X86_GRP_AVX, "AVX"},       {X86_GRP_AVX2, "AVX2"},       {X86_GRP_AVX512, "AVX-512"},
      {X86_GRP_FMA, "FMA"},       {X86_GRP_FMA4, "FMA4"},       {X86_GRP_F16C, "F16C"},
      {X86_GRP_XOP, "XOP"},       {X86_GRP_AES, "AES"},         {X86_GRP_PCLMUL, "PCLMUL"},
      {X86_GRP_SHA, "SHA"},       {X86_GRP_BMI, "BMI"},         {X86_GRP_BMI2, "BMI2"},
      {X86_GRP_ADX, "ADX"},       {X86_GRP_TBM, "TBM"},         {X86_GRP_CDI, "AVX-512"},
      {X86_GRP_ERI, "AVX-512"},   {X86_GRP_PFI, "AVX-512"},     {X86_GRP_DQI, "AVX-512"},
      {X86_GRP_BWI, "AVX-512"},   {X86_GRP_VLX, "AVX-512"}};
  return groups;
}

// Instructions capstone 4 files under no extension group (or only under FPU) that i686 lacks.
const char* forbiddenMnemonic(std::string_view m) {
  if (m == "fisttp" || m == "fisttpll") return "SSE3";
  if (m == "popcnt" || m == "lzcnt") return "ABM";
  if (m == "movbe") return "MOVBE";
  return nullptr;
}

bool isVectorRegister(unsigned reg) {
  return (reg >= X86_REG_MM0 && reg <= X86_REG_MM7) || (reg >= X86_REG_XMM0 && reg <= X86_REG_XMM31) ||
         (reg >= X86_REG_YMM0 && reg <= X86_REG_YMM31) || (reg >= X86_REG_ZMM0 && reg <= X86_REG_ZMM31) ||
         (reg >= X86_REG_K0 && reg <= X86_REG_K7);
}

// Why the instruction does not belong on i686, or nullptr if it does.
const char* isaProblem(const cs_insn& insn) {
  std::string_view mnemonic = insn.mnemonic;
  if (mnemonic == "pause") return nullptr;  // runs as rep nop on older processors
  if (const char* m = forbiddenMnemonic(mnemonic)) return m;
  const cs_detail& d = *insn.detail;
  for (uint8_t i = 0; i < d.groups_count; ++i) {
    auto it = forbiddenGroups().find(d.groups[i]);
    if (it != forbiddenGroups().end()) return it->second;
  }
  for (uint8_t i = 0; i < d.x86.op_count; ++i) {
    const cs_x86_op& op = d.x86.operands[i];
    if ((op.type == X86_OP_REG && isVectorRegister(op.reg)) ||
        (op.type == X86_OP_MEM && (isVectorRegister(op.mem.base) || isVectorRegister(op.mem.index))))
      return "vector register";
  }
  for (uint8_t i = 0; i < d.regs_read_count; ++i)
    if (isVectorRegister(d.regs_read[i])) return "vector register";
  for (uint8_t i = 0; i < d.regs_write_count; ++i)
    if (isVectorRegister(d.regs_write[i])) return "vector register";
  return nullptr;
}

struct Capstone {
  csh handle = 0;
  cs_insn* insn = nullptr;
  bool ok = false;
  Capstone() {
    if (cs_open(CS_ARCH_X86, CS_MODE_32, &handle) != CS_ERR_OK) return;
    cs_option(handle, CS_OPT_DETAIL, CS_OPT_ON);
    insn = cs_malloc(handle);
    ok = insn != nullptr;
  }
  ~Capstone() {
    if (insn) cs_free(insn, 1);
    if (handle) cs_close(&handle);
  }
};

// Sweeps every executable section linearly. Tolerated between functions: int3 and nop (they decode),
// runs of two or more zero bytes, and the linker's constructor/destructor lists (a 0xFFFFFFFF word,
// entries, a zero word; ld places them in .text), whose entries are reported separately.
// Anything else that does not decode is reported as undecodable.
void checkCode(const Image& img, std::vector<Violation>& out) {
  Capstone cs;
  if (!cs.ok) {
    out.push_back({"isa", "cannot start the disassembler"});
    return;
  }
  std::vector<std::string> findings;
  auto symbolAt = [&img](uint32_t rva) -> std::string {
    for (const Symbol& s : img.symbols)
      if (s.section >= 1 && static_cast<size_t>(s.section) <= img.sections.size() &&
          img.sections[static_cast<size_t>(s.section) - 1].virtualAddress + s.value == rva && !s.name.empty() &&
          s.name[0] != '.')
        return s.name;
    return {};
  };

  for (const Section& s : img.sections) {
    if (!s.executable()) continue;
    std::span<const uint8_t> code;
    try {
      code = img.rvaBytes(s.virtualAddress, s.fileBacked());
    } catch (const Error& e) {
      findings.push_back(s.name + ": " + e.what());
      continue;
    }
    size_t off = 0, badStart = 0, badCount = 0;
    auto flushBad = [&] {
      if (badCount == 0) return;
      findings.push_back(s.name + " RVA " + hex(s.virtualAddress + badStart) + ": " + std::to_string(badCount) +
                         " undecodable byte(s), first " + hex(code[badStart]));
      badCount = 0;
    };
    while (off < code.size()) {
      size_t left = code.size() - off;
      uint32_t rva = static_cast<uint32_t>(s.virtualAddress + off);
      if (code[off] == 0) {
        size_t run = 1;
        while (run < left && code[off + run] == 0) ++run;
        if (run >= 2 || run == left) {
          flushBad();
          off += run;
          continue;
        }
      }
      if (left >= 8 && detail::le32(code, off) == 0xFFFFFFFF) {
        size_t end = off + 4;
        while (end + 4 <= code.size() && detail::le32(code, end) != 0) end += 4;
        if (end + 4 <= code.size()) {
          flushBad();
          size_t entries = (end - off - 4) / 4;
          if (entries != 0) {
            std::string name = symbolAt(rva);
            out.push_back({"static-constructors",
                           std::to_string(entries) + " entry(ies) in the " + (name.empty() ? "linker list" : name) +
                               " at RVA " + hex(rva) + " in " + s.name +
                               "; the module has no runtime to run static constructors or destructors"});
          }
          off = end + 4;
          continue;
        }
      }
      const uint8_t* p = code.data() + off;
      size_t size = left;
      uint64_t address = rva;
      if (!cs_disasm_iter(cs.handle, &p, &size, &address, cs.insn)) {
        if (badCount++ == 0) badStart = off;
        ++off;
        continue;
      }
      flushBad();
      if (const char* why = isaProblem(*cs.insn)) {
        std::string text = cs.insn->mnemonic;
        if (cs.insn->op_str[0]) text += std::string(" ") + cs.insn->op_str;
        findings.push_back(s.name + " RVA " + hex(rva) + ": " + text + " (" + why + ")");
      }
      off += cs.insn->size;
    }
    flushBad();
  }

  for (size_t i = 0; i < findings.size() && i < kMaxIsaReports; ++i) out.push_back({"isa", findings[i]});
  if (findings.size() > kMaxIsaReports)
    out.push_back({"isa", std::to_string(findings.size() - kMaxIsaReports) + " more isa finding(s) not listed (" +
                              std::to_string(findings.size()) + " in total)"});
}

}  // namespace

std::vector<Violation> checkModule(const Image& img) {
  std::vector<Violation> out;
  checkHeaders(img, out);
  checkExports(img, out);
  checkImports(img, out);
  checkRelocations(img, out);
  checkVersion(img, out);
  checkRuntimeSections(img, out);
  checkCode(img, out);
  return out;
}

}  // namespace pe
