// Record rules of a loaded gauge module: the exported records, the GaugeHeader, the element
// tree and the mouse-area list, word by word as the host reads them.
#include <cmath>
#include <cstring>
#include <set>
#include <sstream>

#include "layout.h"
#include "records_check.h"

namespace host {
namespace {

using guest::Hex;

class Checker {
 public:
  Checker(Module& m, std::vector<pe::Violation>& out) : m_(m), out_(out) {}

  void fail(const std::string& rule, const std::string& detail) { out_.push_back({rule, detail}); }

  uint32_t word(uint32_t record, unsigned w) { return m_.machine().read32(record + 4 * w); }
  double dbl(uint32_t record, unsigned w) { return m_.machine().readDouble(record + 4 * w); }

  const pe::Section* sectionOf(uint32_t address) {
    if (address < m_.base()) return nullptr;
    return m_.image().sectionAt(address - m_.base());
  }
  bool inCode(uint32_t address) {
    const pe::Section* s = sectionOf(address);
    return s != nullptr && s->executable();
  }
  bool inData(uint32_t address, uint32_t size) {
    const pe::Section* s = sectionOf(address);
    return s != nullptr && !s->executable() && sectionOf(address + size - 1) == s;
  }
  void zeros(const std::string& rule, const std::string& what, uint32_t record, unsigned first, unsigned last) {
    for (unsigned w = first; w <= last; ++w)
      if (word(record, w) != 0) fail(rule, what + " word " + std::to_string(w) + " is " + Hex(word(record, w)) + ", not 0");
  }
  void routine(const std::string& rule, const std::string& what, uint32_t address, bool optional) {
    if (address == 0 && optional) return;
    if (!inCode(address)) fail(rule, what + " " + Hex(address) + " is not inside the module's code");
  }
  bool hasBitmap(uint32_t id) {
    pe::ResName type, name;
    type.id = 2;
    name.id = static_cast<uint16_t>(id);
    return id <= 0xFFFF && m_.image().findResource(type, name) != nullptr;
  }

  void linkage() {
    namespace l = layout::linkage;
    const uint32_t r = m_.linkage();
    if (!inData(r, 4 * l::words)) return fail("linkage", "`Linkage` does not lie in module data");
    if (word(r, l::moduleId) != l::kModuleId) fail("linkage", "module id is " + Hex(word(r, l::moduleId)) + ", not 0x13");
    routine("linkage", "ModuleInit", word(r, l::moduleInit), false);
    routine("linkage", "ModuleDeinit", word(r, l::moduleDeinit), false);
    zeros("linkage", "`Linkage`", r, 3, 5);
    if (!inData(word(r, l::gaugeList), 4 * layout::gauge_header::words)) fail("linkage", "word 6 does not address a GaugeHeader in module data");
    if (word(r, l::gaugeList + 1) != 0) fail("linkage", "the gauge list holds more than one gauge (word 7 is not 0)");
  }

  void importTable() {
    // As stored in the file: the host's table address is written only after loading.
    const pe::Export* e = m_.image().findExport("ImportTable");
    if (e == nullptr) return;
    try {
      auto bytes = m_.image().rvaBytes(e->rva, 16);
      uint32_t w[4];
      std::memcpy(w, bytes.data(), 16);
      if (w[0] != layout::import_table::kServiceTableEntryId || w[1] != 0 || w[2] != 0 || w[3] != 0)
        fail("import-table", "`ImportTable` holds " + Hex(w[0]) + " " + Hex(w[1]) + " " + Hex(w[2]) + " " + Hex(w[3]) +
                                 ", not 0xF 0 0 0");
    } catch (const std::exception& ex) {
      fail("import-table", ex.what());
    }
  }

