#include "pe_builder.h"

#include <algorithm>
#include <stdexcept>

namespace pe_test {

namespace {

constexpr uint32_t kSectionAlignment = 0x1000;
constexpr uint32_t kFileAlignment = 0x200;
constexpr uint32_t kHeadersSize = 0x400;
constexpr uint32_t kPeOffset = 0x80;

uint32_t alignUp(uint32_t v, uint32_t a) { return (v + a - 1) / a * a; }

// Growable byte buffer with little-endian writers.
struct Blob {
  Bytes b;
  size_t size() const { return b.size(); }
  void reserve(size_t n) {
    if (b.size() < n) b.resize(n, 0);
  }
  void put8(size_t off, uint8_t v) {
    reserve(off + 1);
    b[off] = v;
  }
  void put16(size_t off, uint16_t v) {
    put8(off, static_cast<uint8_t>(v));
    put8(off + 1, static_cast<uint8_t>(v >> 8));
  }
  void put32(size_t off, uint32_t v) {
    put16(off, static_cast<uint16_t>(v));
    put16(off + 2, static_cast<uint16_t>(v >> 16));
  }
  void putBytes(size_t off, const Bytes& v) {
    reserve(off + v.size());
    std::copy(v.begin(), v.end(), b.begin() + static_cast<std::ptrdiff_t>(off));
  }
  void putString(size_t off, const std::string& s) {  // with its NUL
    putBytes(off, Bytes(s.begin(), s.end()));
    put8(off + s.size(), 0);
  }
  void align(size_t a) { reserve((b.size() + a - 1) / a * a); }
};

struct Layout {
  ModulePlan plan;
  std::vector<SectionPlan> sections;
  std::map<std::string, uint32_t> rvas;
  uint32_t nextRva = kSectionAlignment;

