// parse(): headers, section table, COFF symbols, exports, imports and base relocations.
// Resources are read in resources.cpp.
#include <algorithm>

#include "pe/pe.h"
#include "pe/util.h"

namespace pe {

using detail::cstringAt;
using detail::hex;
using detail::le16;
using detail::le32;
using detail::withContext;

namespace {

constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr size_t kCoffHeaderSize = 20;
constexpr size_t kPe32OptionalHeaderBase = 96;  // optional header up to the data directories
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kSymbolSize = 18;
constexpr unsigned kMaxSections = 96;  // the Windows loader's own limit
constexpr size_t kMaxImportDescriptors = 1024;
constexpr size_t kMaxImports = 65536;
constexpr uint32_t kMaxExports = 65536;
constexpr size_t kMaxNameLength = 4096;

class Parser {
 public:
  explicit Parser(Image& img) : img_(img), file_(img.file) {}

  void run() {
    readHeaders();
    readSections();
    readSymbols();
    resolveLongSectionNames();
    readExports();
    readImports();
    readRelocations();
    detail::parseResources(img_);
  }

 private:
  Image& img_;
  std::span<const uint8_t> file_;
  uint32_t sectionTable_ = 0;
  uint16_t sectionCount_ = 0;
  uint32_t symbolTable_ = 0, symbolCount_ = 0;
  std::span<const uint8_t> strings_;  // COFF string table, including its 4-byte size

  void needFile(uint64_t off, uint64_t n, const std::string& what) const {
    if (!detail::fits(file_, off, n))
      throw Error("truncated: " + what + " ends at " + hex(off + n) + " beyond the file size " +
                  hex(file_.size()));
  }

  void readHeaders() {
    if (file_.empty()) throw Error("empty file");
    if (file_.size() < 2 || file_[0] != 'M' || file_[1] != 'Z')
      throw Error("not a PE file (no MZ signature)");
    needFile(0, 0x40, "DOS header");
    uint32_t peOff = le32(file_, 0x3C);
    if (!detail::fits(file_, peOff, 4))
      throw Error("not a PE file (PE header offset " + hex(peOff) + " is beyond the file size " +
                  hex(file_.size()) + ")");
    if (le32(file_, peOff) != 0x00004550)
      throw Error("not a PE file (no PE signature at " + hex(peOff) + ")");

    uint64_t coff = uint64_t{peOff} + 4;
    needFile(coff, kCoffHeaderSize, "COFF header");
    img_.machine = le16(file_, coff);
    sectionCount_ = le16(file_, coff + 2);
    img_.timeDateStamp = le32(file_, coff + 4);
    symbolTable_ = le32(file_, coff + 8);
    symbolCount_ = le32(file_, coff + 12);
    uint16_t optSize = le16(file_, coff + 16);
    img_.characteristics = le16(file_, coff + 18);

    uint64_t opt = coff + kCoffHeaderSize;
    if (optSize < 2) throw Error("no optional header (size " + hex(optSize) + "): not an image file");
    needFile(opt, 2, "optional header");
    img_.magic = le16(file_, opt);
    if (img_.magic == kMagicPe32Plus) throw Error("PE32+ (64-bit) images are not supported");
    if (img_.magic != kMagicPe32) throw Error("unknown optional header magic " + hex(img_.magic));
    if (optSize < kPe32OptionalHeaderBase)
      throw Error("optional header size " + hex(optSize) + " is too small for PE32 (" +
                  hex(kPe32OptionalHeaderBase) + ")");
    needFile(opt, optSize, "optional header");

    img_.entryRva = le32(file_, opt + 16);
    img_.imageBase = le32(file_, opt + 28);
    img_.sectionAlignment = le32(file_, opt + 32);
    img_.fileAlignment = le32(file_, opt + 36);
    img_.majorOsVersion = le16(file_, opt + 40);
    img_.minorOsVersion = le16(file_, opt + 42);
    img_.majorSubsystemVersion = le16(file_, opt + 48);
    img_.minorSubsystemVersion = le16(file_, opt + 50);
    img_.sizeOfImage = le32(file_, opt + 56);
    img_.sizeOfHeaders = le32(file_, opt + 60);
    img_.subsystem = le16(file_, opt + 68);
    img_.dllCharacteristics = le16(file_, opt + 70);
    uint32_t dirCount = std::min<uint32_t>(le32(file_, opt + 92), 16);
    if (kPe32OptionalHeaderBase + 8 * dirCount > optSize)
      throw Error("optional header size " + hex(optSize) + " cannot hold its " +
                  std::to_string(dirCount) + " data directories");
    for (uint32_t i = 0; i < dirCount; ++i) {
      img_.directories[i].rva = le32(file_, opt + kPe32OptionalHeaderBase + 8 * i);
      img_.directories[i].size = le32(file_, opt + kPe32OptionalHeaderBase + 8 * i + 4);
    }

    if (img_.sizeOfImage > kMaxImageSize)
      throw Error("image size " + hex(img_.sizeOfImage) + " exceeds the limit " + hex(kMaxImageSize));
    if (img_.sizeOfHeaders > img_.sizeOfImage)
      throw Error("headers size " + hex(img_.sizeOfHeaders) + " exceeds the image size " +
                  hex(img_.sizeOfImage));
    if (sectionCount_ > kMaxSections)
      throw Error(std::to_string(sectionCount_) + " sections (at most " + std::to_string(kMaxSections) +
                  " are allowed)");
    sectionTable_ = static_cast<uint32_t>(opt + optSize);
  }