  void header() {
    namespace g = layout::gauge_header;
    const uint32_t h = m_.gaugeHeader();
    if (word(h, g::version) != g::kVersion) fail("gauge-header", "version is " + std::to_string(word(h, g::version)) + ", not 610");
    try {
      const std::string name = m_.gaugeName();
      if (name.empty()) fail("gauge-header", "the gauge name is empty");
      for (char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) {
          fail("gauge-header", "the gauge name is not printable ASCII");
          break;
        }
    } catch (const std::exception& ex) {
      fail("gauge-header", std::string("the gauge name: ") + ex.what());
    }
    const uint32_t rootVariable = word(h, g::rootElement);
    if (!inData(rootVariable, 4)) fail("gauge-header", "word 2 does not address the `rootElement` variable in module data");
    const char* names[] = {"GaugeQuery", "GaugeInstall", "GaugeInitialize", "GaugeUpdate", "GaugeGenerate", "GaugeDraw", "GaugeKill"};
    for (unsigned i = 0; i < 7; ++i) routine("gauge-header", names[i], word(h, g::query + i), false);
    zeros("gauge-header", "GaugeHeader", h, 10, 10);
    const uint32_t w11 = word(h, g::word11);
    if (w11 != 25 && w11 != 40 && w11 != 100) fail("gauge-header", "header word 11 is " + std::to_string(w11) + ", not 25, 40 or 100");
    zeros("gauge-header", "GaugeHeader", h, 12, g::words - 1);
  }

  void variable(const std::string& what, uint32_t v, bool bound) {
    zeros("elements", what + " HostVariable", v, 1, 2);
    zeros("elements", what + " HostVariable", v, 5, 6);
    (void)bound;
    if (dbl(v, layout::host_variable::value) != 0.0) fail("elements", what + " HostVariable value is not 0.0 in the module");
  }

  void element(const ElementView& e) {
    namespace el = layout::element;
    const std::string what = std::string(ElementKindName(e.kind)) + " at " + Hex(e.address);
    const unsigned words = e.kind == el::kStaticImage ? layout::static_image::words
                           : e.kind == el::kNeedle    ? layout::needle::words
                           : e.kind == el::kSlider    ? layout::slider::words
                                                      : layout::icon::words;
    if (!inData(e.address, 4 * words)) return fail("elements", what + " does not lie in module data");
    if (e.gaugeHeader != m_.gaugeHeader()) fail("elements", what + " names GaugeHeader " + Hex(e.gaugeHeader) + ", not the module's");
    zeros("elements", what, e.address, 4, 5);
    zeros("elements", what, e.address, 9, 9);
    zeros("elements", what, e.address, 13, 14);
    if ((e.drawFlags & 1) == 0) fail("elements", what + " drawFlags " + Hex(e.drawFlags) + " lack bit 0");
    if (e.kind != el::kNeedle && (e.pivotX != 0 || e.pivotY != 0)) fail("elements", what + " has a pivot but is not a Needle");
    if (e.failures != 0) {
      bool closed = false;
      for (int i = 0; i < 64 && !closed; ++i) {
        if (!inData(e.failures + 8 * i, 8)) break;
        closed = word(e.failures + 8 * i, 0) == 0 && word(e.failures + 8 * i, 1) == 0;
      }
      if (!closed) fail("elements", what + " FailureList is not closed by (0, 0)");
    }
    switch (e.kind) {
      case el::kStaticImage:
        if (word(e.address, layout::static_image::image) != 0 && !m_.installed()) fail("elements", what + " image word is not 0 in the module");
        zeros("elements", what, e.address, 16, 19);
        if (!hasBitmap(e.resourceId)) fail("elements", what + " names bitmap " + std::to_string(e.resourceId) + ", which the module lacks");
        break;
      case el::kNeedle: {
        namespace n = layout::needle;
        variable(what, e.address + 4 * n::variable, true);
        routine("elements", what + " updateCallback", word(e.address, n::updateCallback), true);
        zeros("elements", what, e.address, 23, 27);
        zeros("elements", what, e.address, 31, n::words - 1);
        const uint32_t rows = word(e.address, n::calibrationRows);
        const uint32_t table = word(e.address, n::calibration);
        if (rows == 0 || rows > 64 || !inData(table, 4 * layout::calibration_row::words * rows)) {
          fail("elements", what + " calibration table " + Hex(table) + " with " + std::to_string(rows) + " rows is not in module data");
        } else {
          double last = -INFINITY;
          for (uint32_t i = 0; i < rows; ++i) {
            const uint32_t row = table + 4 * layout::calibration_row::words * i;
            const double value = dbl(row, layout::calibration_row::value);
            if (!(value > last)) fail("elements", what + " calibration row " + std::to_string(i) + " value is not above the row before");
            if (dbl(row, layout::calibration_row::secondValue) != 0.0) fail("elements", what + " calibration row " + std::to_string(i) + " second float is not 0.0");
            last = value;
          }
        }
        if (!hasBitmap(e.resourceId)) fail("elements", what + " names bitmap " + std::to_string(e.resourceId) + ", which the module lacks");
        break;
      }
      case el::kIcon: {
        namespace i = layout::icon;
        variable(what, e.address + 4 * i::variable, word(e.address, i::variable) != 0);
        routine("elements", what + " updateCallback", word(e.address, i::updateCallback), true);
        zeros("elements", what, e.address, 23, 27);
        zeros("elements", what, e.address, 29, 30);
        zeros("elements", what, e.address, 32, 32);
        if (word(e.address, i::pictures) != 0 && !m_.installed()) fail("elements", what + " pictures word is not 0 in the module");
        const uint32_t count = word(e.address, i::pictureCount);
        if (count == 0 || count > 64) fail("elements", what + " has " + std::to_string(count) + " pictures");
        for (uint32_t k = 0; k < count && k < 64; ++k)
          if (!hasBitmap(e.resourceId + i::kPictureIdStep * k))
            fail("elements", what + " picture " + std::to_string(k) + " names bitmap " + std::to_string(e.resourceId + 3 * k) + ", which the module lacks");
        break;
      }
      case el::kSlider: {
        namespace s = layout::slider;
        for (unsigned axis : {s::xAxis, s::yAxis}) {
          const uint32_t a = e.address + 4 * axis;
          variable(what + (axis == s::xAxis ? " xAxis" : " yAxis"), a, word(a, 0) != 0);
          routine("elements", what + " axis updateCallback", word(a, layout::slider_axis::updateCallback), true);
          zeros("elements", what + " axis", a, 10, 10);
        }
        zeros("elements", what, e.address, 37, s::words - 1);
        if (!hasBitmap(e.resourceId)) fail("elements", what + " names bitmap " + std::to_string(e.resourceId) + ", which the module lacks");
        break;
      }
    }
  }