  void place(SectionPlan s) {
    rvas[s.name] = nextRva;
    uint32_t vsize = s.virtualSize ? s.virtualSize : static_cast<uint32_t>(s.bytes.size());
    nextRva = alignUp(nextRva + std::max<uint32_t>(vsize, 1), kSectionAlignment);
    sections.push_back(std::move(s));
  }
  uint32_t rva(const Loc& l) const { return rvas.at(l.section) + l.offset; }
  Bytes& bytesOf(const std::string& name) {
    for (auto& s : sections)
      if (s.name == name) return s.bytes;
    throw std::logic_error("no section " + name);
  }
};

Bytes exportSection(const ModulePlan& plan, const Layout& l, uint32_t base) {
  std::vector<const ExportPlan*> sorted;
  for (const auto& e : plan.exports) sorted.push_back(&e);
  std::sort(sorted.begin(), sorted.end(), [](auto* a, auto* b) { return a->name < b->name; });
  uint32_t n = static_cast<uint32_t>(plan.exports.size());
  Blob o;
  uint32_t functions = 40, names = functions + 4 * n, ordinals = names + 4 * n;
  uint32_t strings = ordinals + 2 * n;
  o.reserve(strings);
  o.put32(12, base + strings);  // DLL name
  o.putString(strings, "test.gau");
  o.put32(16, 1);  // ordinal base
  o.put32(20, n);
  o.put32(24, n);
  o.put32(28, base + functions);
  o.put32(32, base + names);
  o.put32(36, base + ordinals);
  for (uint32_t i = 0; i < n; ++i) o.put32(functions + 4 * i, l.rva(plan.exports[i].at));
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t index = static_cast<uint32_t>(sorted[i] - plan.exports.data());
    uint32_t at = static_cast<uint32_t>(o.size());
    o.putString(at, sorted[i]->name);
    o.put32(names + 4 * i, base + at);
    o.put16(ordinals + 2 * i, static_cast<uint16_t>(index));
  }
  return o.b;
}

Bytes importSection(const ModulePlan& plan, uint32_t base) {
  Blob o;
  size_t count = plan.imports.size();
  o.reserve(20 * (count + 1));
  for (size_t d = 0; d < count; ++d) {
    const ImportPlan& imp = plan.imports[d];
    size_t k = imp.functions.size();
    o.align(4);
    uint32_t lookup = static_cast<uint32_t>(o.size());
    uint32_t iat = lookup + static_cast<uint32_t>(4 * (k + 1));
    o.reserve(iat + 4 * (k + 1));
    for (size_t j = 0; j < k; ++j) {
      const std::string& f = imp.functions[j];
      uint32_t entry;
      if (f.starts_with("#")) {
        entry = 0x80000000u | static_cast<uint32_t>(std::stoul(f.substr(1)));
      } else {
        o.align(2);
        uint32_t at = static_cast<uint32_t>(o.size());
        o.put16(at, static_cast<uint16_t>(j));  // hint
        o.putString(at + 2, f);
        entry = base + at;
      }
      o.put32(lookup + 4 * j, entry);
      o.put32(iat + 4 * j, entry);
    }
    uint32_t name = static_cast<uint32_t>(o.size());
    o.putString(name, imp.dll);
    o.put32(20 * d + 0, base + lookup);
    o.put32(20 * d + 12, base + name);
    o.put32(20 * d + 16, base + iat);
  }
  return o.b;
}

// Three-level tree: types (named first, then ids ascending), names likewise, languages ascending.
Bytes resourceSection(const ModulePlan& plan, uint32_t base) {
  auto less = [](const pe::ResName& a, const pe::ResName& b) {
    if (a.isId != b.isId) return !a.isId;
    return a.isId ? a.id < b.id : a.name < b.name;
  };
  auto same = [](const pe::ResName& a, const pe::ResName& b) {
    return a.isId == b.isId && a.id == b.id && a.name == b.name;
  };
  std::vector<size_t> order(plan.resources.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t x, size_t y) {
    const auto &a = plan.resources[x], &b = plan.resources[y];
    if (!same(a.type, b.type)) return less(a.type, b.type);
    if (!same(a.name, b.name)) return less(a.name, b.name);
    return a.language < b.language;
  });
  // Group into types -> names -> resource indices.
  std::vector<std::pair<pe::ResName, std::vector<std::pair<pe::ResName, std::vector<size_t>>>>> tree;
  for (size_t i : order) {
    const auto& r = plan.resources[i];
    if (tree.empty() || !same(tree.back().first, r.type)) tree.push_back({r.type, {}});
    auto& names = tree.back().second;
    if (names.empty() || !same(names.back().first, r.name)) names.push_back({r.name, {}});
    names.back().second.push_back(i);
  }
  uint32_t pos = 16 + 8 * static_cast<uint32_t>(tree.size());
  std::vector<uint32_t> typeDirs, langDirs;
  for (auto& t : tree) {
    typeDirs.push_back(pos);
    pos += 16 + 8 * static_cast<uint32_t>(t.second.size());
  }
  for (auto& t : tree)
    for (auto& n : t.second) {
      langDirs.push_back(pos);
      pos += 16 + 8 * static_cast<uint32_t>(n.second.size());
    }
  std::vector<uint32_t> dataEntries(plan.resources.size());
  for (size_t i : order) {
    dataEntries[i] = pos;
    pos += 16;
  }
  Blob o;
  o.reserve(pos);
  auto nameField = [&](const pe::ResName& n) -> uint32_t {
    if (n.isId) return n.id;
    uint32_t at = static_cast<uint32_t>(o.size());
    o.put16(at, static_cast<uint16_t>(n.name.size()));
    for (size_t c = 0; c < n.name.size(); ++c) o.put16(at + 2 + 2 * c, static_cast<uint8_t>(n.name[c]));
    return 0x80000000u | at;
  };
  auto directory = [&](uint32_t at, const auto& entries) {  // named entries come first
    size_t named = 0;
    for (const auto& e : entries) named += !e.first.isId;
    o.put16(at + 12, static_cast<uint16_t>(named));
    o.put16(at + 14, static_cast<uint16_t>(entries.size() - named));
  };
  directory(0, tree);
  size_t langIndex = 0;
  for (size_t t = 0; t < tree.size(); ++t) {
    o.put32(16 + 8 * t, nameField(tree[t].first));
    o.put32(16 + 8 * t + 4, 0x80000000u | typeDirs[t]);
    directory(typeDirs[t], tree[t].second);
    for (size_t n = 0; n < tree[t].second.size(); ++n, ++langIndex) {
      auto& [name, items] = tree[t].second[n];
      o.put32(typeDirs[t] + 16 + 8 * n, nameField(name));
      o.put32(typeDirs[t] + 16 + 8 * n + 4, 0x80000000u | langDirs[langIndex]);
      o.put16(langDirs[langIndex] + 14, static_cast<uint16_t>(items.size()));
      for (size_t k = 0; k < items.size(); ++k) {
        o.put32(langDirs[langIndex] + 16 + 8 * k, plan.resources[items[k]].language);
        o.put32(langDirs[langIndex] + 16 + 8 * k + 4, dataEntries[items[k]]);
      }
    }
  }
  for (size_t i : order) {
    o.align(8);
    uint32_t at = static_cast<uint32_t>(o.size());
    o.putBytes(at, plan.resources[i].data);
    o.put32(dataEntries[i], base + at);
    o.put32(dataEntries[i] + 4, static_cast<uint32_t>(plan.resources[i].data.size()));
  }
  return o.b;
}

