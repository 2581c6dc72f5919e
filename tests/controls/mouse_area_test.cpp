// Mouse areas as the bench reads them from guest memory: nested origins, negative boxes, list
// structure errors, and the frame's handling of a root image the host did not fill in.
#include <gtest/gtest.h>

#include "gauges.h"
#include "layout.h"

namespace {

using testing_support::LoadGauge;

TEST(MouseAreas, NestedChildrenArePlacedAtTheirParentsOrigin) {
  auto m = LoadGauge("quadrant");
  m->install();
  std::vector<std::array<int32_t, 4>> children;
  std::vector<uint32_t> helpIds;
  for (const host::MouseAreaView& a : m->mouseAreas()) {
    if (a.kind == layout::mouse_area::kChild) children.push_back({a.x, a.y, a.width, a.height});
    if (a.kind == layout::mouse_area::kParent) helpIds.push_back(a.helpId);
  }
  const std::vector<std::array<int32_t, 4>> expected = {
      {54, 0, 38, 68}, {95, 0, 38, 68}, {1, 0, 23, 68}, {26, 0, 23, 68}, {137, 0, 25, 68}, {164, 0, 25, 68}};
  EXPECT_EQ(children, expected);
  EXPECT_EQ(helpIds, (std::vector<uint32_t>{0, 0xA428, 0xA024, 0xA025}));
}

// Writes a list of records (kind, x, y, w, h, handler) into guest memory and hands it to the
// host's install service the way GaugeInstall does.
class ListStructure : public ::testing::Test {
 protected:
  void SetUp() override {
    m = LoadGauge("ap_switch");
    m->install();
    handler = m->mouseAreas()[2].handler;
  }
  struct Rec {
    uint32_t kind;
    int32_t x = 0, y = 0, w = 0, h = 0;
    bool withHandler = false;
  };
  void Install(const std::vector<Rec>& records) {
    const uint32_t list = m->machine().alloc(4 * layout::mouse_area::words * static_cast<uint32_t>(records.size()));
    for (size_t i = 0; i < records.size(); ++i) {
      const uint32_t r = list + 4 * layout::mouse_area::words * static_cast<uint32_t>(i);
      const Rec& c = records[i];
      m->machine().write32(r, c.kind);
      for (unsigned k = 0; k < 4; ++k) m->machine().write32(r + 4 * (1 + k), static_cast<uint32_t>((&c.x)[k]));
      m->machine().write32(r + 4 * layout::mouse_area::cursor, c.kind == layout::mouse_area::kChild ? 1 : 0xFFFFFFFF);
      m->machine().write32(r + 4 * layout::mouse_area::handler, c.withHandler ? handler : 0);
    }
    const uint32_t slot = m->machine().read32(m->serviceTable() + 4 * layout::service::installMouseAreas);
    const uint32_t args[] = {list, m->gaugeHeader(), 0};
    m->machine().call(slot, args, "GaugeInstall");
  }
  std::unique_ptr<host::Module> m;
  uint32_t handler = 0;
};

constexpr uint32_t P = layout::mouse_area::kParent, C = layout::mouse_area::kChild,
                   E = layout::mouse_area::kEndOfParent, L = layout::mouse_area::kEndOfList;

TEST_F(ListStructure, AWellFormedListWithANegativeBoxIsAccepted) {
  Install({{P}, {C, -10, 0, 40, 20, true}, {E}, {L}});
  ASSERT_EQ(m->mouseAreas().size(), 4u);
  EXPECT_EQ(m->mouseAreas()[1].x, -10);
  Install({{P}, {P, 10, 20, 5, 5}, {P, 1, 2, 3, 3}, {C, -3, 4, 2, 2, true}, {E}, {E}, {E}, {L}});
  EXPECT_EQ(m->mouseAreas()[3].x, 8);
  EXPECT_EQ(m->mouseAreas()[3].y, 26);
}

TEST_F(ListStructure, MalformedListsAreErrorsNamingTheRecord) {
  struct Case {
    const char* name;
    std::vector<Rec> records;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"parent never closed", {{P}, {C, 0, 0, 1, 1, true}, {L}}, "record 3"},
      {"close without parent", {{P}, {E}, {E}, {L}}, "record 3"},
      {"child outside parents", {{C, 0, 0, 1, 1, true}, {L}}, "record 1"},
      {"child without handler", {{P}, {C, 0, 0, 1, 1, false}, {E}, {L}}, "record 2"},
      {"parent with handler", {{P, 0, 0, 0, 0, true}, {E}, {L}}, "record 1"},
      {"unknown kind", {{P}, {7}, {E}, {L}}, "record 2"},
      {"empty list", {{L}}, "record 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      Install(c.records);
      ADD_FAILURE() << "accepted";
    } catch (const std::exception& e) {
      EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << e.what();
    }
  }
  // A list with no end record at all: the bench stops reading, it does not run off.
  std::vector<Rec> endless(600, Rec{P});
  EXPECT_THROW(Install(endless), std::runtime_error);
}

TEST(MouseAreas, InstallWithoutAFilledRootImageDoesNotReadAddressZero) {
  for (const char* deliverable : {"ap_switch", "quadrant"}) {
    SCOPED_TRACE(deliverable);
    auto m = LoadGauge(deliverable);
    // A host whose element install fills in nothing.
    const uint32_t lazy = m->machine().addTrap("HostInstallElements (fills nothing)", 2, [](guest::TrapCall&) { return 0u; });
    m->machine().write32(m->serviceTable() + 4 * layout::service::installElements, lazy);
    m->install();
    const auto& calls = m->serviceCalls();
    ASSERT_EQ(calls.size(), 2u);
    ASSERT_EQ(calls[0].name, "HostInstallMouseAreas");
    const uint32_t pair = calls[0].args[2];
    ASSERT_NE(pair, 0u);
    EXPECT_EQ(m->machine().read32(pair), 0u);
    EXPECT_EQ(m->machine().read32(pair + 4), 0u);
  }
}

}  // namespace
