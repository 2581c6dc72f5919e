// The feather button as built, both builds through one table: the button's two positions, the
// build's KeyEvents, the edges of the two halves, and state kept across kill and install.
#include "click_support.h"

namespace {

using namespace click_gauges;
using testing_support::LoadGauge;

constexpr uint32_t kClick = 6001;

struct Build {
  const char* deliverable;
  uint32_t outEvent, inEvent;
};
const Build kBuilds[] = {
    {"prop_feather_a", 0x101D8, 0x101DC},
    {"prop_feather_b", 0x101D3, 0x101D7},
};

constexpr int32_t kOut = 0, kIn = 2;
constexpr double kOutPicture = 0.0, kInPicture = 1.0;

struct Feather {
  std::unique_ptr<host::Module> m;
  uint32_t button = 0;

  explicit Feather(const Build& b) : m(LoadGauge(b.deliverable)) {
    testing_support::Start(*m);
    button = m->elements().at(1).address;
  }
  bool ClickAt(int32_t x, int32_t y) {
    const bool hit = Click(*m, x, y);
    m->update();
    return hit;
  }
  void ExpectButton(int32_t position, double picture) {
    EXPECT_EQ(ModuleWord(*m, "featherButtonPosition"), position);
    EXPECT_EQ(IconValue(*m, button), picture);
    EXPECT_EQ(m->shownValue(button), picture);
  }
};

TEST(PropFeather, ClicksMoveTheButtonAndSendTheBuildsEventOnEachChange) {
  for (const Build& b : kBuilds) {
    SCOPED_TRACE(b.deliverable);
    Feather f(b);
    f.ExpectButton(kOut, kOutPicture);
    struct Step {
      const char* what;
      int32_t y;
      Log log;
      int32_t position;
      double picture;
    };
    const Step steps[] = {
        {"upper half right after load", 10, {Sound(kClick)}, kOut, kOutPicture},
        {"lower half", 40, {Sound(kClick), Key(b.inEvent)}, kIn, kInPicture},
        {"lower half again", 40, {Sound(kClick)}, kIn, kInPicture},
        {"upper half", 10, {Sound(kClick), Key(b.outEvent)}, kOut, kOutPicture},
        {"upper half again", 10, {Sound(kClick)}, kOut, kOutPicture},
        {"lower half once more", 49, {Sound(kClick), Key(b.inEvent)}, kIn, kInPicture},
    };
    for (const Step& s : steps) {
      SCOPED_TRACE(s.what);
      EXPECT_TRUE(f.ClickAt(25, s.y));
      EXPECT_EQ(TakeLog(*f.m), s.log);
      f.ExpectButton(s.position, s.picture);
    }
  }
}

TEST(PropFeather, HalvesMeetBetweenRows24And25AndNothingAnswersOutsideThem) {
  for (const Build& b : kBuilds) {
    SCOPED_TRACE(b.deliverable);
    Feather f(b);
    const std::pair<int32_t, int32_t> outside[] = {{51, 10}, {20, 55}, {50, 0}, {52, 30}, {0, 50}, {49, 58}};
    for (auto [x, y] : outside) {
      SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
      EXPECT_FALSE(f.ClickAt(x, y));
    }
    EXPECT_EQ(TakeLog(*f.m), Log{}) << "no sound, no event";
    f.ExpectButton(kOut, kOutPicture);
    // (20, 24) is the upper half: out already, so only the click. (20, 25) is the lower half.
    EXPECT_TRUE(f.ClickAt(20, 24));
    EXPECT_EQ(TakeLog(*f.m), Log{Sound(kClick)});
    EXPECT_TRUE(f.ClickAt(20, 25));
    EXPECT_EQ(TakeLog(*f.m), (Log{Sound(kClick), Key(b.inEvent)}));
    EXPECT_TRUE(f.ClickAt(0, 24));
    EXPECT_EQ(TakeLog(*f.m), (Log{Sound(kClick), Key(b.outEvent)}));
  }
}

TEST(PropFeather, LifecycleRoutinesLeaveTheButtonWhereTheLastClickPutIt) {
  for (const Build& b : kBuilds) {
    SCOPED_TRACE(b.deliverable);
    Feather f(b);
    f.ClickAt(25, 40);
    f.m->kill();
    testing_support::Start(*f.m);
    f.ExpectButton(kIn, kInPicture);
    TakeLog(*f.m);
    EXPECT_TRUE(f.ClickAt(25, 10));
    EXPECT_EQ(TakeLog(*f.m), (Log{Sound(kClick), Key(b.outEvent)}));
  }
}

TEST(PropFeather, BuildBsButtonIsBuildAsMirrorImage) {
  auto a = LoadGauge("prop_feather_a");
  auto b = LoadGauge("prop_feather_b");
  for (uint32_t id : {8192u, 8195u}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(a->bitmap(id).width, 53);
    EXPECT_EQ(a->bitmap(id).height, 59);
    EXPECT_TRUE(IsMirrorImage(a->bitmap(id), b->bitmap(id)));
  }
  EXPECT_FALSE(a->bitmap(8192).pixels == a->bitmap(8195).pixels) << "out and in differ";
  EXPECT_TRUE(a->bitmap(4096).pixels == b->bitmap(4096).pixels);
}

}  // namespace
