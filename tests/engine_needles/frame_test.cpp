// The module frame as the needle gauges carry it, and the bench's handling of module files:
// lifecycle forwarding, entry routine, relocation, structural checks, malformed files.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "commands.h"
#include "gauges.h"
#include "layout.h"
#include "records_check.h"

namespace {

using testing_support::GaugePath;
using testing_support::LoadGauge;

const char* const kNeedleGauges[] = {"manifold_gauge", "rpm_gauge"};

std::vector<std::string> Names(const std::vector<host::ServiceCall>& calls) {
  std::vector<std::string> names;
  for (const auto& c : calls) names.push_back(c.name);
  return names;
}

TEST(Frame, LifecycleRoutinesForwardTheRootAndNothingElse) {
  for (const char* deliverable : kNeedleGauges) {
    SCOPED_TRACE(deliverable);
    auto m = LoadGauge(deliverable);
    const uint32_t root = m->rootElement();
    const size_t allocationsBefore = m->machine().liveAllocations();
    auto& calls = m->serviceCalls();

    m->install();  // a gauge without mouse areas installs its elements only
    EXPECT_EQ(Names(calls), std::vector<std::string>{"HostInstallElements"});
    EXPECT_EQ(calls[0].args, (std::vector<uint32_t>{root, m->base()}));
    calls.clear();

    EXPECT_EQ(m->query(), 3) << "GaugeQuery hands back what the host answered";
    m->initialize();
    m->update();
    m->draw();
    EXPECT_EQ(Names(calls), (std::vector<std::string>{"HostQueryElements", "HostInitElements",
                                                      "HostUpdateElements", "HostDrawElements"}));
    for (const auto& c : calls) EXPECT_EQ(c.args, std::vector<uint32_t>{root});
    calls.clear();

    m->kill();  // and kills them only: no mouse service at any point
    EXPECT_EQ(Names(calls), std::vector<std::string>{"HostKillElements"});
    EXPECT_EQ(m->machine().liveAllocations(), allocationsBefore) << "kill releases what install allocated";
  }
}

TEST(Frame, GaugeGeneratePassesItsWordBitForBit) {
  auto m = LoadGauge("manifold_gauge");
  m->install();
  for (uint32_t word : {0u, 1u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 0xDEADBEEFu}) {
    m->serviceCalls().clear();
    m->generate(word);
    ASSERT_EQ(m->serviceCalls().size(), 1u);
    EXPECT_EQ(m->serviceCalls()[0].name, "HostGenerateElements");
    EXPECT_EQ(m->serviceCalls()[0].args, (std::vector<uint32_t>{m->rootElement(), word}));
  }
}

TEST(Frame, EntryRoutineStoresTheHandleOnEveryCall) {
  auto m = LoadGauge("rpm_gauge");
  const auto instance = m->symbolAddress("moduleInstance");
  ASSERT_TRUE(instance.has_value());
  EXPECT_EQ(m->machine().read32(*instance), m->base()) << "stored on process attach";
  const uint32_t entry = m->base() + m->image().entryRva;
  m->machine().write32(*instance, 0);
  for (uint32_t reason : {2u, 3u, 0u}) {  // thread attach, thread detach, process detach
    const uint32_t args[] = {m->base(), reason, 0};
    EXPECT_EQ(m->machine().call(entry, args, "entry").eax, 1u);
    EXPECT_EQ(m->machine().read32(*instance), m->base());
  }
}

TEST(Frame, TheHostServiceTableIsReadAfreshOnEveryCall) {
  auto m = LoadGauge("manifold_gauge");
  m->install();
  // A host that moves its table: the module must follow the new word, not a cached copy.
  const uint32_t moved = m->machine().alloc(4 * layout::service::slots);
  for (unsigned slot = 0; slot < layout::service::slots; ++slot)
    m->machine().write32(moved + 4 * slot, m->machine().read32(m->serviceTable() + 4 * slot));
  m->machine().write32(m->importTable() + 4, moved);
  m->machine().write32(m->serviceTable() + 4 * layout::service::updateElements, 0);  // old table now broken
  m->serviceCalls().clear();
  m->update();
  EXPECT_EQ(Names(m->serviceCalls()), std::vector<std::string>{"HostUpdateElements"});
}

TEST(Frame, RelocatedModuleDrawsTheSameFrame) {
  auto atHome = LoadGauge("manifold_gauge");
  host::ModuleOptions elsewhere;
  elsewhere.loadBase = 0x30000000;
  auto moved = LoadGauge("manifold_gauge", elsewhere);
  ASSERT_NE(atHome->base(), moved->base());
  for (auto* m : {atHome.get(), moved.get()}) {
    m->simulator().setVariable(0x98, 20000);
    m->simulator().setVariable(0xBB, 40000);
    testing_support::Start(*m);
  }
  EXPECT_EQ(moved->gaugeName(), "ZAF-M8V-Manifold-Pressure2-v1s");
  ASSERT_EQ(atHome->frame().width, 302);
  ASSERT_EQ(atHome->frame().height, 302);
  EXPECT_TRUE(atHome->frame().pixels == moved->frame().pixels);
}

TEST(Frame, NeedlesTurnWithTheirValues) {
  auto m = LoadGauge("rpm_gauge");
  testing_support::Start(*m);
  const render::Image idle = m->frame();
  m->simulator().setVariable(0x88, 12000);
  m->update();
  m->draw();
  EXPECT_FALSE(idle.pixels == m->frame().pixels) << "needle 1 moved";
  // Outside the dial (pure black corners) nothing is drawn.
  EXPECT_EQ(m->frame().at(0, 0).a, 0);
  EXPECT_EQ(m->frame().at(301, 301).a, 0);
  // The dial face at the hub's edge is opaque.
  EXPECT_EQ(m->frame().at(150, 60).a, 255);
}

TEST(Structure, BothModulesPassEveryRule) {
  for (const char* deliverable : kNeedleGauges) {
    SCOPED_TRACE(deliverable);
    const pe::Image image = pe::load(GaugePath(deliverable));
    for (const auto& v : pe::checkModule(image)) ADD_FAILURE() << v.rule << ": " << v.detail;
    auto m = LoadGauge(deliverable);
    for (const auto& v : host::CheckRecords(*m)) ADD_FAILURE() << v.rule << ": " << v.detail;
    EXPECT_TRUE(image.imports.empty()) << "needle gauges import nothing";
    ASSERT_EQ(image.exports.size(), 2u);
  }
}

TEST(Structure, RecordsAsTheHostReadsThem) {
  struct Expected {
    const char* deliverable;
    const char* name;
    int32_t pivot2[2], pivot1[2];
    uint32_t variable1, word30_2, word30_1, rows;
  };
  const Expected cases[] = {
      {"manifold_gauge", "ZAF-M8V-Manifold-Pressure2-v1s", {30, 10}, {30, 10}, 0x98, 360, 1080, 4},
      {"rpm_gauge", "ZAF-M8V-RPM2-v1s", {45, 15}, {45, 10}, 0x88, 360, 360, 3},
  };
  for (const Expected& c : cases) {
    SCOPED_TRACE(c.deliverable);
    auto m = LoadGauge(c.deliverable);
    guest::Machine& g = m->machine();
    EXPECT_EQ(m->gaugeName(), c.name);
    EXPECT_EQ(m->headerWord(layout::gauge_header::version), 610u);
    EXPECT_EQ(m->headerWord(layout::gauge_header::word11), 100u);
    EXPECT_EQ(g.read32(m->linkage()), 0x13u);
    EXPECT_EQ(g.read32(m->linkage() + 4), g.read32(m->linkage() + 8)) << "one empty module routine";
    const auto e = m->elements();
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0].kind, layout::element::kStaticImage);
    EXPECT_EQ(e[0].resourceId, 4096u);
    EXPECT_EQ(e[0].drawFlags, 1u);
    const int32_t* pivots[] = {c.pivot2, c.pivot1};
    const uint32_t ids[] = {c.variable1 + 0x23, c.variable1};
    const uint32_t bitmaps[] = {12288, 8192};
    const uint32_t words30[] = {c.word30_2, c.word30_1};
    for (int i = 0; i < 2; ++i) {
      const host::ElementView& n = e[1 + i];
      EXPECT_EQ(n.depth, 1 + i) << "a chain: dial, needle 2, needle 1";
      EXPECT_EQ(n.kind, layout::element::kNeedle);
      EXPECT_EQ(n.resourceId, bitmaps[i]);
      EXPECT_EQ(n.x, 145);
      EXPECT_EQ(n.y, 145);
      EXPECT_EQ(n.pivotX, pivots[i][0]);
      EXPECT_EQ(n.pivotY, pivots[i][1]);
      EXPECT_EQ(n.drawFlags, 3u);
      EXPECT_EQ(g.read32(n.address + 4 * layout::needle::variable), ids[i]);
      EXPECT_EQ(g.read32(n.address + 4 * layout::needle::word30), words30[i]);
      EXPECT_EQ(g.read32(n.address + 4 * layout::needle::calibrationRows), c.rows);
    }
    // Each needle owns its rows, equal in value.
    const uint32_t rows2 = g.read32(e[1].address + 4 * layout::needle::calibration);
    const uint32_t rows1 = g.read32(e[2].address + 4 * layout::needle::calibration);
    EXPECT_NE(rows1, rows2);
    EXPECT_EQ(g.readBytes(rows1, 24 * c.rows), g.readBytes(rows2, 24 * c.rows));
  }
}

