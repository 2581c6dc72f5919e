// Reader of PE32 files (32-bit Windows executables and DLLs) for the bench.
//
// parse() reads and cross-checks the headers, sections, imports, exports, base relocations,
// resources (with the version resource), the TLS directory and the COFF symbol table. Every
// read is bounds-checked against the file; anything malformed, cyclic or absurdly large is
// rejected with a one-line Error. After a successful parse the section table is known to be
// consistent (sections inside the image, non-overlapping, their raw data inside the file), so
// layout() can place the image without further surprises. The bench maps and relocates the image
// itself; this library only reads and checks.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pe {

struct Error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Largest image (SizeOfImage) and file the bench accepts. Gauge modules are far smaller; the limit
// keeps a corrupt header from making layout() allocate gigabytes.
inline constexpr uint32_t kMaxImageSize = 64u << 20;
inline constexpr uint64_t kMaxFileSize = 256u << 20;

// Data directory slots used here.
enum DirectoryIndex : unsigned {
  kExportDirectory = 0,
  kImportDirectory = 1,
  kResourceDirectory = 2,
  kBaseRelocationDirectory = 5,
  kTlsDirectory = 9,
  kIatDirectory = 12,
};

// Section characteristics.
inline constexpr uint32_t kSectionCode = 0x00000020;
inline constexpr uint32_t kSectionInitializedData = 0x00000040;
inline constexpr uint32_t kSectionUninitializedData = 0x00000080;
inline constexpr uint32_t kSectionExecute = 0x20000000;
inline constexpr uint32_t kSectionRead = 0x40000000;
inline constexpr uint32_t kSectionWrite = 0x80000000;

// COFF header characteristics.
inline constexpr uint16_t kFileRelocsStripped = 0x0001;
inline constexpr uint16_t kFileDll = 0x2000;

// Base relocation types.
inline constexpr uint8_t kRelocAbsolute = 0;  // padding, skipped by the loader (not listed)
inline constexpr uint8_t kRelocHighLow = 3;   // add the load delta to the 32-bit word at rva

struct Section {
  std::string name;
  uint32_t virtualAddress = 0, virtualSize = 0, rawOffset = 0, rawSize = 0, characteristics = 0;
  bool executable() const;  // MEM_EXECUTE or CNT_CODE
  bool writable() const;    // MEM_WRITE
  uint32_t extent() const;      // bytes the section spans in the image (VirtualSize, or SizeOfRawData if 0)
  uint32_t fileBacked() const;  // leading bytes of the section that come from the file
};

struct Import {
  std::string dll;
  std::string function;  // the imported name; "#<ordinal>" for an import by ordinal
  bool byOrdinal = false;
  uint16_t ordinal = 0;
  uint16_t hint = 0;
  uint32_t iatRva = 0;  // RVA of the IAT slot the loader fills
};

struct Export {
  std::string name;  // empty for an export by ordinal only
  uint16_t ordinal = 0;  // biased (ordinal base + index)
  uint32_t rva = 0;
};

struct ResName {
  bool isId = true;
  uint16_t id = 0;
  std::string name;  // UTF-16 name converted to UTF-8
  std::string str() const;  // "#2" or "WAVE"
  static ResName fromId(uint16_t id) { return ResName{true, id, {}}; }
  static ResName fromName(std::string name) { return ResName{false, 0, std::move(name)}; }
  // Ids compare by value, names case-insensitively (as the Windows resource functions do).
  bool matches(const ResName& other) const;
};

struct Resource {
  ResName type, name;
  uint16_t language = 0;
  uint32_t dataRva = 0, size = 0, codePage = 0;
};

struct Relocation {
  uint32_t rva = 0;
  uint8_t type = 0;  // kRelocHighLow; other types are listed as found
};

// One primary record of the COFF symbol table (auxiliary records are skipped).
struct Symbol {
  std::string name;
  uint32_t value = 0;     // offset inside the section for section symbols
  int16_t section = 0;    // 1-based section number; 0 undefined, -1 absolute, -2 debug
  uint8_t storageClass = 0;
  uint16_t type = 0;      // 0x20: function
};

struct VersionInfo {
  uint16_t fileVersion[4] = {}, productVersion[4] = {};
  std::vector<std::pair<std::string, std::string>> strings;  // StringFileInfo key/value, in file order
};

struct Image {
  std::vector<uint8_t> file;
  uint16_t machine = 0, characteristics = 0, magic = 0, subsystem = 0, dllCharacteristics = 0;
  uint16_t majorOsVersion = 0, minorOsVersion = 0, majorSubsystemVersion = 0, minorSubsystemVersion = 0;
  uint32_t timeDateStamp = 0, imageBase = 0, sizeOfImage = 0, sizeOfHeaders = 0, entryRva = 0,
           sectionAlignment = 0, fileAlignment = 0;
  struct Directory {
    uint32_t rva = 0, size = 0;
  } directories[16];
  std::vector<Section> sections;
  std::vector<Import> imports;
  std::vector<Export> exports;
  std::vector<Relocation> relocations;
  std::vector<Resource> resources;
  std::vector<Symbol> symbols;
  std::optional<VersionInfo> version;

  bool isDll() const;
  bool hasTls() const;
  // sizeOfImage bytes: the headers and each section's file data at its RVA, the rest 0.
  std::vector<uint8_t> layout() const;
  const Export* findExport(std::string_view name) const;
  // The first resource (first language) of that type and name, or nullptr.
  const Resource* findResource(const ResName& type, const ResName& name) const;
  // The resource's bytes in the file; throws Error if they are not all inside the file.
  std::span<const uint8_t> resourceData(const Resource&) const;
  // size bytes at rva, read through the headers or one section; throws Error unless every byte
  // comes from the file (zero-filled tails of sections are not backed by the file).
  std::span<const uint8_t> rvaBytes(uint32_t rva, uint32_t size) const;
  const Section* sectionAt(uint32_t rva) const;
  // RVA of a COFF symbol defined in a section, by name; tries the name as given, with a leading
  // '_' added, and with a leading '_' removed.
  std::optional<uint32_t> symbolRva(std::string_view name) const;
};

Image parse(std::vector<uint8_t> bytes);  // throws Error
Image load(const std::string& path);      // throws Error: "cannot open PATH: reason", "PATH: <parse error>"

// Readable multi-line dump for `gaugebench info`.
std::string describe(const Image&);

// Structural checks of a gauge module: one Violation per failed rule instance.
// Rules: pe32-i386, dll, exports, imports, entry-point, os-version, subsystem, subsystem-version,
// relocations, no-tls, version-resource, runtime-sections, static-constructors, isa.
struct Violation {
  std::string rule;
  std::string detail;
};
std::vector<Violation> checkModule(const Image&);

// Name of a machine type or resource type for display ("i386", "BITMAP"), empty if unknown.
std::string machineName(uint16_t machine);
std::string resourceTypeName(const ResName& type);

}  // namespace pe
