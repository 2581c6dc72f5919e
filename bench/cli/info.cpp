#include "info.h"

#include <cstdio>
#include <sstream>

#include "layout.h"
#include "wave_riff.h"

namespace cli {
namespace {

using guest::Hex;

std::string Variable(guest::Machine& g, uint32_t v) {
  std::ostringstream s;
  const uint32_t id = g.read32(v + 4 * layout::host_variable::id);
  s << "variable " << (id == 0 ? std::string("0 (owned by the gauge)") : Hex(id))
    << " value " << g.readDouble(v + 4 * layout::host_variable::value);
  return s.str();
}

std::string Routine(host::Module& m, uint32_t address) {
  return address == 0 ? std::string("none") : m.routineName(address);
}

}  // namespace

std::string Describe(host::Module& m) {
  std::ostringstream s;
  guest::Machine& g = m.machine();
  s << pe::describe(m.image()) << "\n";

  s << "Gauge module\n";
  s << "  Linkage at " << Hex(m.linkage()) << ": module id " << Hex(g.read32(m.linkage()))
    << ", ModuleInit " << Routine(m, g.read32(m.linkage() + 4)) << ", ModuleDeinit "
    << Routine(m, g.read32(m.linkage() + 8)) << ", gauge list [" << Hex(m.gaugeHeader()) << ", "
    << Hex(g.read32(m.linkage() + 28)) << "]\n";
  s << "  ImportTable at " << Hex(m.importTable()) << ": entry " << Hex(g.read32(m.importTable()))
    << " (HostServiceTable, filled by the host)\n";
  namespace gh = layout::gauge_header;
  s << "  GaugeHeader at " << Hex(m.gaugeHeader()) << ": version " << m.headerWord(gh::version) << ", name \""
    << m.gaugeName() << "\", header word 11 = " << m.headerWord(gh::word11) << "\n";
  s << "    rootElement variable at " << Hex(m.headerWord(gh::rootElement)) << " -> " << Hex(m.rootElement()) << "\n";
  const char* names[] = {"GaugeQuery", "GaugeInstall", "GaugeInitialize", "GaugeUpdate", "GaugeGenerate", "GaugeDraw", "GaugeKill"};
  for (unsigned i = 0; i < 7; ++i) s << "    " << names[i] << ": " << Routine(m, m.headerWord(gh::query + i)) << "\n";

  s << "\nElement tree\n";
  for (const host::ElementView& e : m.elements()) {
    const std::string indent(2 + 2 * e.depth, ' ');
    s << indent << host::ElementKindName(e.kind) << " at " << Hex(e.address) << ": bitmap " << e.resourceId << ", position ("
      << e.x << ", " << e.y << "), pivot (" << e.pivotX << ", " << e.pivotY << "), drawFlags " << Hex(e.drawFlags)
      << ", children " << Hex(e.children) << ", failures " << Hex(e.failures);
    if (e.failures != 0) {
      s << " [";
      for (uint32_t p = e.failures; g.read32(p) != 0 || g.read32(p + 4) != 0; p += 8)
        s << "(" << g.read32(p) << ", " << g.read32(p + 4) << ") ";
      s << "(0, 0)]";
    }
    s << "\n";
    const uint32_t a = e.address;
    switch (e.kind) {
      case layout::element::kNeedle: {
        namespace n = layout::needle;
        s << indent << "  " << Variable(g, a + 4 * n::variable) << ", updateCallback "
          << Routine(m, g.read32(a + 4 * n::updateCallback)) << ", word 30 = " << g.read32(a + 4 * n::word30) << "\n";
        const uint32_t rows = g.read32(a + 4 * n::calibrationRows), table = g.read32(a + 4 * n::calibration);
        s << indent << "  calibration at " << Hex(table) << ", " << rows << " rows:";
        for (uint32_t i = 0; i < rows && i < 64; ++i) {
          const uint32_t r = table + 24 * i;
          s << " (" << static_cast<int32_t>(g.read32(r)) << ", " << static_cast<int32_t>(g.read32(r + 4)) << ") = "
            << g.readDouble(r + 8) << (g.readDouble(r + 16) != 0.0 ? " [second float not 0]" : "") << ";";
        }
        s << "\n";
        break;
      }
      case layout::element::kIcon: {
        namespace i = layout::icon;
        s << indent << "  " << Variable(g, a + 4 * i::variable) << ", updateCallback "
          << Routine(m, g.read32(a + 4 * i::updateCallback)) << ", " << g.read32(a + 4 * i::pictureCount)
          << " pictures (bitmaps";
        for (uint32_t k = 0; k < g.read32(a + 4 * i::pictureCount) && k < 64; ++k) s << " " << e.resourceId + 3 * k;
        s << ")\n";
        break;
      }
      case layout::element::kSlider: {
        for (unsigned axis : {layout::slider::xAxis, layout::slider::yAxis}) {
          const uint32_t x = a + 4 * axis;
          s << indent << "  " << (axis == layout::slider::xAxis ? "xAxis " : "yAxis ") << Variable(g, x)
            << ", updateCallback " << Routine(m, g.read32(x + 4 * layout::slider_axis::updateCallback)) << ", scale "
            << g.readDouble(x + 4 * layout::slider_axis::scale) << "\n";
        }
        break;
      }
      default: break;
    }
  }

  // The click sounds, walked as the module's player walks them.
  s << "\nSounds\n";
  bool anySound = false;
  for (const pe::Resource& r : m.image().resources) {
    if (r.type.isId || r.type.name != "WAVE") continue;
    anySound = true;
    s << "  WAVE " << r.name.str() << ": ";
    const auto bytes = m.image().resourceData(r);
    const void* format = nullptr;
    const void* data = nullptr;
    unsigned int length = 0;
    if (!ParseWaveRiff(bytes.data(), static_cast<unsigned int>(bytes.size()), &format, &data, &length)) {
      s << "not a playable RIFF/WAVE image (" << bytes.size() << " bytes)\n";
      continue;
    }
    const auto* f = static_cast<const uint8_t*>(format);
    auto u16 = [&](int at) { return static_cast<unsigned>(f[at] | f[at + 1] << 8); };
    const unsigned rate = f[4] | f[5] << 8 | f[6] << 16 | static_cast<unsigned>(f[7]) << 24;
    const unsigned frameBytes = u16(12) == 0 ? 1 : u16(12);
    s << "format tag " << u16(0) << ", " << u16(2) << " channel(s), " << rate << " samples/s, " << u16(14)
      << " bits, " << length << " data bytes (" << length / frameBytes << " frames, "
      << (rate == 0 ? 0 : 1000.0 * (length / frameBytes) / rate) << " ms)\n";
  }
  if (!anySound) s << "  none\n";
  if (const auto status = m.symbolAddress("SoundStatus")) {
    s << "  SoundStatus (module variable at " << Hex(*status) << "): " << static_cast<int32_t>(g.read32(*status)) << "\n";
  }

  // The mouse areas reach the host only when the gauge installs itself.
  s << "\nMouse areas\n";
  try {
    m.install();
    if (!m.mouseAreasRegistered()) {
      s << "  none (the gauge registers no mouse areas)\n";
    } else {
      for (const host::MouseAreaView& a : m.mouseAreas()) {
        const std::string indent(2 + 2 * a.depth, ' ');
        switch (a.kind) {
          case layout::mouse_area::kParent:
            s << indent << "parent at (" << a.x << ", " << a.y << ") size " << a.width << " x " << a.height
              << ", helpId " << Hex(a.helpId) << "\n";
            break;
          case layout::mouse_area::kChild:
            s << indent << "child x " << a.x << ".." << a.x + a.width - 1 << ", y " << a.y << ".." << a.y + a.height - 1
              << ", cursor " << a.cursor << ", mouseFlags " << Hex(a.mouseFlags)
              << (a.mouseFlags & layout::mouse_area::kDragFlags ? " (drag)" : a.mouseFlags & layout::mouse_area::kClickFlags ? " (click)" : "")
              << ", handler " << Routine(m, a.handler) << "\n";
            break;
          case layout::mouse_area::kEndOfParent: s << indent << "end of parent\n"; break;
          default: s << indent << "end of list\n"; break;
        }
      }
    }
    m.kill();
  } catch (const std::exception& e) {
    s << "  cannot install the gauge: " << e.what() << "\n";
  }
  return s.str();
}

}  // namespace cli
