// Queries on a parsed Image, and loading a file from disk.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "pe/pe.h"
#include "pe/util.h"

namespace pe {

using detail::hex;

bool Section::executable() const { return (characteristics & (kSectionExecute | kSectionCode)) != 0; }
bool Section::writable() const { return (characteristics & kSectionWrite) != 0; }
uint32_t Section::extent() const { return virtualSize != 0 ? virtualSize : rawSize; }
uint32_t Section::fileBacked() const { return std::min(rawSize, extent()); }

std::string ResName::str() const { return isId ? "#" + std::to_string(id) : name; }

bool ResName::matches(const ResName& other) const {
  if (isId != other.isId) return false;
  if (isId) return id == other.id;
  return std::ranges::equal(name, other.name, [](char a, char b) {
    auto up = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
    return up(a) == up(b);
  });
}

bool Image::isDll() const { return (characteristics & kFileDll) != 0; }

bool Image::hasTls() const {
  return directories[kTlsDirectory].rva != 0 || directories[kTlsDirectory].size != 0;
}

const Section* Image::sectionAt(uint32_t rva) const {
  for (const Section& s : sections)
    if (rva >= s.virtualAddress && rva - s.virtualAddress < s.extent()) return &s;
  return nullptr;
}

std::span<const uint8_t> detail::backedFrom(const Image& img, uint32_t rva) {
  std::span<const uint8_t> file(img.file);
  if (const Section* s = img.sectionAt(rva)) {
    uint64_t off = rva - s->virtualAddress;
    uint64_t start = uint64_t{s->rawOffset} + off;
    uint64_t end = std::min<uint64_t>(uint64_t{s->rawOffset} + s->fileBacked(), file.size());
    if (off >= s->fileBacked() || start >= end) return {};
    return file.subspan(static_cast<size_t>(start), static_cast<size_t>(end - start));
  }
  uint64_t headers = std::min<uint64_t>(img.sizeOfHeaders, file.size());
  if (rva < headers) return file.subspan(rva, static_cast<size_t>(headers - rva));
  return {};
}

std::span<const uint8_t> Image::rvaBytes(uint32_t rva, uint32_t size) const {
  std::span<const uint8_t> tail = detail::backedFrom(*this, rva);
  if (tail.size() < size) {
    std::string where;
    if (const Section* s = sectionAt(rva))
      where = " (section " + s->name + " has " + hex(s->fileBacked()) + " bytes of file data)";
    else if (rva >= sizeOfHeaders)
      where = " (in no section)";
    throw Error("RVA range " + hex(rva) + "+" + hex(size) + " is not backed by the file" + where);
  }
  return tail.first(size);
}

std::string detail::cstringAt(const Image& img, uint32_t rva, size_t maxLen, const std::string& what) {
  std::span<const uint8_t> tail = backedFrom(img, rva);
  if (tail.empty()) throw Error(what + " at RVA " + hex(rva) + " is not backed by the file");
  size_t limit = std::min(tail.size(), maxLen + 1);
  auto nul = std::find(tail.begin(), tail.begin() + static_cast<std::ptrdiff_t>(limit), 0);
  if (nul == tail.begin() + static_cast<std::ptrdiff_t>(limit))
    throw Error(what + " at RVA " + hex(rva) + " is not terminated within " +
                std::to_string(std::min(tail.size(), maxLen)) + " bytes");
  return std::string(tail.begin(), nul);
}

std::vector<uint8_t> Image::layout() const {
  if (sizeOfImage > kMaxImageSize)
    throw Error("image size " + hex(sizeOfImage) + " exceeds the limit " + hex(kMaxImageSize));
  std::vector<uint8_t> out(sizeOfImage, 0);
  size_t headers = std::min<size_t>({sizeOfHeaders, file.size(), out.size()});
  std::copy_n(file.begin(), headers, out.begin());
  for (const Section& s : sections) {
    uint64_t n = s.fileBacked();
    if (uint64_t{s.rawOffset} + n > file.size() || uint64_t{s.virtualAddress} + n > out.size())
      throw Error("section " + s.name + " does not fit the image or the file");
    std::copy_n(file.begin() + s.rawOffset, n, out.begin() + s.virtualAddress);
  }
  return out;
}

const Export* Image::findExport(std::string_view name) const {
  for (const Export& e : exports)
    if (!e.name.empty() && e.name == name) return &e;
  return nullptr;
}

const Resource* Image::findResource(const ResName& type, const ResName& name) const {
  for (const Resource& r : resources)
    if (r.type.matches(type) && r.name.matches(name)) return &r;
  return nullptr;
}

std::span<const uint8_t> Image::resourceData(const Resource& r) const {
  return detail::withContext("resource " + r.type.str() + "/" + r.name.str(),
                             [&] { return rvaBytes(r.dataRva, r.size); });
}

std::optional<uint32_t> Image::symbolRva(std::string_view name) const {
  auto lookup = [this](std::string_view n) -> std::optional<uint32_t> {
    for (const Symbol& s : symbols) {
      if (s.name != n || s.section < 1 || static_cast<size_t>(s.section) > sections.size()) continue;
      return sections[static_cast<size_t>(s.section) - 1].virtualAddress + s.value;
    }
    return std::nullopt;
  };
  if (auto r = lookup(name)) return r;
  if (auto r = lookup("_" + std::string(name))) return r;
  if (!name.empty() && name.front() == '_') return lookup(name.substr(1));
  return std::nullopt;
}

Image load(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw Error("cannot open " + path + ": " + std::strerror(errno));
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) throw Error("cannot read " + path + ": " + std::strerror(errno));
  if (S_ISDIR(st.st_mode)) throw Error("cannot read " + path + ": is a directory");
  if (!S_ISREG(st.st_mode)) throw Error("cannot read " + path + ": not a regular file");
  if (static_cast<uint64_t>(st.st_size) > kMaxFileSize)
    throw Error("cannot read " + path + ": file size " + hex(static_cast<uint64_t>(st.st_size)) +
                " exceeds the limit " + hex(kMaxFileSize));
  std::vector<uint8_t> bytes(static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw Error("cannot read " + path + ": " + std::strerror(errno));
    if (n == 0) break;  // the file shrank under us; parse what we have
    done += static_cast<size_t>(n);
  }
  bytes.resize(done);
  return detail::withContext(path, [&] { return parse(std::move(bytes)); });
}

}  // namespace pe
