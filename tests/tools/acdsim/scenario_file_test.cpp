#include "tools/acdsim/scenario_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace callsink::acdsim {
namespace {

std::string ParseError(const std::string& text) {
  CallCentre centre;
  std::string error;
  EXPECT_FALSE(ScenarioFile::Parse(text, &centre, &error)) << text;
  return error;
}

TEST(ScenarioFileTest, TheShippedExampleLoads) {
  const char* test_data = std::getenv("CALLSINK_TEST_DATA");
  ASSERT_NE(test_data, nullptr) << "run through ctest, which sets CALLSINK_TEST_DATA";
  const std::string path =
      std::string(test_data) + "/../tools/acdsim/scenarios/two_floors.scenario";
  CallCentre centre;
  std::string error;
  ASSERT_TRUE(ScenarioFile::Load(path, &centre, &error)) << error;
  EXPECT_EQ(centre.group_count(), 3u);
  EXPECT_EQ(centre.agent_count(), 6u);
  EXPECT_EQ(centre.membership_count(), 8u);
  const uint32_t after_hours = centre.FindGroup("After Hours");
  ASSERT_NE(after_hours, CallCentre::kNone);
  EXPECT_EQ(centre.agent(centre.FindAgent("1003")).full_name, "Clara Eklund");
  const uint32_t felix = centre.FindAgent("2002");
  EXPECT_EQ(centre.membership(centre.FindMembership(after_hours, felix)).status, 0);
}

TEST(ScenarioFileTest, StatementsCommentsQuotesAndLineEndings) {
  CallCentre centre;
  std::string error;
  ASSERT_TRUE(
      ScenarioFile::Parse("# a comment\r\n\r\ngroup \"Tier 2\"  # trailing\r\n"
                          "agent 7 \"\"\r\nmember \"Tier 2\" 7 -5\r\n",
                          &centre, &error))
      << error;
  const uint32_t group = centre.FindGroup("Tier 2");
  const uint32_t agent = centre.FindAgent("7");
  EXPECT_EQ(centre.agent(agent).full_name, "");
  EXPECT_EQ(centre.membership(centre.FindMembership(group, agent)).status, -5);
}

TEST(ScenarioFileTest, MemberWithoutStatusStartsAvailable) {
  CallCentre centre;
  std::string error;
  ASSERT_TRUE(ScenarioFile::Parse("group G\nagent A \"\"\nmember G A\n", &centre, &error));
  EXPECT_EQ(centre.membership(0).status, kAvailable);
}

TEST(ScenarioFileTest, FifteenCharacterNamesFitAndSixteenDoNot) {
  CallCentre centre;
  std::string error;
  EXPECT_TRUE(ScenarioFile::Parse("group ABCDEFGHIJKLMNO\n", &centre, &error));
  EXPECT_EQ(ParseError("group ABCDEFGHIJKLMNOP\n"),
            "line 1: group name \"ABCDEFGHIJKLMNOP\" is longer than 15 characters");
  EXPECT_EQ(ParseError("agent A \"ABCDEFGHIJKLMNOP\"\n"),
            "line 1: full name \"ABCDEFGHIJKLMNOP\" is longer than 15 characters");
}

TEST(ScenarioFileTest, MistakesAreReportedWithTheirLine) {
  EXPECT_EQ(ParseError("group A\ngroup A\n"), "line 2: group defined twice");
  EXPECT_EQ(ParseError("\nagent A \"x\"\nagent A \"y\"\n"), "line 3: agent defined twice");
  EXPECT_EQ(ParseError("group A\nmember A B\n"), "line 2: unknown agent \"B\"");
  EXPECT_EQ(ParseError("agent B \"\"\nmember A B\n"), "line 2: unknown group \"A\"");
  EXPECT_EQ(ParseError("group A\nagent B \"\"\nmember A B\nmember A B\n"),
            "line 4: member listed twice");
  EXPECT_EQ(ParseError("group A\nagent B \"\"\nmember A B busy\n"),
            "line 3: status \"busy\" is not a 32-bit integer");
  EXPECT_EQ(ParseError("group A\nagent B \"\"\nmember A B 4294967296\n"),
            "line 3: status \"4294967296\" is not a 32-bit integer");
  EXPECT_EQ(ParseError("queue A\n"), "line 1: unknown statement \"queue\"");
  EXPECT_EQ(ParseError("group \"A\n"), "line 1: unclosed quote");
  EXPECT_EQ(ParseError("group\n"), "line 1: expected: group NAME");
  EXPECT_EQ(ParseError("agent A\n"), "line 1: expected: agent NAME FULL_NAME");
  EXPECT_EQ(ParseError("group \"\"\n"), "line 1: group name is empty");
}

TEST(ScenarioFileTest, MissingFileIsReported) {
  CallCentre centre;
  std::string error;
  EXPECT_FALSE(ScenarioFile::Load("/nonexistent/x.scenario", &centre, &error));
  EXPECT_EQ(error, "cannot read /nonexistent/x.scenario");
}

}  // namespace
}  // namespace callsink::acdsim
