// A tiny writer of PE32 DLLs for the reader's tests: user sections laid out from RVA 0x1000, then
// generated .edata, .idata, .rsrc and .reloc sections, and optionally a COFF symbol table.
// Built keeps the offsets a test needs to corrupt a file in a precise place.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "pe/pe.h"

namespace pe_test {

using Bytes = std::vector<uint8_t>;

// A place in the image: a section by name and an offset inside it.
struct Loc {
  std::string section;
  uint32_t offset = 0;
};

struct SectionPlan {
  std::string name;  // longer than 8 characters: written as "/n" into the COFF string table
  uint32_t characteristics = 0;
  Bytes bytes;
  uint32_t virtualSize = 0;  // 0: bytes.size()
};

struct ImportPlan {
  std::string dll;
  std::vector<std::string> functions;  // "#N" imports ordinal N
};

struct ExportPlan {
  std::string name;
  Loc at;
};

struct ResourcePlan {
  pe::ResName type, name;
  uint16_t language = 0x409;
  Bytes data;
};

// A 32-bit address of target written at `at`, with its HIGHLOW relocation.
struct AddressPlan {
  Loc at, target;
};

struct RelocationPlan {
  Loc at;
  uint8_t type = pe::kRelocHighLow;
};

struct SymbolPlan {
  std::string name;  // longer than 8 characters: in the string table
  Loc at;
  uint8_t storageClass = 2;
  uint16_t type = 0;
  uint8_t auxRecords = 0;
};

struct ModulePlan {
  uint16_t machine = 0x14C, magic = 0x10B, characteristics = 0x2102, subsystem = 2;
  uint16_t osMajor = 4, osMinor = 0, subsystemMajor = 4, subsystemMinor = 0;
  uint32_t imageBase = 0x10000000, timeDateStamp = 0x36000000;
  std::vector<SectionPlan> sections;
  std::optional<Loc> entry;
  std::vector<ExportPlan> exports;
  std::vector<ImportPlan> imports;
  std::vector<AddressPlan> addresses;
  std::vector<RelocationPlan> relocations;
  std::vector<ResourcePlan> resources;
  std::optional<Loc> tls;  // TLS directory (0x18 bytes) here
  std::vector<SymbolPlan> symbols;
};

struct Built {
  struct Placed {
    uint32_t rva = 0, fileOffset = 0, rawSize = 0;
  };
  Bytes bytes;
  uint32_t peOffset = 0, optionalHeader = 0, sectionTable = 0, symbolTable = 0;
  std::map<std::string, Placed> sections;

  uint32_t rva(const Loc& l) const { return sections.at(l.section).rva + l.offset; }
  uint32_t fileOffset(const Loc& l) const { return sections.at(l.section).fileOffset + l.offset; }
  uint32_t directoryEntry(unsigned index) const { return optionalHeader + 96 + 8 * index; }
  uint32_t sectionHeader(const std::string& name) const;
  uint32_t get32(size_t off) const;
  void put16(size_t off, uint16_t v);
  void put32(size_t off, uint32_t v);
};

Built build(const ModulePlan&);

// Resource payloads.
Bytes versionResource(std::array<uint16_t, 4> fileVersion, std::array<uint16_t, 4> productVersion,
                      const std::vector<std::pair<std::string, std::string>>& strings);
Bytes bitmapResource(int32_t width, int32_t height, uint16_t bits);  // bare DIB, as windres stores it
Bytes waveResource(uint32_t samples);                                // 8-bit mono 22050 Hz RIFF WAVE

// fld qword [eax]; fmul st0, st1; fistp dword [esp]; ret
Bytes x87Code();

// A module that meets every rule of checkModule: entry routine and x87 routine in .text, Linkage and
// ImportTable in .data, the allowed imports, relocations, a BITMAP, a WAVE, a named WAVE and a
// version resource 1.0.0.0, and a few COFF symbols. `code` is appended to .text after the entry
// routine.
ModulePlan gaugeModule(const Bytes& code = x87Code());

}  // namespace pe_test