Bytes relocationSection(const std::vector<std::pair<uint32_t, uint8_t>>& relocs) {
  std::map<uint32_t, std::vector<uint16_t>> pages;
  for (auto [rva, type] : relocs) pages[rva & ~0xFFFu].push_back(static_cast<uint16_t>(type << 12 | (rva & 0xFFF)));
  Blob o;
  for (auto& [page, entries] : pages) {
    if (entries.size() % 2) entries.push_back(0);  // padding entry keeps blocks 4-aligned
    size_t at = o.size();
    o.put32(at, page);
    o.put32(at + 4, static_cast<uint32_t>(8 + 2 * entries.size()));
    for (size_t i = 0; i < entries.size(); ++i) o.put16(at + 8 + 2 * i, entries[i]);
  }
  return o.b;
}

}  // namespace

uint32_t Built::sectionHeader(const std::string& name) const {
  size_t index = 0;
  for (size_t off = sectionTable;; off += 40, ++index) {
    // The section table lists sections in RVA order; map by RVA.
    if (index >= sections.size()) throw std::logic_error("no section " + name);
    uint32_t rva = get32(off + 12);
    if (rva == sections.at(name).rva) return static_cast<uint32_t>(off);
  }
}

uint32_t Built::get32(size_t off) const {
  return static_cast<uint32_t>(bytes.at(off)) | static_cast<uint32_t>(bytes.at(off + 1)) << 8 |
         static_cast<uint32_t>(bytes.at(off + 2)) << 16 | static_cast<uint32_t>(bytes.at(off + 3)) << 24;
}
void Built::put16(size_t off, uint16_t v) {
  bytes.at(off) = static_cast<uint8_t>(v);
  bytes.at(off + 1) = static_cast<uint8_t>(v >> 8);
}
void Built::put32(size_t off, uint32_t v) {
  put16(off, static_cast<uint16_t>(v));
  put16(off + 2, static_cast<uint16_t>(v >> 16));
}

