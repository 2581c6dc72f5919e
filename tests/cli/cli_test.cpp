// The gaugebench commands on real modules: info, click and drag output, scenarios, bad input.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "commands.h"
#include "gauges.h"

namespace {

using testing_support::GaugePath;

std::string Bench(const std::vector<std::string>& args, int expectedStatus = 0) {
  std::ostringstream out;
  std::vector<std::string> rest(args.begin() + 1, args.end());
  EXPECT_EQ(cli::Run(args[0], rest, out), expectedStatus) << out.str();
  return out.str();
}

std::string WriteScenario(const std::string& name, const std::string& text) {
  const auto path = std::filesystem::temp_directory_path() / ("gaugebench_" + name + ".txt");
  std::ofstream(path) << text;
  return path.string();
}

TEST(Cli, InfoShowsTheTreeAndAbsoluteMouseBoxes) {
  const std::string info = Bench({"info", GaugePath("quadrant")});
  for (const char* expected : {"Linkage", "ImportTable", "\"KT7-Quad\"", "header word 11 = 100", "Slider at",
                               "yAxis variable 0x80", "scale -0.00256348", "child x 95..132", "helpId 0xA428",
                               "ThrottleDragHandler<65821u>"}) {
    EXPECT_NE(info.find(expected), std::string::npos) << expected << "\n" << info;
  }
  const std::string needles = Bench({"info", GaugePath("rpm_gauge")});
  EXPECT_NE(needles.find("none (the gauge registers no mouse areas)"), std::string::npos) << needles;
  EXPECT_NE(needles.find("calibration at"), std::string::npos);
  EXPECT_NE(needles.find("EngineNeedleValue"), std::string::npos);
}

TEST(Cli, ClickAndDragPrintTheEventsInOrder) {
  EXPECT_EQ(Bench({"click", GaugePath("ap_switch"), "15", "10"}), "ap_switch: key   0x1002C (65580) value 0x1 (1)\n");
  EXPECT_EQ(Bench({"drag", GaugePath("quadrant"), "10", "0", "17", "200"}),
            "quadrant: key   0x10183 (65923) value 0x4000 (16384)\n"
            "quadrant: key   0x10183 (65923) value 0x3000 (12288)\n"
            "quadrant: key   0x10183 (65923) value 0xFFFF83C4 (-31804)\n");
  EXPECT_EQ(Bench({"click", GaugePath("ap_switch"), "2", "10"}), "(2, 10) is outside every mouse area\nno events\n");
}

TEST(Cli, BadGestureInputIsAUsageErrorOrANamedError) {
  std::ostringstream out;
  EXPECT_THROW(cli::Run("click", {GaugePath("ap_switch"), "ten", "10"}, out), cli::UsageError);
  EXPECT_THROW(cli::Run("click", {GaugePath("ap_switch"), "10"}, out), cli::UsageError);
  EXPECT_THROW(cli::Run("drag", {GaugePath("quadrant"), "10", "1.5", "3"}, out), cli::UsageError);
  EXPECT_THROW(cli::Run("click", {GaugePath("ap_switch"), "10", "10", "--bogus"}, out), cli::UsageError);
  try {
    cli::Run("click", {GaugePath("manifold_gauge"), "10", "10"}, out);
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("has no mouse areas"), std::string::npos) << e.what();
  }
}

TEST(Cli, ScenarioStopsAtTheFirstFailedExpectationNamingItsLine) {
  const std::string path = WriteScenario("fails", "gauge " + GaugePath("ap_switch") +
                                                      "\nclick 15 10\nexpect key 0x1002C 0\nexpect nothing\n");
  const std::string out = Bench({"run", path}, 1);
  EXPECT_NE(out.find(path + ":3: expectation failed: key 0x1002C 0, but the next event is:"), std::string::npos) << out;
}

TEST(Cli, MalformedScenarioLinesAreErrorsNamingTheLine) {
  struct Case {
    const char* name;
    std::string text;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"unknown step", "gauge " + GaugePath("ap_switch") + "\n\nhover 1 2\n", ":3: unknown step \"hover\""},
      {"bad number", "gauge " + GaugePath("ap_switch") + "\nclick 1 two\n", ":2: Y \"two\" is not a whole number"},
      {"no gauge", "click 1 2\n", ":1: no gauge loaded yet"},
      {"missing module", "gauge nowhere.gau\n", ":1: "},
      {"short expect", "gauge " + GaugePath("ap_switch") + "\nexpect key 0x1002C\n", ":2: expected \"expect key ID VALUE\""},
      {"no mouse areas", "gauge " + GaugePath("rpm_gauge") + "\nclick 1 1\n", ":2: rpm_gauge has no mouse areas"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = WriteScenario("bad", c.text);
    std::ostringstream out;
    try {
      cli::Run("run", {path}, out);
      ADD_FAILURE() << "accepted";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(path + c.expected), std::string::npos) << e.what();
    }
  }
}

TEST(Cli, SimulatorRulesComeFromAFile) {
  // Autopilot KeyEvents drive variable 0x99 instead of 0x67: the switch picture then never
  // follows, and the scenario sees the variable where the rule put it.
  const auto rules = std::filesystem::temp_directory_path() / "gaugebench_keyrules.txt";
  std::ofstream(rules) << "# autopilot elsewhere\n0x1002C 0x99   # on and off\n0x1011C 0x80 -10 10\n";
  const std::string path = WriteScenario("rules", "gauge " + GaugePath("ap_switch") +
                                                      "\nclick 15 10\nupdate\nexpect variable 0x99 1\n"
                                                      "expect variable 0x67 0\nexpect picture 0 0\n");
  Bench({"run", path, "--rules", rules.string()});
  std::ofstream(rules) << "0x1002C 0x99\n0x1002C\n";
  std::ostringstream out;
  try {
    cli::Run("run", {path, "--rules", rules.string()}, out);
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(rules.string() + ":2:"), std::string::npos) << e.what();
  }
}

TEST(Cli, ScenarioRendersAfterEveryStepOnRequest) {
  const auto dir = std::filesystem::temp_directory_path() / "gaugebench_steps";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::string path = WriteScenario("steps", "gauge " + GaugePath("ap_switch") + "\nclick 15 10\nupdate\n");
  Bench({"run", path, "--render-each", dir.string()});
  for (const char* png : {"step1.png", "step2.png", "step3.png"}) EXPECT_TRUE(std::filesystem::exists(dir / png)) << png;
}

}  // namespace