// Writes a variant of a built module, changed by `edit`, to a temporary file.
std::string Variant(const std::string& deliverable, const std::string& tag,
                    const std::function<void(std::vector<uint8_t>&)>& edit) {
  std::ifstream in(GaugePath(deliverable), std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  edit(bytes);
  const std::string path = (std::filesystem::temp_directory_path() / ("gaugebench_" + tag + ".gau")).string();
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return path;
}

void Replace(std::vector<uint8_t>& bytes, const std::string& from, const std::string& to) {
  auto it = std::search(bytes.begin(), bytes.end(), from.begin(), from.end());
  ASSERT_NE(it, bytes.end());
  std::copy(to.begin(), to.end(), it);
}

TEST(BadInput, EveryMalformedFileGetsAOneLineErrorAndNonZeroExit) {
  const std::string bench = GAUGEBENCH;
  const uint32_t peOffset = [] {
    std::ifstream in(GaugePath("rpm_gauge"), std::ios::binary);
    in.seekg(0x3C);
    uint32_t v = 0;
    in.read(reinterpret_cast<char*>(&v), 4);
    return v;
  }();
  struct Case {
    std::string name;
    std::string file;
    std::string expected;  // part of the message
  };
  const std::vector<Case> cases = {
      {"missing", "/nonexistent/gauge.gau", "cannot open"},
      {"text", Variant("rpm_gauge", "text", [](auto& b) { b.assign({'h', 'e', 'l', 'l', 'o'}); }), "not a PE"},
      {"truncated", Variant("rpm_gauge", "truncated", [](auto& b) { b.resize(b.size() / 3); }), "truncated"},
      {"pe32plus", Variant("rpm_gauge", "pe32plus", [&](auto& b) { b[peOffset + 24] = 0x0B; b[peOffset + 25] = 0x02; }), "PE32+"},
      {"no Linkage", Variant("rpm_gauge", "nolinkage", [](auto& b) { Replace(b, std::string("Linkage\0", 8), std::string("Linkagx\0", 8)); }), "Linkage"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string err = (std::filesystem::temp_directory_path() / "gaugebench_err.txt").string();
    const int status = std::system((bench + " render " + c.file + " -o /dev/null 2>" + err).c_str());
    EXPECT_NE(status, 0);
    std::ifstream in(err);
    std::string first, second;
    std::getline(in, first);
    EXPECT_FALSE(std::getline(in, second)) << "one line: " << first << " / " << second;
    EXPECT_NE(first.find(c.expected), std::string::npos) << first;
  }
}

TEST(BadInput, AnImportTheBenchDoesNotProvideIsNamed) {
  const std::string variant = Variant("cowl_flaps", "unknown_import", [](auto& b) {
    Replace(b, std::string("GetForegroundWindow\0", 20), std::string("GetForegroundWindoX\0", 20));
  });
  try {
    host::Module::Load(variant);
    FAIL() << "loaded";
  } catch (const host::LoadError& e) {
    EXPECT_NE(std::string(e.what()).find("imports USER32.dll!GetForegroundWindoX"), std::string::npos) << e.what();
  }
}

TEST(BadInput, MissingBitmapAndBadSetAreNamed) {
  // The dial's resource id changed to one the module does not carry.
  auto m = LoadGauge("manifold_gauge");
  m->machine().write32(m->rootElement() + 4 * layout::element::resourceId, 4097);
  try {
    m->install();
    FAIL() << "installed without its bitmap";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("4097"), std::string::npos) << e.what();
  }
  std::ostringstream out;
  for (const char* bad : {"0x98", "0x98=", "x=1", "0x98=fast", "=5"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(cli::Run("render", {GaugePath("manifold_gauge"), "--set", bad, "-o", "/dev/null"}, out), cli::UsageError);
  }
}

}  // namespace