  void readSymbols() {
    if (symbolTable_ == 0 || symbolCount_ == 0) return;
    uint64_t tableSize = uint64_t{symbolCount_} * kSymbolSize;
    if (!detail::fits(file_, symbolTable_, tableSize))
      throw Error("truncated: COFF symbol table (" + std::to_string(symbolCount_) + " symbols at " +
                  hex(symbolTable_) + ") ends at " + hex(symbolTable_ + tableSize) +
                  " beyond the file size " + hex(file_.size()));
    uint64_t strOff = symbolTable_ + tableSize;
    if (detail::fits(file_, strOff, 4)) {
      uint32_t strSize = le32(file_, strOff);
      if (strSize >= 4) {
        needFile(strOff, strSize, "COFF string table");
        strings_ = file_.subspan(strOff, strSize);
      }
    }
    for (uint32_t i = 0; i < symbolCount_; ++i) {
      size_t off = symbolTable_ + size_t{i} * kSymbolSize;
      Symbol s;
      if (le32(file_, off) == 0)
        s.name = longName(le32(file_, off + 4), "symbol " + std::to_string(i));
      else
        s.name = shortName(off);
      s.value = le32(file_, off + 8);
      s.section = static_cast<int16_t>(le16(file_, off + 12));
      s.type = le16(file_, off + 14);
      s.storageClass = file_[off + 16];
      i += file_[off + 17];  // auxiliary records follow the primary one
      img_.symbols.push_back(std::move(s));
    }
  }

  // Section names longer than 8 characters are "/<decimal offset>" into the COFF string table.
  void resolveLongSectionNames() {
    for (Section& s : img_.sections)
      if (s.name.size() > 1 && s.name[0] == '/' && !strings_.empty() &&
          std::all_of(s.name.begin() + 1, s.name.end(), [](char c) { return c >= '0' && c <= '9'; }))
        s.name = longName(static_cast<uint32_t>(std::stoul(s.name.substr(1))), "section " + s.name);
  }

  std::string shortName(size_t off) const {
    auto name = file_.subspan(off, 8);
    return std::string(name.begin(), std::find(name.begin(), name.end(), 0));
  }

  std::string longName(uint32_t offset, const std::string& what) const {
    if (offset < 4 || offset >= strings_.size())
      throw Error(what + ": name offset " + hex(offset) + " is outside the COFF string table (size " +
                  hex(strings_.size()) + ")");
    auto rest = strings_.subspan(offset);
    auto nul = std::find(rest.begin(), rest.end(), 0);
    if (nul == rest.end() || nul - rest.begin() > static_cast<std::ptrdiff_t>(kMaxNameLength))
      throw Error(what + ": name at string table offset " + hex(offset) + " is not terminated");
    return std::string(rest.begin(), nul);
  }

