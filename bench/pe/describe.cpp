// describe(): the readable dump behind `gaugebench info`.
#include <ctime>
#include <map>
#include <sstream>

#include "pe/pe.h"
#include "pe/util.h"

namespace pe {

using detail::hex;

std::string machineName(uint16_t machine) {
  switch (machine) {
    case 0x14C: return "i386";
    case 0x8664: return "x86-64";
    case 0x1C0: return "ARM";
    case 0x1C4: return "ARM Thumb-2";
    case 0xAA64: return "ARM64";
    case 0x200: return "IA-64";
    default: return "";
  }
}

std::string resourceTypeName(const ResName& type) {
  if (!type.isId) return type.name;
  static const std::map<uint16_t, const char*> names = {
      {1, "CURSOR"},      {2, "BITMAP"},        {3, "ICON"},          {4, "MENU"},    {5, "DIALOG"},
      {6, "STRING"},      {7, "FONTDIR"},       {8, "FONT"},          {9, "ACCELERATOR"},
      {10, "RCDATA"},     {11, "MESSAGETABLE"}, {12, "GROUP_CURSOR"}, {14, "GROUP_ICON"},
      {16, "VERSION"},    {24, "MANIFEST"}};
  auto it = names.find(type.id);
  return it == names.end() ? "" : it->second;
}

namespace {

std::string subsystemName(uint16_t s) {
  switch (s) {
    case 1: return "native";
    case 2: return "Windows GUI";
    case 3: return "Windows console";
    default: return "other";
  }
}

std::string sectionFlags(const Section& s) {
  std::string f;
  f += (s.characteristics & kSectionRead) ? 'r' : '-';
  f += s.writable() ? 'w' : '-';
  f += s.executable() ? 'x' : '-';
  if (s.characteristics & kSectionCode) f += " code";
  if (s.characteristics & kSectionInitializedData) f += " data";
  if (s.characteristics & kSectionUninitializedData) f += " bss";
  return f;
}

std::string timestamp(uint32_t t) {
  if (t == 0) return "0";
  std::time_t tt = t;
  std::tm tm{};
  char buf[32];
  if (!gmtime_r(&tt, &tm) || !std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S UTC", &tm)) return hex(t);
  return hex(t) + " (" + buf + ")";
}

std::string version4(const uint16_t v[4]) {
  return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." +
         std::to_string(v[3]);
}

// "W x H x B" from the DIB header at the start of a BITMAP resource (the file header is not stored).
std::string bitmapSummary(std::span<const uint8_t> d) {
  if (d.size() >= 12 && detail::le32(d, 0) == 12)  // BITMAPCOREHEADER
    return std::to_string(detail::le16(d, 4)) + " x " + std::to_string(detail::le16(d, 6)) + " x " +
           std::to_string(detail::le16(d, 10)) + " bits";
  if (d.size() < 16 || detail::le32(d, 0) < 40) return "no DIB header";
  auto width = static_cast<int32_t>(detail::le32(d, 4));
  auto height = static_cast<int32_t>(detail::le32(d, 8));
  std::string s = std::to_string(width) + " x " + std::to_string(height < 0 ? -int64_t{height} : height) +
                  " x " + std::to_string(detail::le16(d, 14)) + " bits";
  if (height < 0) s += " (top-down)";
  return s;
}

}  // namespace

std::string describe(const Image& img) {
  std::ostringstream o;
  std::string machine = machineName(img.machine);
  o << (img.magic == 0x20B ? "PE32+" : "PE32") << " " << (machine.empty() ? "unknown machine" : machine)
    << " (machine " << hex(img.machine) << "), " << (img.isDll() ? "DLL" : "executable") << "\n";
  o << "characteristics     " << hex(img.characteristics) << "\n";
  o << "image base          " << hex(img.imageBase) << "\n";
  o << "size of image       " << hex(img.sizeOfImage) << " (headers " << hex(img.sizeOfHeaders) << ")\n";
  o << "alignment           section " << hex(img.sectionAlignment) << ", file " << hex(img.fileAlignment)
    << "\n";
  o << "entry point         RVA " << hex(img.entryRva);
  if (img.entryRva != 0) {
    o << " (VA " << hex(uint32_t(img.imageBase + img.entryRva)) << ")";
    if (const Section* s = img.sectionAt(img.entryRva)) o << " in " << s->name;
  }
  o << "\n";
  o << "OS version          " << img.majorOsVersion << "." << img.minorOsVersion << "\n";
  o << "subsystem           " << img.subsystem << " (" << subsystemName(img.subsystem) << ") "
    << img.majorSubsystemVersion << "." << img.minorSubsystemVersion << "\n";
  o << "DLL characteristics " << hex(img.dllCharacteristics) << "\n";
  o << "timestamp           " << timestamp(img.timeDateStamp) << "\n";

  o << "sections (" << img.sections.size() << "):\n";
  for (const Section& s : img.sections)
    o << "  " << s.name << "  RVA " << hex(s.virtualAddress) << " size " << hex(s.virtualSize) << "  file "
      << hex(s.rawOffset) << " size " << hex(s.rawSize) << "  " << sectionFlags(s) << "\n";

  o << "exports (" << img.exports.size() << "):\n";
  for (const Export& e : img.exports) {
    o << "  " << (e.name.empty() ? "(by ordinal only)" : e.name) << "  ordinal " << e.ordinal << "  RVA "
      << hex(e.rva);
    if (const Section* s = img.sectionAt(e.rva)) o << " in " << s->name;
    o << "\n";
  }

  o << "imports (" << img.imports.size() << "):\n";
  for (const Import& i : img.imports) {
    o << "  " << i.dll << "!" << i.function;
    if (!i.byOrdinal) o << "  hint " << i.hint;
    o << "  IAT " << hex(i.iatRva) << "\n";
  }

  std::map<uint8_t, size_t> relocTypes;
  for (const Relocation& r : img.relocations) ++relocTypes[r.type];
  o << "relocations         " << img.relocations.size();
  for (auto [type, count] : relocTypes)
    o << (type == kRelocHighLow ? " (" : " (type " + std::to_string(type) + ": ") << count
      << (type == kRelocHighLow ? " HIGHLOW)" : ")");
  o << "\n";
  o << "TLS                 " << (img.hasTls() ? "yes" : "no") << "\n";

  o << "resources (" << img.resources.size() << "):\n";
  for (const Resource& r : img.resources) {
    std::string typeName = resourceTypeName(r.type);
    o << "  " << (typeName.empty() || !r.type.isId ? r.type.str() : typeName + " (" + r.type.str() + ")")
      << " / " << r.name.str() << "  language " << hex(r.language) << "  " << r.size << " bytes";
    if (r.type.isId && r.type.id == 2) {
      try {
        o << "  " << bitmapSummary(img.resourceData(r));
      } catch (const Error& e) {
        o << "  (" << e.what() << ")";
      }
    }
    o << "\n";
  }

  if (img.version) {
    o << "version             file " << version4(img.version->fileVersion) << ", product "
      << version4(img.version->productVersion) << "\n";
    for (const auto& [key, value] : img.version->strings) o << "  " << key << ": " << value << "\n";
  } else {
    o << "version             none\n";
  }
  o << "COFF symbols        " << img.symbols.size() << "\n";
  return o.str();
}

}  // namespace pe
