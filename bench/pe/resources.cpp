// The resource tree (type / name / language) and the version resource.
#include <algorithm>
#include <set>

#include "pe/pe.h"
#include "pe/util.h"

namespace pe::detail {

namespace {

constexpr size_t kMaxResources = 65536;
constexpr uint16_t kVersionType = 16;
constexpr uint32_t kFixedInfoSignature = 0xFEEF04BD;

// Walks the three levels of the tree. Every offset is relative to the start of the resource
// directory and checked against the file-backed bytes of its section; each directory may be entered
// only once, which rules out loops and shared subtrees.
class TreeReader {
 public:
  TreeReader(Image& img, std::span<const uint8_t> tree) : img_(img), tree_(tree) {}

  void walk(uint32_t off, int level, const ResName& type, const ResName& name) {
    if (!visited_.insert(off).second)
      throw Error("resource tree has a loop: directory at offset " + hex(off) + " is reached twice");
    std::string what = "resource directory at offset " + hex(off);
    need(tree_, off, 16, what);
    uint32_t count = uint32_t{le16(tree_, off + 12)} + le16(tree_, off + 14);
    need(tree_, uint64_t{off} + 16, uint64_t{count} * 8, what + " with " + std::to_string(count) + " entries");
    for (uint32_t i = 0; i < count; ++i) {
      size_t e = off + 16 + size_t{i} * 8;
      uint32_t nameField = le32(tree_, e), target = le32(tree_, e + 4);
      bool isDirectory = (target & 0x80000000u) != 0;
      target &= 0x7FFFFFFFu;
      ResName entryName = readName(nameField);
      if (level < 2) {
        std::string path = level == 0 ? entryName.str() : type.str() + "/" + entryName.str();
        if (!isDirectory) throw Error("resource " + path + ": data entry where a directory belongs");
        if (level == 0)
          walk(target, 1, entryName, {});
        else
          walk(target, 2, type, entryName);
      } else {
        std::string path = type.str() + "/" + name.str();
        if (isDirectory) throw Error("resource " + path + ": the tree is deeper than three levels");
        if (!entryName.isId) throw Error("resource " + path + ": language given by name");
        readData(target, type, name, entryName.id);
      }
    }
  }

 private:
  Image& img_;
  std::span<const uint8_t> tree_;
  std::set<uint32_t> visited_;

  ResName readName(uint32_t field) const {
    if (!(field & 0x80000000u)) return ResName::fromId(static_cast<uint16_t>(field));
    uint32_t off = field & 0x7FFFFFFFu;
    std::string what = "resource name at offset " + hex(off);
    uint16_t length = read16(tree_, off, what);
    need(tree_, uint64_t{off} + 2, uint64_t{length} * 2, what);
    return ResName::fromName(utf16ToUtf8(tree_, off + 2, length));
  }

