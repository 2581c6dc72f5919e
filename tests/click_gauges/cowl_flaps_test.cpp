// The cowl flap control as built: starting positions, the left lever's KeyEvents, the silent
// right lever, and the placard outside the push areas.
#include "click_support.h"

namespace {

using namespace click_gauges;
using testing_support::LoadGauge;

constexpr uint32_t kClick = 5001;
constexpr uint32_t kOpenEvent = 0x10210, kCloseEvent = 0x10211, kTrailEvent = 0x10212;

// One point inside each push area.
struct Point {
  int32_t x, y;
};
constexpr Point kLeftClose{10, 100}, kLeftTrail{55, 100}, kLeftOpen{100, 100};
constexpr Point kRightClose{190, 100}, kRightTrail{235, 100}, kRightOpen{280, 100};

// Picture numbers: OPEN 0, TRAIL 1, CLOSE 2. Position codes: OPEN 0, CLOSE 1, TRAIL 2.
constexpr double kOpenPicture = 0.0, kTrailPicture = 1.0, kClosePicture = 2.0;

class CowlFlaps : public ::testing::Test {
 protected:
  void SetUp() override {
    m = LoadGauge("cowl_flaps");
    const auto e = m->elements();
    ASSERT_EQ(e.size(), 3u);
    left = e[1].address;
    right = e[2].address;
  }
  void Start() {
    testing_support::Start(*m);
    TakeLog(*m);
  }
  bool ClickAt(Point p) {
    const bool hit = Click(*m, p.x, p.y);
    m->update();
    return hit;
  }
  // Both levers' pictures, as gauge code stored them and as the host shows them.
  void ExpectPictures(double leftPicture, double rightPicture) {
    EXPECT_EQ(IconValue(*m, left), leftPicture);
    EXPECT_EQ(IconValue(*m, right), rightPicture);
    EXPECT_EQ(m->shownValue(left), leftPicture);
    EXPECT_EQ(m->shownValue(right), rightPicture);
  }
  int32_t Position() { return ModuleWord(*m, "cowlFlapPosition"); }

  std::unique_ptr<host::Module> m;
  uint32_t left = 0, right = 0;
};

TEST_F(CowlFlaps, InitializePutsBothLeversAtCloseWithoutTellingTheSimulator) {
  EXPECT_EQ(Position(), 0) << "OPEN in the module file";
  EXPECT_EQ(IconValue(*m, left), kOpenPicture);
  EXPECT_EQ(IconValue(*m, right), kOpenPicture);
  testing_support::Start(*m);
  EXPECT_EQ(Position(), 1);
  ExpectPictures(kClosePicture, kClosePicture);
  EXPECT_EQ(TakeLog(*m), Log{});
  // A left CLOSE click now only sounds.
  EXPECT_TRUE(ClickAt(kLeftClose));
  EXPECT_EQ(TakeLog(*m), Log{Sound(kClick)});
  EXPECT_EQ(Position(), 1);
  // Every GaugeInitialize puts them back, again silently.
  ClickAt(kLeftOpen);
  ClickAt(kRightTrail);
  TakeLog(*m);
  m->initialize();
  m->update();
  EXPECT_EQ(Position(), 1);
  ExpectPictures(kClosePicture, kClosePicture);
  EXPECT_EQ(TakeLog(*m), Log{});
}

TEST_F(CowlFlaps, LeftLeverSendsItsKeyEventExactlyWhenItMoves) {
  struct Step {
    const char* what;
    Point at;
    Log log;
    int32_t position;
    double picture;
  };
  const Step steps[] = {
      {"OPEN from CLOSE", kLeftOpen, {Sound(kClick), Key(kOpenEvent)}, 0, kOpenPicture},
      {"OPEN again", kLeftOpen, {Sound(kClick)}, 0, kOpenPicture},
      {"TRAIL from OPEN", kLeftTrail, {Sound(kClick), Key(kTrailEvent)}, 2, kTrailPicture},
      {"TRAIL again", kLeftTrail, {Sound(kClick)}, 2, kTrailPicture},
      {"CLOSE from TRAIL", kLeftClose, {Sound(kClick), Key(kCloseEvent)}, 1, kClosePicture},
      {"TRAIL from CLOSE", kLeftTrail, {Sound(kClick), Key(kTrailEvent)}, 2, kTrailPicture},
      {"OPEN from TRAIL", kLeftOpen, {Sound(kClick), Key(kOpenEvent)}, 0, kOpenPicture},
      {"CLOSE from OPEN", kLeftClose, {Sound(kClick), Key(kCloseEvent)}, 1, kClosePicture},
  };
  Start();
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    EXPECT_TRUE(ClickAt(s.at));
    EXPECT_EQ(TakeLog(*m), s.log);
    EXPECT_EQ(Position(), s.position);
    ExpectPictures(s.picture, kClosePicture);
  }
}

TEST_F(CowlFlaps, RightLeverOnlyMovesItsPicture) {
  Start();
  // Right OPEN, then left OPEN: both levers at OPEN, and the left click still sends.
  EXPECT_TRUE(ClickAt(kRightOpen));
  EXPECT_EQ(TakeLog(*m), Log{Sound(kClick)});
  EXPECT_EQ(Position(), 1) << "the right lever leaves the left lever's position alone";
  ExpectPictures(kClosePicture, kOpenPicture);
  EXPECT_TRUE(ClickAt(kLeftOpen));
  EXPECT_EQ(TakeLog(*m), (Log{Sound(kClick), Key(kOpenEvent)}));
  ExpectPictures(kOpenPicture, kOpenPicture);
  // Every right position, including the one it already shows, sounds and sends nothing.
  const std::pair<Point, double> rightClicks[] = {
      {kRightTrail, kTrailPicture}, {kRightTrail, kTrailPicture}, {kRightClose, kClosePicture}, {kRightOpen, kOpenPicture}};
  for (auto [at, picture] : rightClicks) {
    EXPECT_TRUE(ClickAt(at));
    EXPECT_EQ(TakeLog(*m), Log{Sound(kClick)});
    ExpectPictures(kOpenPicture, picture);
  }
  EXPECT_EQ(Position(), 0);
  // The levers show different positions side by side.
  ClickAt(kRightClose);
  ClickAt(kLeftTrail);
  ExpectPictures(kTrailPicture, kClosePicture);
}

TEST_F(CowlFlaps, OffLabelsAndTheRestOfThePlacardAnswerNoClick) {
  Start();
  const Point outside[] = {{30, 100}, {75, 100}, {150, 100}, {210, 100}, {255, 100}, {299, 100},
                           {25, 100}, {0, 89},   {24, 115},  {100, 50},  {295, 114}, {180, 89}};
  for (Point p : outside) {
    SCOPED_TRACE(std::to_string(p.x) + "," + std::to_string(p.y));
    EXPECT_FALSE(ClickAt(p));
  }
  EXPECT_EQ(TakeLog(*m), Log{});
  EXPECT_EQ(Position(), 1);
  ExpectPictures(kClosePicture, kClosePicture);
  // The corners of the areas do answer.
  for (Point p : {Point{0, 90}, Point{24, 114}, Point{90, 90}, Point{114, 114}, Point{270, 90}, Point{294, 114}})
    EXPECT_TRUE(ClickAt(p)) << p.x << "," << p.y;
}

}  // namespace
