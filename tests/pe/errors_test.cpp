// Files parse() and load() must refuse, each with a clear one-line reason.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "pe/pe.h"
#include "pe_builder.h"

using namespace pe_test;

namespace {

const Built& good() {
  static const Built b = build(gaugeModule());
  return b;
}

// File offset of something at `offset` inside the resource directory.
uint32_t rsrc(const Built& b, uint32_t offset) { return b.sections.at(".rsrc").fileOffset + offset; }
// Target offset (high bit cleared) of entry i of the resource directory at `dir`.
uint32_t entryTarget(const Built& b, uint32_t dir, uint32_t i) {
  return b.get32(rsrc(b, dir + 16 + 8 * i + 4)) & 0x7FFFFFFF;
}
// Offset of the language directory of the first type's first name.
uint32_t firstLanguageDirectory(const Built& b) { return entryTarget(b, entryTarget(b, 0, 0), 0); }

struct ErrorCase {
  const char* name;
  std::function<Bytes()> make;
  std::string message;  // the Error must contain this
};

Bytes mutated(const std::function<void(Built&)>& change) {
  Built b = good();
  change(b);
  return b.bytes;
}

Bytes truncatedAt(uint32_t size) {
  Bytes b = good().bytes;
  b.resize(size);
  return b;
}

const std::vector<ErrorCase>& errorCases() {
  static const std::vector<ErrorCase> cases = {
      {"EmptyFile", [] { return Bytes{}; }, "empty file"},
      {"TextFile", [] { std::string t = "Just some text, not a module.\n"; return Bytes(t.begin(), t.end()); },
       "not a PE file (no MZ signature)"},
      {"BareMz", [] { return Bytes{'M', 'Z'}; }, "truncated: DOS header ends at 0x40 beyond the file size 0x2"},
      {"MzWithoutPeSignature",
       [] {
         Bytes b(0x48, 0);
         b[0] = 'M', b[1] = 'Z', b[0x3C] = 0x40, b[0x40] = 'N', b[0x41] = 'E';
         return b;
       },
       "not a PE file (no PE signature at 0x40)"},
      {"PeOffsetBeyondFile", [] { return mutated([](Built& b) { b.put32(0x3C, 0x10000); }); },
       "not a PE file (PE header offset 0x10000 is beyond the file size"},
      {"Pe32Plus", [] { return mutated([](Built& b) { b.put16(b.optionalHeader, 0x20B); }); },
       "PE32+ (64-bit) images are not supported"},
      {"UnknownMagic", [] { return mutated([](Built& b) { b.put16(b.optionalHeader, 0x107); }); },
       "unknown optional header magic 0x107"},
      {"OptionalHeaderTooSmall", [] { return mutated([](Built& b) { b.put16(b.peOffset + 20, 0x40); }); },
       "optional header size 0x40 is too small for PE32"},
      {"TruncatedCoffHeader", [] { return truncatedAt(good().peOffset + 10); },
       "truncated: COFF header ends at 0x98 beyond the file size 0x8a"},
      {"TruncatedOptionalHeader", [] { return truncatedAt(good().optionalHeader + 50); },
       "truncated: optional header ends at 0x178 beyond the file size 0xca"},
      {"TruncatedSectionTable", [] { return truncatedAt(good().sectionTable + 60); },
       "truncated: section table ends at 0x268 beyond the file size 0x1b4"},
      {"TruncatedSectionData", [] { return truncatedAt(good().sections.at(".data").fileOffset + 0x10); },
       "truncated: section .data raw data ends at 0x800 beyond the file size 0x610"},
      {"TruncatedSymbolTable", [] { return truncatedAt(good().symbolTable + 20); },
       "truncated: COFF symbol table (5 symbols at 0x1800) ends at 0x185a beyond the file size 0x1814"},
      {"TooManySections", [] { return mutated([](Built& b) { b.put16(b.peOffset + 6, 0xFFFF); }); },
       "65535 sections (at most 96 are allowed)"},
      {"HugeImage", [] { return mutated([](Built& b) { b.put32(b.optionalHeader + 56, 0x80000000); }); },
       "image size 0x80000000 exceeds the limit"},
      {"SectionBeyondImage", [] { return mutated([](Built& b) { b.put32(b.optionalHeader + 56, 0x3000); }); },
       "section .edata ends at RVA 0x3059 beyond the image size 0x3000"},
      {"OverlappingSections",
       [] { return mutated([](Built& b) { b.put32(b.sectionHeader(".data") + 12, 0x1010); }); },
       "section .data at RVA 0x1010 overlaps section .text (0x1000-0x1028)"},
      {"SectionOverHeaders",
       [] { return mutated([](Built& b) { b.put32(b.sectionHeader(".text") + 12, 0x200); }); },
       "section .text at RVA 0x200 overlaps the headers (0x400 bytes)"},
      {"ExportDirectoryOutsideFile",
       [] { return mutated([](Built& b) { b.put32(b.directoryEntry(pe::kExportDirectory), 0x7FFF0000); }); },
       "export directory at RVA 0x7fff0000 (size 0x59): RVA range 0x7fff0000+0x59 is not backed by the file (in no section)"},
      {"ExportNameOutsideFile",
       [] { return mutated([](Built& b) { b.put32(b.sections.at(".edata").fileOffset + 48, 0x00FFFFFF); }); },
       "export table: export name 0 at RVA 0xffffff is not backed by the file"},
      {"ExportCountHuge",
       [] { return mutated([](Built& b) { b.put32(b.sections.at(".edata").fileOffset + 20, 0x7FFFFFFF); }); },
       "export table: too many entries"},
      {"ExportOrdinalOutOfRange",
       [] { return mutated([](Built& b) { b.put16(b.sections.at(".edata").fileOffset + 56, 7); }); },
       "export table: name 0 refers to function 7 of 2"},
      {"ImportDirectoryOutsideFile",
       [] {
         return mutated([](Built& b) { b.put32(b.directoryEntry(pe::kImportDirectory), b.get32(b.optionalHeader + 56)); });
       },
       "import directory at RVA 0x7000"},
      {"ImportDllNameUnterminated",
       [] {  // point the first DLL name at the last byte of code, which runs into the end of .text's data
         return mutated([](Built& b) { b.put32(b.sections.at(".idata").fileOffset + 12, b.rva({".text", 0x27})); });
       },
       "import descriptor 0 DLL name at RVA 0x1027 is not terminated within 1 bytes"},
      {"ImportNameOutsideFile",
       [] {
         return mutated([](Built& b) {
           uint32_t lookup = b.get32(b.sections.at(".idata").fileOffset) - b.sections.at(".idata").rva;
           b.put32(b.sections.at(".idata").fileOffset + lookup, 0x00FFFF00);
         });
       },
       "imports from DSOUND.dll: hint/name entry 0: RVA range 0xffff00+0x2 is not backed by the file"},
      {"ResourceDirectoryOutsideFile",
       [] { return mutated([](Built& b) { b.put32(b.directoryEntry(pe::kResourceDirectory), 0x00800000); }); },
       "resource directory at RVA 0x800000"},
      {"ResourceDataOutsideFile",
       [] {
         return mutated([](Built& b) {
           uint32_t data = entryTarget(b, firstLanguageDirectory(b), 0);
           b.put32(rsrc(b, data), 0x00800000);
         });
       },
       "resource WAVE/CLICK language 0x409 data at RVA 0x800000 (size 0x36): RVA range"},
      {"ResourceEntryOutsideSection",
       [] { return mutated([](Built& b) { b.put32(rsrc(b, 16 + 4), 0x80000000 | 0x100000); }); },
       "truncated: resource directory at offset 0x100000"},
      {"ResourceTreeLoop",
       [] {  // the first name entry of the first type leads back to the root
         return mutated([](Built& b) { b.put32(rsrc(b, entryTarget(b, 0, 0) + 16 + 4), 0x80000000); });
       },
       "resource tree has a loop: directory at offset 0x0 is reached twice"},
      {"ResourceTreeTooDeep",
       [] {
         return mutated([](Built& b) {
           uint32_t lang = firstLanguageDirectory(b);
           b.put32(rsrc(b, lang + 16 + 4), b.get32(rsrc(b, lang + 16 + 4)) | 0x80000000);
         });
       },
       "resource WAVE/CLICK: the tree is deeper than three levels"},
      {"VersionBlockTooLong",
       [] {
         return mutated([](Built& b) {
           pe::Image img = pe::parse(b.bytes);
           const pe::Resource* v = img.findResource(pe::ResName::fromId(16), pe::ResName::fromId(1));
           b.put16(rsrc(b, v->dataRva - b.sections.at(".rsrc").rva), 0xFFFF);
         });
       },
       "version resource #1: block at offset 0x0 has length 0xffff"},
      {"RelocationBlockOfSizeZero",
       [] { return mutated([](Built& b) { b.put32(b.sections.at(".reloc").fileOffset + 4, 0); }); },
       "base relocation block at offset 0x0 has size 0x0"},
      {"RelocationOutsideImage",
       [] { return mutated([](Built& b) { b.put32(b.sections.at(".reloc").fileOffset, 0x00700000); }); },
       "base relocation at RVA 0x700005 lies outside the image (size 0x7000)"},
      {"SymbolNameOutsideStringTable",
       [] { return mutated([](Built& b) { b.put32(b.symbolTable + 2 * 18 + 4, 0x7FFF); }); },
       "symbol 2: name offset 0x7fff is outside the COFF string table"},
  };
  return cases;
}

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

class PeParseErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(PeParseErrors, RejectsWithClearMessage) {
  Bytes bytes = GetParam().make();
  try {
    pe::parse(bytes);
    FAIL() << "parse accepted the file";
  } catch (const pe::Error& e) {
    EXPECT_NE(std::string(e.what()).find(GetParam().message), std::string::npos) << "message: " << e.what();
    EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, PeParseErrors, ::testing::ValuesIn(errorCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PeLoad, ReportsFileProblemsWithThePath) {
  namespace fs = std::filesystem;
  fs::path dir = fs::path(::testing::TempDir()) / "pe_load_test";
  fs::create_directories(dir);
  fs::path text = dir / "notes.txt", module = dir / "module.gau";
  std::ofstream(text) << "hello";
  std::ofstream(module, std::ios::binary)
      .write(reinterpret_cast<const char*>(good().bytes.data()), static_cast<std::streamsize>(good().bytes.size()));

  auto message = [](const std::string& path) -> std::string {
    try {
      pe::load(path);
    } catch (const pe::Error& e) {
      return e.what();
    }
    return "(loaded)";
  };
  EXPECT_EQ(message((dir / "missing.gau").string()),
            "cannot open " + (dir / "missing.gau").string() + ": No such file or directory");
  EXPECT_EQ(message(dir.string()), "cannot read " + dir.string() + ": is a directory");
  EXPECT_EQ(message(text.string()), text.string() + ": not a PE file (no MZ signature)");
  EXPECT_EQ(pe::load(module.string()).exports.size(), 2u);
  fs::remove_all(dir);
}

}  // namespace