  void readSections() {
    needFile(sectionTable_, uint64_t{sectionCount_} * kSectionHeaderSize, "section table");
    for (unsigned i = 0; i < sectionCount_; ++i) {
      size_t off = sectionTable_ + i * kSectionHeaderSize;
      Section s;
      s.name = shortName(off);
      s.virtualSize = le32(file_, off + 8);
      s.virtualAddress = le32(file_, off + 12);
      s.rawSize = le32(file_, off + 16);
      s.rawOffset = le32(file_, off + 20);
      s.characteristics = le32(file_, off + 36);
      if (s.rawSize != 0 && !detail::fits(file_, s.rawOffset, s.rawSize))
        throw Error("truncated: section " + s.name + " raw data ends at " +
                    hex(uint64_t{s.rawOffset} + s.rawSize) + " beyond the file size " + hex(file_.size()));
      if (s.virtualAddress < img_.sizeOfHeaders)
        throw Error("section " + s.name + " at RVA " + hex(s.virtualAddress) + " overlaps the headers (" +
                    hex(img_.sizeOfHeaders) + " bytes)");
      if (uint64_t{s.virtualAddress} + s.extent() > img_.sizeOfImage)
        throw Error("section " + s.name + " ends at RVA " + hex(uint64_t{s.virtualAddress} + s.extent()) +
                    " beyond the image size " + hex(img_.sizeOfImage));
      if (!img_.sections.empty()) {
        const Section& prev = img_.sections.back();
        if (s.virtualAddress < uint64_t{prev.virtualAddress} + prev.extent())
          throw Error("section " + s.name + " at RVA " + hex(s.virtualAddress) + " overlaps section " +
                      prev.name + " (" + hex(prev.virtualAddress) + "-" +
                      hex(uint64_t{prev.virtualAddress} + prev.extent()) + ")");
      }
      img_.sections.push_back(std::move(s));
    }
  }

  // Bytes of a data directory; throws if the directory is not inside the file.
  std::span<const uint8_t> directoryBytes(unsigned index, const char* what) const {
    const Image::Directory& d = img_.directories[index];
    return withContext(std::string(what) + " directory at RVA " + hex(d.rva) + " (size " + hex(d.size) + ")",
                       [&] { return img_.rvaBytes(d.rva, d.size); });
  }

  uint32_t rva32(uint32_t rva, const std::string& what) const {
    return withContext(what, [&] { return le32(img_.rvaBytes(rva, 4), 0); });
  }

  void readExports() {
    const Image::Directory& d = img_.directories[kExportDirectory];
    if (d.rva == 0) return;
    directoryBytes(kExportDirectory, "export");
    withContext("export table", [&] {
      auto dir = img_.rvaBytes(d.rva, 40);
      uint32_t base = le32(dir, 16);
      uint32_t functionCount = le32(dir, 20), nameCount = le32(dir, 24);
      uint32_t functionsRva = le32(dir, 28), namesRva = le32(dir, 32), ordinalsRva = le32(dir, 36);
      if (functionCount > kMaxExports || nameCount > kMaxExports)
        throw Error("too many entries (" + std::to_string(functionCount) + " functions, " +
                    std::to_string(nameCount) + " names)");
      auto functions = img_.rvaBytes(functionsRva, functionCount * 4);
      auto names = img_.rvaBytes(namesRva, nameCount * 4);
      auto ordinals = img_.rvaBytes(ordinalsRva, nameCount * 2);
      if (functionCount != 0 && uint64_t{base} + functionCount - 1 > 0xFFFF)
        throw Error("ordinal base " + std::to_string(base) + " puts ordinals beyond 65535");
      std::vector<bool> named(functionCount, false);
      for (uint32_t i = 0; i < nameCount; ++i) {
        uint16_t index = le16(ordinals, 2 * i);
        if (index >= functionCount)
          throw Error("name " + std::to_string(i) + " refers to function " + std::to_string(index) +
                      " of " + std::to_string(functionCount));
        Export e;
        e.name = cstringAt(img_, le32(names, 4 * i), kMaxNameLength, "export name " + std::to_string(i));
        e.ordinal = static_cast<uint16_t>(base + index);
        e.rva = le32(functions, 4 * index);
        named[index] = true;
        img_.exports.push_back(std::move(e));
      }
      for (uint32_t i = 0; i < functionCount; ++i) {
        uint32_t rva = le32(functions, 4 * i);
        if (!named[i] && rva != 0) img_.exports.push_back({"", static_cast<uint16_t>(base + i), rva});
      }
    });
  }

