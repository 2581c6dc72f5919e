#include <cctype>

#include "win32.h"

namespace win32 {

extern const Dll kKernel32;
extern const Dll kUser32;
extern const Dll kDsound;

namespace {

bool SameDllName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

}  // namespace

const Stub* FindStub(std::string_view dll, std::string_view function) {
  for (const Dll* d : {&kKernel32, &kUser32, &kDsound}) {
    if (!SameDllName(d->name, dll)) continue;
    for (const Stub& s : d->stubs)
      if (function == s.name) return &s;
  }
  return nullptr;
}

}  // namespace win32