Built build(const ModulePlan& plan) {
  Layout l{plan, {}, {}, kSectionAlignment};
  for (const SectionPlan& s : plan.sections) l.place(s);

  std::vector<std::pair<uint32_t, uint8_t>> relocs;
  for (const AddressPlan& a : plan.addresses) {
    Bytes& b = l.bytesOf(a.at.section);
    uint32_t va = plan.imageBase + l.rva(a.target);
    if (b.size() < a.at.offset + 4) b.resize(a.at.offset + 4);
    for (int i = 0; i < 4; ++i) b[a.at.offset + i] = static_cast<uint8_t>(va >> (8 * i));
    relocs.push_back({l.rva(a.at), pe::kRelocHighLow});
  }
  for (const RelocationPlan& r : plan.relocations) relocs.push_back({l.rva(r.at), r.type});

  std::map<unsigned, std::pair<uint32_t, uint32_t>> dirs;
  auto generated = [&](const char* name, uint32_t characteristics, auto make, unsigned dir) {
    uint32_t base = l.nextRva;
    Bytes b = make(base);
    dirs[dir] = {base, static_cast<uint32_t>(b.size())};
    l.place({name, characteristics, std::move(b), 0});
  };
  if (!plan.exports.empty())
    generated(".edata", 0x40000040, [&](uint32_t base) { return exportSection(plan, l, base); }, pe::kExportDirectory);
  if (!plan.imports.empty())
    generated(".idata", 0xC0000040, [&](uint32_t base) { return importSection(plan, base); }, pe::kImportDirectory);
  if (!plan.resources.empty())
    generated(".rsrc", 0x40000040, [&](uint32_t base) { return resourceSection(plan, base); }, pe::kResourceDirectory);
  if (!relocs.empty())
    generated(".reloc", 0x42000040, [&](uint32_t) { return relocationSection(relocs); }, pe::kBaseRelocationDirectory);
  if (plan.tls) dirs[pe::kTlsDirectory] = {l.rva(*plan.tls), 0x18};

  Built out;
  Blob f;
  f.put8(0, 'M');
  f.put8(1, 'Z');
  f.put32(0x3C, kPeOffset);
  out.peOffset = kPeOffset;
  f.putBytes(kPeOffset, {'P', 'E', 0, 0});
  uint32_t coff = kPeOffset + 4;
  uint32_t opt = coff + 20;
  out.optionalHeader = opt;
  out.sectionTable = opt + 0xE0;
  f.put16(coff, plan.machine);
  f.put16(coff + 2, static_cast<uint16_t>(l.sections.size()));
  f.put32(coff + 4, plan.timeDateStamp);
  f.put16(coff + 16, 0xE0);
  f.put16(coff + 18, plan.characteristics);
  f.put16(opt, plan.magic);
  f.put32(opt + 16, plan.entry ? l.rva(*plan.entry) : 0);
  f.put32(opt + 28, plan.imageBase);
  f.put32(opt + 32, kSectionAlignment);
  f.put32(opt + 36, kFileAlignment);
  f.put16(opt + 40, plan.osMajor);
  f.put16(opt + 42, plan.osMinor);
  f.put16(opt + 48, plan.subsystemMajor);
  f.put16(opt + 50, plan.subsystemMinor);
  f.put32(opt + 56, l.nextRva);
  f.put32(opt + 60, kHeadersSize);
  f.put16(opt + 68, plan.subsystem);
  f.put32(opt + 72, 0x200000);
  f.put32(opt + 76, 0x1000);
  f.put32(opt + 92, 16);
  for (auto& [index, d] : dirs) {
    f.put32(opt + 96 + 8 * index, d.first);
    f.put32(opt + 96 + 8 * index + 4, d.second);
  }
  f.reserve(kHeadersSize);

  // COFF string table (built first so long section names can refer to it).
  Blob strings;
  strings.reserve(4);
  auto longName = [&](const std::string& name) {
    uint32_t at = static_cast<uint32_t>(strings.size());
    strings.putString(at, name);
    return at;
  };

  uint32_t fileOff = kHeadersSize;
  for (size_t i = 0; i < l.sections.size(); ++i) {
    const SectionPlan& s = l.sections[i];
    uint32_t h = out.sectionTable + static_cast<uint32_t>(40 * i);
    std::string shortName = s.name;
    if (s.name.size() > 8) shortName = plan.symbols.empty() ? s.name.substr(0, 8) : "/" + std::to_string(longName(s.name));
    for (size_t c = 0; c < shortName.size() && c < 8; ++c) f.put8(h + c, static_cast<uint8_t>(shortName[c]));
    uint32_t raw = alignUp(static_cast<uint32_t>(s.bytes.size()), kFileAlignment);
    f.put32(h + 8, s.virtualSize ? s.virtualSize : static_cast<uint32_t>(s.bytes.size()));
    f.put32(h + 12, l.rvas[s.name]);
    f.put32(h + 16, raw);
    f.put32(h + 20, raw ? fileOff : 0);
    f.put32(h + 36, s.characteristics);
    out.sections[s.name] = {l.rvas[s.name], raw ? fileOff : 0, raw};
    f.putBytes(fileOff, s.bytes);
    f.reserve(fileOff + raw);
    fileOff += raw;
  }

  if (!plan.symbols.empty()) {
    out.symbolTable = fileOff;
    uint32_t count = 0;
    for (const SymbolPlan& s : plan.symbols) {
      uint32_t at = fileOff + 18 * count;
      if (s.name.size() > 8) {
        f.put32(at, 0);
        f.put32(at + 4, longName(s.name));
      } else {
        for (size_t c = 0; c < s.name.size(); ++c) f.put8(at + c, static_cast<uint8_t>(s.name[c]));
      }
      f.put32(at + 8, s.at.offset);
      int16_t section = 0;
      for (size_t i = 0; i < l.sections.size(); ++i)
        if (l.sections[i].name == s.at.section) section = static_cast<int16_t>(i + 1);
      f.put16(at + 12, static_cast<uint16_t>(section));
      f.put16(at + 14, s.type);
      f.put8(at + 16, s.storageClass);
      f.put8(at + 17, s.auxRecords);
      f.reserve(at + 18 * (1 + s.auxRecords));
      count += 1 + s.auxRecords;
    }
    f.put32(coff + 8, out.symbolTable);
    f.put32(coff + 12, count);
    strings.put32(0, static_cast<uint32_t>(strings.size()));
    f.putBytes(f.size(), strings.b);
  }
  out.bytes = std::move(f.b);
  return out;
}