  void readImports() {
    const Image::Directory& d = img_.directories[kImportDirectory];
    if (d.rva == 0) return;
    directoryBytes(kImportDirectory, "import");
    for (size_t i = 0;; ++i) {
      if (i == kMaxImportDescriptors)
        throw Error("import table: more than " + std::to_string(kMaxImportDescriptors) +
                    " DLLs (no terminating entry)");
      std::string what = "import descriptor " + std::to_string(i);
      uint64_t descRva = uint64_t{d.rva} + 20 * i;
      if (descRva > 0xFFFFFFFF) throw Error("import table runs past the end of the image");
      auto desc = withContext(what, [&] { return img_.rvaBytes(static_cast<uint32_t>(descRva), 20); });
      uint32_t lookupRva = le32(desc, 0), nameRva = le32(desc, 12), iatRva = le32(desc, 16);
      if (nameRva == 0 && iatRva == 0) break;
      if (nameRva == 0) throw Error(what + " has no DLL name");
      if (iatRva == 0) throw Error(what + " has no import address table");
      std::string dll = cstringAt(img_, nameRva, 256, what + " DLL name");
      withContext("imports from " + dll, [&] { readThunks(dll, lookupRva ? lookupRva : iatRva, iatRva); });
    }
  }

  void readThunks(const std::string& dll, uint32_t lookupRva, uint32_t iatRva) {
    for (uint32_t j = 0;; ++j) {
      if (img_.imports.size() >= kMaxImports)
        throw Error("more than " + std::to_string(kMaxImports) + " imports");
      uint64_t slot = uint64_t{lookupRva} + 4 * j;
      uint64_t iat = uint64_t{iatRva} + 4 * j;
      if (slot > 0xFFFFFFFF || iat > 0xFFFFFFFF) throw Error("lookup table runs past the end of the image");
      uint32_t entry = rva32(static_cast<uint32_t>(slot), "lookup entry " + std::to_string(j));
      if (entry == 0) break;
      // The loader writes the slot, so it must lie in the image's file-backed data.
      withContext("IAT slot " + std::to_string(j), [&] { img_.rvaBytes(static_cast<uint32_t>(iat), 4); });
      Import imp;
      imp.dll = dll;
      imp.iatRva = static_cast<uint32_t>(iat);
      if (entry & 0x80000000u) {
        imp.byOrdinal = true;
        imp.ordinal = static_cast<uint16_t>(entry);
        imp.function = "#" + std::to_string(imp.ordinal);
      } else {
        auto hint = withContext("hint/name entry " + std::to_string(j), [&] { return img_.rvaBytes(entry, 2); });
        imp.hint = le16(hint, 0);
        imp.function = cstringAt(img_, entry + 2, kMaxNameLength, "import name " + std::to_string(j));
      }
      img_.imports.push_back(std::move(imp));
    }
  }

  void readRelocations() {
    const Image::Directory& d = img_.directories[kBaseRelocationDirectory];
    if (d.rva == 0 || d.size == 0) return;
    auto data = directoryBytes(kBaseRelocationDirectory, "base relocation");
    size_t off = 0;
    while (data.size() - off >= 8) {
      uint32_t page = le32(data, off), blockSize = le32(data, off + 4);
      if (page == 0 && blockSize == 0) break;  // some linkers end the list with an empty block
      if (blockSize < 8 || blockSize > data.size() - off)
        throw Error("base relocation block at offset " + hex(off) + " has size " + hex(blockSize) +
                    " (the directory has " + hex(data.size() - off) + " bytes left)");
      for (size_t e = off + 8; e + 2 <= off + blockSize; e += 2) {
        uint16_t entry = le16(data, e);
        uint8_t type = static_cast<uint8_t>(entry >> 12);
        if (type == kRelocAbsolute) continue;
        uint64_t rva = uint64_t{page} + (entry & 0xFFF);
        uint64_t width = type == kRelocHighLow ? 4 : 1;
        if (rva + width > img_.sizeOfImage)
          throw Error("base relocation at RVA " + hex(rva) + " lies outside the image (size " +
                      hex(img_.sizeOfImage) + ")");
        img_.relocations.push_back({static_cast<uint32_t>(rva), type});
      }
      off += blockSize;
    }
  }
};

}  // namespace

Image parse(std::vector<uint8_t> bytes) {
  if (bytes.size() > kMaxFileSize)
    throw Error("file size " + hex(bytes.size()) + " exceeds the limit " + hex(kMaxFileSize));
  Image img;
  img.file = std::move(bytes);
  Parser(img).run();
  return img;
}

}  // namespace pe