  void tree() {
    std::vector<ElementView> all;
    try {
      all = m_.elements();
    } catch (const std::exception& ex) {
      return fail("elements", ex.what());
    }
    for (const ElementView& e : all) element(e);
  }

  void mouseAreas() {
    // The list reaches the host only through GaugeInstall: install, read it, and kill again.
    try {
      m_.install();
      if (m_.mouseAreasRegistered()) {
        for (const MouseAreaView& a : m_.mouseAreas()) {
          const std::string what = "mouse area at " + Hex(a.address);
          if (a.kind == layout::mouse_area::kChild) {
            routine("mouse-areas", what + " handler", a.handler, false);
          } else {
            if (a.cursor != -1) fail("mouse-areas", what + " (not a child) has cursor " + std::to_string(a.cursor) + ", not -1");
            if (a.mouseFlags != 0) fail("mouse-areas", what + " (not a child) has mouseFlags " + Hex(a.mouseFlags));
          }
        }
      }
      m_.kill();
    } catch (const std::exception& ex) {
      fail("mouse-areas", std::string("installing the gauge: ") + ex.what());
    }
  }

 private:
  Module& m_;
  std::vector<pe::Violation>& out_;
};

}  // namespace

std::vector<pe::Violation> CheckRecords(Module& module) {
  std::vector<pe::Violation> out;
  Checker c(module, out);
  try {
    c.linkage();
    c.importTable();
    c.header();
    c.tree();
  } catch (const std::exception& ex) {
    out.push_back({"records", ex.what()});
  }
  c.mouseAreas();
  return out;
}

}  // namespace host