namespace {

Bytes utf16z(const std::string& s) {
  Bytes b;
  for (char c : s) {
    b.push_back(static_cast<uint8_t>(c));
    b.push_back(0);
  }
  b.push_back(0);
  b.push_back(0);
  return b;
}

// wLength, wValueLength, wType, key, padding, value, padding, children.
Bytes versionBlock(const std::string& key, uint16_t type, const Bytes& value, uint16_t valueLength,
                   const std::vector<Bytes>& children) {
  Blob o;
  o.putBytes(6, utf16z(key));
  o.align(4);
  o.putBytes(o.size(), value);
  for (const Bytes& c : children) {
    o.align(4);
    o.putBytes(o.size(), c);
  }
  o.put16(0, static_cast<uint16_t>(o.size()));
  o.put16(2, valueLength);
  o.put16(4, type);
  return o.b;
}

}  // namespace

Bytes versionResource(std::array<uint16_t, 4> fv, std::array<uint16_t, 4> pv,
                      const std::vector<std::pair<std::string, std::string>>& strings) {
  Blob fixed;
  fixed.put32(0, 0xFEEF04BD);
  fixed.put32(4, 0x00010000);
  fixed.put32(8, uint32_t{fv[0]} << 16 | fv[1]);
  fixed.put32(12, uint32_t{fv[2]} << 16 | fv[3]);
  fixed.put32(16, uint32_t{pv[0]} << 16 | pv[1]);
  fixed.put32(20, uint32_t{pv[2]} << 16 | pv[3]);
  fixed.put32(32, 0x40004);  // VOS__WINDOWS32
  fixed.put32(36, 2);        // VFT_DLL
  fixed.reserve(52);
  std::vector<Bytes> values;
  for (const auto& [k, v] : strings) {
    Bytes text = utf16z(v);
    values.push_back(versionBlock(k, 1, text, static_cast<uint16_t>(text.size() / 2), {}));
  }
  Bytes table = versionBlock("040904B0", 1, {}, 0, values);
  Bytes stringInfo = versionBlock("StringFileInfo", 1, {}, 0, {table});
  Bytes translation = versionBlock("Translation", 0, {0x09, 0x04, 0xB0, 0x04}, 4, {});
  Bytes varInfo = versionBlock("VarFileInfo", 1, {}, 0, {translation});
  return versionBlock("VS_VERSION_INFO", 0, fixed.b, 52, {stringInfo, varInfo});
}

Bytes bitmapResource(int32_t width, int32_t height, uint16_t bits) {
  Blob o;
  o.put32(0, 40);
  o.put32(4, static_cast<uint32_t>(width));
  o.put32(8, static_cast<uint32_t>(height));
  o.put16(12, 1);
  o.put16(14, bits);
  uint32_t colors = bits <= 8 ? 1u << bits : 0;
  uint32_t stride = (static_cast<uint32_t>(width) * bits + 31) / 32 * 4;
  uint32_t rows = static_cast<uint32_t>(height < 0 ? -height : height);
  o.reserve(40 + 4 * colors + stride * rows);
  return o.b;
}