  void readData(uint32_t off, const ResName& type, const ResName& name, uint16_t language) {
    std::string path = type.str() + "/" + name.str() + " language " + hex(language);
    need(tree_, off, 16, "resource " + path + " data entry at offset " + hex(off));
    if (img_.resources.size() >= kMaxResources)
      throw Error("more than " + std::to_string(kMaxResources) + " resources");
    Resource r{type, name, language, le32(tree_, off), le32(tree_, off + 4), le32(tree_, off + 8)};
    withContext("resource " + path + " data at RVA " + hex(r.dataRva) + " (size " + hex(r.size) + ")",
                [&] { img_.rvaBytes(r.dataRva, r.size); });
    img_.resources.push_back(std::move(r));
  }
};

// One block of a version resource: wLength, wValueLength, wType, a UTF-16 key, then the value and
// the child blocks, each starting on a 4-byte boundary of the resource.
struct VersionBlock {
  size_t end;  // offset just past the block
  std::string key;
  size_t value;  // offset of the value
  uint16_t valueLength;
  uint16_t type;  // 1: text, 0: binary
  size_t children;  // offset of the first child (== end if none)
};

size_t align4(size_t v) { return (v + 3) & ~size_t{3}; }

VersionBlock readBlock(std::span<const uint8_t> d, size_t off, size_t limit) {
  std::string what = "block at offset " + hex(off);
  if (limit - off < 6) throw Error(what + " is cut short by its parent (ends at " + hex(limit) + ")");
  uint16_t length = le16(d, off);
  if (length < 6 || length > limit - off)
    throw Error(what + " has length " + hex(length) + " (its parent leaves " + hex(limit - off) + ")");
  VersionBlock b{off + length, {}, 0, le16(d, off + 2), le16(d, off + 4), 0};
  size_t k = off + 6, n = 0;
  while (k + 2 * n + 2 <= b.end && le16(d, k + 2 * n) != 0) ++n;
  if (k + 2 * n + 2 > b.end) throw Error(what + " has an unterminated key");
  b.key = utf16ToUtf8(d, k, n);
  b.value = std::min(align4(k + 2 * n + 2), b.end);
  size_t valueBytes = b.type == 1 ? size_t{b.valueLength} * 2 : b.valueLength;
  b.children = std::min(align4(b.value + valueBytes), b.end);
  return b;
}

// Calls f for each child block of parent.
template <typename F>
void eachChild(std::span<const uint8_t> d, const VersionBlock& parent, F&& f) {
  for (size_t off = parent.children; off < parent.end;) {
    VersionBlock child = readBlock(d, off, parent.end);
    f(child);
    off = align4(child.end);
  }
}

VersionInfo readVersion(std::span<const uint8_t> d) {
  VersionBlock root = readBlock(d, 0, d.size());
  if (root.key != "VS_VERSION_INFO") throw Error("root key is \"" + root.key + "\", not VS_VERSION_INFO");
  VersionInfo v;
  if (root.valueLength != 0) {
    if (root.valueLength < 52 || root.end - root.value < 52)
      throw Error("fixed file info is " + hex(root.valueLength) + " bytes, expected 0x34");
    if (le32(d, root.value) != kFixedInfoSignature)
      throw Error("fixed file info signature is " + hex(le32(d, root.value)) + ", expected " +
                  hex(kFixedInfoSignature));
    auto words = [&](size_t at, uint16_t out[4]) {
      uint32_t ms = le32(d, at), ls = le32(d, at + 4);
      out[0] = static_cast<uint16_t>(ms >> 16);
      out[1] = static_cast<uint16_t>(ms);
      out[2] = static_cast<uint16_t>(ls >> 16);
      out[3] = static_cast<uint16_t>(ls);
    };
    words(root.value + 8, v.fileVersion);
    words(root.value + 16, v.productVersion);
  }
  eachChild(d, root, [&](const VersionBlock& info) {
    if (info.key != "StringFileInfo") return;
    eachChild(d, info, [&](const VersionBlock& table) {
      eachChild(d, table, [&](const VersionBlock& s) {
        // The value runs to the first NUL or the end of the block; wValueLength is not trusted
        // (tools disagree on whether it counts characters or bytes).
        size_t n = 0;
        while (s.value + 2 * n + 2 <= s.end && le16(d, s.value + 2 * n) != 0) ++n;
        v.strings.emplace_back(s.key, utf16ToUtf8(d, s.value, n));
      });
    });
  });
  return v;
}

}  // namespace

void parseResources(Image& img) {
  const Image::Directory& dir = img.directories[kResourceDirectory];
  if (dir.rva == 0) return;
  withContext("resource directory at RVA " + hex(dir.rva) + " (size " + hex(dir.size) + ")",
              [&] { img.rvaBytes(dir.rva, std::max<uint32_t>(dir.size, 16)); });
  TreeReader reader(img, backedFrom(img, dir.rva));
  reader.walk(0, 0, {}, {});

  for (const Resource& r : img.resources) {
    if (!(r.type.isId && r.type.id == kVersionType)) continue;
    img.version = withContext("version resource " + r.name.str(), [&] { return readVersion(img.resourceData(r)); });
    break;
  }
}

}  // namespace pe::detail
