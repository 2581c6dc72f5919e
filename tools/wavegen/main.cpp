// wavegen: the build's generator for the gauges' click sounds.
//
//   wavegen OUT.wav --channels 1|2 --rate HZ --bits 8|16 --frames N --fmt-bytes 16|18
//           [--fact] [--tone HZ] [--seed N]
//
// Writes a RIFF/WAVE image with the chunks "fmt ", ["fact",] "data" in that order. Same
// arguments, same bytes. Any failure: one line on stderr and exit status 1 (2 for usage).
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include "wave.h"

namespace {

constexpr const char* kUsage =
    "usage: wavegen OUT.wav --channels 1|2 --rate HZ --bits 8|16 --frames N --fmt-bytes 16|18\n"
    "               [--fact] [--tone HZ] [--seed N]\n";

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

unsigned long Number(const std::map<std::string, std::string>& options, const std::string& name, bool required,
                     unsigned long fallback) {
  auto it = options.find(name);
  if (it == options.end()) {
    if (required) throw UsageError("needs " + name);
    return fallback;
  }
  char* end = nullptr;
  const unsigned long v = std::strtoul(it->second.c_str(), &end, 0);
  if (it->second.empty() || *end != '\0' || it->second[0] == '-') throw UsageError("bad " + name + " '" + it->second + "'");
  return v;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    std::string out;
    std::map<std::string, std::string> options;
    bool fact = false;
    for (int i = 1; i < argc; ++i) {
      const std::string arg = argv[i];
      if (arg == "--fact") {
        fact = true;
      } else if (arg.rfind("--", 0) == 0) {
        static const char* const kValued[] = {"--channels", "--rate", "--bits", "--frames", "--fmt-bytes", "--tone", "--seed"};
        bool known = false;
        for (const char* k : kValued) known = known || arg == k;
        if (!known) throw UsageError("unknown option " + arg);
        if (i + 1 >= argc) throw UsageError(arg + " needs a value");
        if (!options.emplace(arg, argv[++i]).second) throw UsageError(arg + " given twice");
      } else {
        if (!out.empty()) throw UsageError("one output file only");
        out = arg;
      }
    }
    if (out.empty()) throw UsageError("no output file");
    wavegen::ClickParams params;
    params.channels = static_cast<unsigned>(Number(options, "--channels", true, 0));
    params.sampleRate = static_cast<unsigned>(Number(options, "--rate", true, 0));
    params.bitsPerSample = static_cast<unsigned>(Number(options, "--bits", true, 0));
    params.frames = static_cast<unsigned>(Number(options, "--frames", true, 0));
    params.formatBytes = static_cast<unsigned>(Number(options, "--fmt-bytes", true, 0));
    params.factChunk = fact;
    params.toneHz = static_cast<double>(Number(options, "--tone", false, 1000));
    params.seed = static_cast<uint32_t>(Number(options, "--seed", false, params.seed));

    const std::vector<uint8_t> bytes = wavegen::MakeClickWave(params);
    const std::string temp = out + ".tmp";
    {
      std::ofstream f(temp, std::ios::binary | std::ios::trunc);
      f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
      if (!f) throw std::runtime_error("cannot write " + temp);
    }
    if (std::rename(temp.c_str(), out.c_str()) != 0) throw std::runtime_error("cannot rename " + temp + " to " + out);
    return 0;
  } catch (const UsageError& e) {
    std::fprintf(stderr, "wavegen: %s\n%s", e.what(), kUsage);
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "wavegen: %s\n", e.what());
    return 1;
  }
}
