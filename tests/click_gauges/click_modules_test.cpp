// The seven click-gauge modules side by side: the bench's structural rules, the records as the
// host reads them, handler results, and clicks that go on working when the sound cannot play.
#include <filesystem>
#include <fstream>

#include "click_support.h"
#include "pe/pe.h"
#include "records_check.h"

namespace {

using namespace click_gauges;
using testing_support::GaugePath;
using testing_support::LoadGauge;

const char* const kDeliverables[] = {"cowl_flaps",      "prop_feather_a",  "prop_feather_b", "marker_lights_a",
                                     "marker_lights_b", "panel_switch_a",  "panel_switch_b"};

TEST(ClickModules, EveryModulePassesTheBenchsChecks) {
  for (const char* deliverable : kDeliverables) {
    SCOPED_TRACE(deliverable);
    const pe::Image image = pe::load(GaugePath(deliverable));
    for (const auto& v : pe::checkModule(image)) ADD_FAILURE() << v.rule << ": " << v.detail;
    auto m = LoadGauge(deliverable);
    for (const auto& v : host::CheckRecords(*m)) ADD_FAILURE() << v.rule << ": " << v.detail;
    EXPECT_EQ(image.exports.size(), 2u);
  }
}

struct ElementRow {
  int depth;
  uint32_t kind, resourceId;
  int32_t x, y;
  uint32_t drawFlags;
  // Icons only:
  uint32_t variableId = 0;
  const char* callback = nullptr;
  uint32_t pictureCount = 0;
  std::vector<uint32_t> failures = {};  // the FailureList's words, closing pair included
};

struct AreaRow {
  uint32_t kind;
  int32_t x, y, width, height, cursor;
  uint32_t helpId, mouseFlags;
  const char* handler;
};

struct Records {
  const char* deliverable;
  const char* name;
  std::vector<ElementRow> elements;
  std::vector<AreaRow> areas;
};

constexpr uint32_t S = layout::element::kStaticImage, I = layout::element::kIcon;
constexpr uint32_t P = layout::mouse_area::kParent, C = layout::mouse_area::kChild,
                   E = layout::mouse_area::kEndOfParent, L = layout::mouse_area::kEndOfList;
constexpr uint32_t kClickFlags = 0x20000000;

const std::vector<ElementRow> kCowlFlapElements = {
    {0, S, 1000, 0, 0, 0x1},
    {1, I, 3000, 0, -5, 0x3, 0, nullptr, 3},
    {1, I, 4000, 185, -5, 0x3, 0, nullptr, 3},
};
const std::vector<AreaRow> kCowlFlapAreas = {
    {P, 0, 0, 0, 0, -1, 0, 0, nullptr},
    {C, 90, 90, 25, 25, 4, 0, kClickFlags, "OnLeftOpenClick"},
    {C, 0, 90, 25, 25, 5, 0, kClickFlags, "OnLeftCloseClick"},
    {C, 45, 90, 25, 25, 3, 0, kClickFlags, "OnLeftTrailClick"},
    {C, 270, 90, 25, 25, 4, 0, kClickFlags, "OnRightOpenClick"},
    {C, 180, 90, 25, 25, 5, 0, kClickFlags, "OnRightCloseClick"},
    {C, 225, 90, 25, 25, 3, 0, kClickFlags, "OnRightTrailClick"},
    {E, 0, 0, 0, 0, -1, 0, 0, nullptr},
    {L, 0, 0, 0, 0, -1, 0, 0, nullptr},
};
const std::vector<ElementRow> kFeatherElements = {
    {0, S, 4096, 0, 0, 0x1},
    {1, I, 8192, 0, 0, 0x3, 0, nullptr, 2},
};
const std::vector<AreaRow> kFeatherAreas = {
    {P, 0, 0, 0, 0, -1, 0, 0, nullptr},
    {C, 0, 0, 50, 25, 3, 0, kClickFlags, "OnButtonOutClick"},
    {C, 0, 25, 50, 25, 4, 0, kClickFlags, "OnButtonInClick"},
    {E, 0, 0, 0, 0, -1, 0, 0, nullptr},
    {L, 0, 0, 0, 0, -1, 0, 0, nullptr},
};
const std::vector<ElementRow> kMarkerElements = {
    {0, S, 4096, 0, 0, 0x1},
    {1, I, 8192, 0, 28, 0x7, 0x162, "MarkerLampPicture", 4, {1, 3, 0, 0}},
    {1, I, 12288, 71, 138, 0x3, 0, nullptr, 2},
};
const std::vector<AreaRow> kMarkerAreas = {
    {P, 0, 0, 0, 0, -1, 0xA41C, 0, nullptr},
    {C, 115, 150, 40, 40, 4, 0, kClickFlags, "OnLoClick"},
    {C, 65, 150, 40, 40, 3, 0, kClickFlags, "OnHiClick"},
    {E, 0, 0, 0, 0, -1, 0, 0, nullptr},
    {L, 0, 0, 0, 0, -1, 0, 0, nullptr},
};
const std::vector<ElementRow> kPanelSwitchElements = {
    {0, S, 1000, 0, 0, 0x1},
    {1, S, 1003, 14, 14, 0x40000007},
};
const std::vector<AreaRow> kPanelSwitchAreas = {
    {P, 0, 0, 0, 0, -1, 0, 0, nullptr},
    {C, -10, 0, 40, 20, 5, 0, kClickFlags, "OnPanelSwitchClick"},
    {E, 0, 0, 0, 0, -1, 0, 0, nullptr},
    {L, 0, 0, 0, 0, -1, 0, 0, nullptr},
};

TEST(ClickModules, RecordsAsTheHostReadsThem) {
  const Records cases[] = {
      {"cowl_flaps", "ZAF-M8V-Cowlflaps-v3s", kCowlFlapElements, kCowlFlapAreas},
      {"prop_feather_a", "ZAF-M8V-Prop-Feather2-v1s", kFeatherElements, kFeatherAreas},
      {"prop_feather_b", "ZAF-M8V-Prop-Feather-v1s", kFeatherElements, kFeatherAreas},
      {"marker_lights_a", "ZAF-M8V-OMI-Lights2-v1s", kMarkerElements, kMarkerAreas},
      {"marker_lights_b", "ZAF-M8V-OMI-Lights-v1s", kMarkerElements, kMarkerAreas},
      {"panel_switch_a", "ZAF-M8V-Panel-Switch2-v1s", kPanelSwitchElements, kPanelSwitchAreas},
      {"panel_switch_b", "ZAF-M8V-Panel-Switch-v1s", kPanelSwitchElements, kPanelSwitchAreas},
  };
  for (const Records& c : cases) {
    SCOPED_TRACE(c.deliverable);
    auto m = LoadGauge(c.deliverable);
    guest::Machine& g = m->machine();
    EXPECT_EQ(m->gaugeName(), c.name);
    EXPECT_EQ(m->headerWord(layout::gauge_header::word11), 40u);
    EXPECT_EQ(g.read32(m->linkage() + 4), g.read32(m->linkage() + 8)) << "one empty module routine";
    EXPECT_EQ(g.read32(*m->symbolAddress("moduleInstance")), m->base()) << "the sound player needs the handle";

    const auto elements = m->elements();
    ASSERT_EQ(elements.size(), c.elements.size());
    for (size_t i = 0; i < elements.size(); ++i) {
      SCOPED_TRACE("element " + std::to_string(i));
      const host::ElementView& e = elements[i];
      const ElementRow& want = c.elements[i];
      EXPECT_EQ(e.depth, want.depth);
      EXPECT_EQ(e.kind, want.kind);
      EXPECT_EQ(e.resourceId, want.resourceId);
      EXPECT_EQ(e.x, want.x);
      EXPECT_EQ(e.y, want.y);
      EXPECT_EQ(e.drawFlags, want.drawFlags);
      EXPECT_EQ(e.gaugeHeader, m->gaugeHeader());
      std::vector<uint32_t> failures;
      for (uint32_t a = e.failures; a != 0 && failures.size() < 16; a += 4) {
        failures.push_back(g.read32(a));
        if (failures.size() % 2 == 0 && failures[failures.size() - 2] == 0) break;
      }
      EXPECT_EQ(failures, want.failures);
      if (e.kind != I) continue;
      EXPECT_EQ(g.read32(e.address + 4 * layout::icon::variable), want.variableId);
      EXPECT_EQ(g.read32(e.address + 4 * layout::icon::pictureCount), want.pictureCount);
      const uint32_t callback = g.read32(e.address + 4 * layout::icon::updateCallback);
      if (want.callback == nullptr) {
        EXPECT_EQ(callback, 0u);
      } else {
        EXPECT_EQ(m->routineName(callback).rfind(want.callback + std::string(" at "), 0), 0u) << m->routineName(callback);
      }
    }

    m->install();
    const auto& areas = m->mouseAreas();
    ASSERT_EQ(areas.size(), c.areas.size());
    for (size_t i = 0; i < areas.size(); ++i) {
      SCOPED_TRACE("mouse area " + std::to_string(i + 1));
      const host::MouseAreaView& a = areas[i];
      const AreaRow& want = c.areas[i];
      EXPECT_EQ(a.kind, want.kind);
      EXPECT_EQ((std::array{a.x, a.y, a.width, a.height}), (std::array{want.x, want.y, want.width, want.height}));
      EXPECT_EQ(a.cursor, want.cursor);
      EXPECT_EQ(a.helpId, want.helpId);
      EXPECT_EQ(a.mouseFlags, want.mouseFlags);
      if (want.handler == nullptr) {
        EXPECT_EQ(a.handler, 0u);
      } else {
        EXPECT_EQ(m->routineName(a.handler).rfind(want.handler + std::string(" at "), 0), 0u) << m->routineName(a.handler);
      }
    }
  }
}

TEST(ClickModules, EveryHandlerReturnsZeroWhetherOrNotItChangedAnything) {
  for (const char* deliverable : kDeliverables) {
    SCOPED_TRACE(deliverable);
    auto m = LoadGauge(deliverable);
    testing_support::Start(*m);
    for (const host::MouseAreaView& a : m->mouseAreas()) {
      if (a.kind != layout::mouse_area::kChild) continue;
      SCOPED_TRACE(m->routineName(a.handler));
      for (int call = 0; call < 2; ++call) EXPECT_EQ(m->callMouseHandler(a.handler, a.x, a.y, 0xFFFFFFFF), 0u);
    }
  }
}

// The module with its WAVE resources renamed to another type: the sound player finds nothing
// to play.
std::string WithoutWaveResources(const std::string& deliverable) {
  std::ifstream in(GaugePath(deliverable), std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
  const std::string wave("W\0A\0V\0E\0", 8), other("W\0A\0V\0X\0", 8);
  int renamed = 0;
  for (auto it = bytes.begin(); (it = std::search(it, bytes.end(), wave.begin(), wave.end())) != bytes.end(); ++renamed)
    std::copy(other.begin(), other.end(), it);
  EXPECT_GT(renamed, 0) << "no resource type named WAVE";
  const auto dir = std::filesystem::temp_directory_path() / "click_gauges_silent";
  std::filesystem::create_directories(dir);
  const std::string path = (dir / (deliverable + ".gau")).string();
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path;
}

TEST(ClickModules, ClicksStillActWhenTheSoundCannotPlay) {
  struct Case {
    const char* deliverable;
    int32_t x, y;
    Log log;
    const char* stateWord;
    int32_t state;
  };
  const Case cases[] = {
      {"cowl_flaps", 100, 100, {Key(0x10210)}, "cowlFlapPosition", 0},
      {"prop_feather_a", 25, 40, {Key(0x101DC)}, "featherButtonPosition", 2},
      {"prop_feather_b", 25, 40, {Key(0x101D7)}, "featherButtonPosition", 2},
      {"marker_lights_a", 135, 170, {}, "hiLoPosition", 2},
      {"marker_lights_b", 135, 170, {}, "hiLoPosition", 2},
      {"panel_switch_a", 15, 10, {Key(0x10173), Key(0x10176)}, nullptr, 0},
      {"panel_switch_b", 15, 10, {Key(0x10176), Key(0x10173)}, nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.deliverable);
    auto m = host::Module::Load(WithoutWaveResources(c.deliverable));
    testing_support::Start(*m);
    EXPECT_TRUE(Click(*m, c.x, c.y));
    EXPECT_EQ(TakeLog(*m), c.log);
    if (c.stateWord != nullptr) {
      EXPECT_EQ(ModuleWord(*m, c.stateWord), c.state);
    }
  }
}

}  // namespace
