// libFuzzer target for the PE reader: any input must parse into a usable Image or throw pe::Error.
// Build with clang (the CMake adds it only then) and run: fuzz_pe -max_total_time=60 CORPUS_DIR
#include <cstddef>
#include <cstdint>
#include <vector>

#include "pe/pe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    pe::Image img = pe::parse(std::vector<uint8_t>(data, data + size));
    (void)pe::describe(img);
    (void)pe::checkModule(img);
    for (const pe::Resource& r : img.resources) {
      try {
        (void)img.resourceData(r);
      } catch (const pe::Error&) {
      }
    }
    (void)img.symbolRva("Linkage");
    for (const pe::Export& e : img.exports) {
      try {
        (void)img.rvaBytes(e.rva, 64);
      } catch (const pe::Error&) {
      }
    }
    if (img.sizeOfImage <= (1u << 20)) (void)img.layout();
  } catch (const pe::Error&) {
  }
  return 0;
}