Bytes waveResource(uint32_t samples) {
  Blob o;
  o.putBytes(0, {'R', 'I', 'F', 'F'});
  o.put32(4, 36 + samples);
  o.putBytes(8, {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  o.put32(16, 16);
  o.put16(20, 1);  // PCM
  o.put16(22, 1);
  o.put32(24, 22050);
  o.put32(28, 22050);
  o.put16(32, 1);
  o.put16(34, 8);
  o.putBytes(36, {'d', 'a', 't', 'a'});
  o.put32(40, samples);
  for (uint32_t i = 0; i < samples; ++i) o.put8(44 + i, static_cast<uint8_t>(128 + (i % 16)));
  return o.b;
}

Bytes x87Code() { return {0xDD, 0x00, 0xD8, 0xC9, 0xDB, 0x1C, 0x24, 0xC3}; }

ModulePlan gaugeModule(const Bytes& code) {
  ModulePlan m;
  // Entry routine at 0: mov eax,[esp+4]; mov [moduleInstance],eax; mov eax,1; ret 12.
  Bytes text = {0x8B, 0x44, 0x24, 0x04, 0xA3, 0, 0, 0, 0, 0xB8, 0x01, 0, 0, 0, 0xC2, 0x0C, 0x00};
  text.insert(text.end(), {0xCC, 0xCC, 0xCC});  // int3 padding
  text.push_back(0xC3);                          // ModuleInit at 0x14: ret
  text.resize(0x20, 0x00);                       // zero padding
  text.insert(text.end(), code.begin(), code.end());
  m.sections.push_back({".text", 0x60000020, text, 0});
  Bytes data(0xA8, 0);
  data[0] = 0x13;  // Linkage: module id
  data[0x20] = 0x0F;  // ImportTable: entry id
  data[0x40] = 0x62;  // GaugeHeader: version 610
  data[0x41] = 0x02;
  const std::string name = "TEST-GAUGE";
  std::copy(name.begin(), name.end(), data.begin() + 0x98);
  m.sections.push_back({".data", 0xC0000040, data, 0});
  m.entry = Loc{".text", 0};
  m.addresses = {{{".text", 5}, {".data", 0x30}},  {{".data", 4}, {".text", 0x14}},
                 {{".data", 8}, {".text", 0x14}},  {{".data", 0x18}, {".data", 0x40}},
                 {{".data", 0x44}, {".data", 0x98}}};
  m.exports = {{"Linkage", {".data", 0}}, {"ImportTable", {".data", 0x20}}};
  m.imports = {{"DSOUND.dll", {"DirectSoundCreate"}},
               {"KERNEL32.dll", {"FindResourceA", "LoadResource", "LockResource", "SizeofResource"}},
               {"USER32.dll", {"GetForegroundWindow"}}};
  m.resources = {
      {pe::ResName::fromId(2), pe::ResName::fromId(1000), 0x409, bitmapResource(16, 8, 8)},
      {pe::ResName::fromId(2), pe::ResName::fromId(1000), 0x407, bitmapResource(8, 4, 4)},
      {pe::ResName::fromName("WAVE"), pe::ResName::fromId(5), 0x409, waveResource(100)},
      {pe::ResName::fromName("WAVE"), pe::ResName::fromName("CLICK"), 0x409, waveResource(10)},
      {pe::ResName::fromId(16), pe::ResName::fromId(1), 0x409,
       versionResource({1, 0, 0, 0}, {1, 0, 0, 0},
                       {{"FileDescription", "Test gauge"}, {"ProductVersion", "1.0.0.0"}})}};
  m.symbols = {{"_Linkage", {".data", 0}},
               {"_ImportTable", {".data", 0x20}},
               {"_ModuleEntry@12", {".text", 0}, 2, 0x20},
               {".text", {".text", 0}, 3, 0, 1}};
  return m;
}

}  // namespace pe_test
