// Writes the in-memory test module to a file (a seed for the fuzzer's corpus).
#include <cstdio>
#include <fstream>

#include "pe_builder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
    return 2;
  }
  pe_test::ModulePlan plan = pe_test::gaugeModule();
  plan.sections.push_back({".gcc_except_table", 0x40000040, {1, 2, 3, 4}, 0});
  pe_test::Bytes bytes = pe_test::build(plan).bytes;
  std::ofstream(argv[1], std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return 0;
}
