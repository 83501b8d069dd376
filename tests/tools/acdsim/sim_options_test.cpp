#include "tools/acdsim/sim_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace callsink::acdsim {
namespace {

bool Parse(std::vector<const char*> args, SimOptions* options, std::string* error = nullptr) {
  std::string ignored;
  return SimOptions::Parse(static_cast<int>(args.size()), args.data(), options,
                           error != nullptr ? error : &ignored);
}

std::string ErrorOf(std::vector<const char*> args) {
  SimOptions options;
  std::string error;
  EXPECT_FALSE(Parse(args, &options, &error));
  return error;
}

TEST(SimOptionsTest, DefaultsServeAGeneratedCentreOnAFreeLoopbackPort) {
  SimOptions options;
  ASSERT_TRUE(Parse({}, &options));
  EXPECT_EQ(options.listen_host, "127.0.0.1");
  EXPECT_EQ(options.listen_port, 0);
  EXPECT_EQ(options.servers, 1u);
  EXPECT_EQ(options.groups, 4u);
  EXPECT_EQ(options.agents, 20u);
  EXPECT_FALSE(options.rate) << "paced by the simulated clock";
  EXPECT_EQ(options.speed, 1);
  EXPECT_FALSE(options.max_events);
  EXPECT_FALSE(options.faults.close_after);
}

TEST(SimOptionsTest, EveryFlagSetsItsOption) {
  SimOptions options;
  ASSERT_TRUE(Parse({"--listen",
                     "127.0.0.2:4000",
                     "--servers",
                     "3",
                     "--groups",
                     "7",
                     "--agents",
                     "70",
                     "--seed",
                     "99",
                     "--rate",
                     "2.5",
                     "--events",
                     "1000",
                     "--start-time",
                     "1717200000",
                     "--record",
                     "r.txt",
                     "--close-after",
                     "5",
                     "--split-records",
                     "3",
                     "--bad-length",
                     "5000",
                     "--unknown-message",
                     "event:6",
                     "--fail-result",
                     "response:5:9",
                     "--names-without-nul",
                     "--count-beyond",
                     "4",
                     "--short-bodies",
                     "10",
                     "--stop-reading",
                     "2"},
                    &options));
  EXPECT_EQ(options.listen_host, "127.0.0.2");
  EXPECT_EQ(options.listen_port, 4000);
  EXPECT_EQ(options.servers, 3u);
  EXPECT_EQ(options.groups, 7u);
  EXPECT_EQ(options.agents, 70u);
  EXPECT_EQ(options.random_start, 99u);
  EXPECT_EQ(options.rate, 2.5);
  EXPECT_EQ(options.max_events, 1000u);
  EXPECT_EQ(options.start_time, 1717200000u);
  EXPECT_EQ(options.record_path, "r.txt");
  const SimOptions::Faults& faults = options.faults;
  EXPECT_EQ(faults.close_after, 5u);
  EXPECT_EQ(faults.split_bytes, 3u);
  EXPECT_EQ(faults.bad_length, 5000u);
  ASSERT_TRUE(faults.unknown_message);
  EXPECT_EQ(faults.unknown_message->msg_class, 2);
  EXPECT_EQ(faults.unknown_message->msg_type, 6);
  ASSERT_TRUE(faults.fail_kind);
  EXPECT_EQ(faults.fail_kind->msg_class, 1);
  EXPECT_EQ(faults.fail_kind->msg_type, 5);
  EXPECT_EQ(faults.fail_result, 9);
  EXPECT_TRUE(faults.names_without_nul);
  EXPECT_EQ(faults.count_beyond, 4u);
  EXPECT_EQ(faults.short_bodies, 10u);
  EXPECT_EQ(faults.stop_reading_after, 2u);
}

TEST(SimOptionsTest, DayFlagsShapeTheModel) {
  SimOptions options;
  ASSERT_TRUE(Parse({"--speed", "60", "--calls-per-hour", "120", "--talk-time", "300", "--wrap-up",
                     "0", "--patience", "45", "--directory-changes", "0", "--profile",
                     "0,0,0,0,0,0,0,0,1,1,1,1,1,1,1,1,1,0,0,0,0,0,0,0"},
                    &options));
  EXPECT_EQ(options.speed, 60);
  const CallCentreModel::Parameters& day = options.day;
  EXPECT_EQ(day.calls_per_hour, 120);
  EXPECT_EQ(day.talk_seconds, 300);
  EXPECT_EQ(day.wrap_up_seconds, 0);
  EXPECT_EQ(day.patience_seconds, 45);
  EXPECT_EQ(day.directory_changes_per_hour, 0);
  EXPECT_EQ(day.profile.At(7 * 3600), 0);
  EXPECT_EQ(day.profile.At(7 * 3600 + 1800), 0.5) << "linear between the hours";
  EXPECT_EQ(day.profile.At(12 * 3600), 1);

  const DayProfile standard = DayProfile::Standard();
  EXPECT_EQ(standard.At(10 * 3600), 1) << "the peak at ten";
  EXPECT_LT(standard.At(3 * 3600), 0.1);
  EXPECT_EQ(DayProfile::Parse("flat")->At(3 * 3600), 1);
  std::string weights = "4";
  for (int hour = 1; hour < 24; ++hour) weights += ",2";
  const std::optional<DayProfile> scaled = DayProfile::Parse(weights);
  ASSERT_TRUE(scaled);
  EXPECT_EQ(scaled->At(0), 1) << "scaled to 1 at the peak";
  EXPECT_EQ(scaled->At(3600), 0.5);

  for (const auto& [flag, value] :
       std::vector<std::pair<const char*, const char*>>{{"--speed", "0"},
                                                        {"--calls-per-hour", "0"},
                                                        {"--talk-time", "0.5"},
                                                        {"--patience", "-3"},
                                                        {"--profile", "1,2,3"},
                                                        {"--profile", "busy"},
                                                        {"--profile", ",,,,,,,,,,,,,,,,,,,,,,,"}}) {
    EXPECT_EQ(ErrorOf({flag, value}), std::string("bad value for ") + flag + ": " + value);
  }
  EXPECT_EQ(ErrorOf({"--speed", "2", "--rate", "5"}), "--speed and --rate exclude each other");
}

TEST(SimOptionsTest, ClassesByNumberAndResultDefault) {
  SimOptions options;
  ASSERT_TRUE(Parse({"--fail-result", "2:0", "--unknown-message", "7:1"}, &options));
  EXPECT_EQ(options.faults.fail_kind->msg_class, 2);
  EXPECT_EQ(options.faults.fail_result, 3);
  EXPECT_EQ(options.faults.unknown_message->msg_class, 7);
}

TEST(SimOptionsTest, MistakesAreRefusedWithAReason) {
  EXPECT_EQ(ErrorOf({"--bogus", "1"}), "unknown flag: --bogus");
  EXPECT_EQ(ErrorOf({"--groups"}), "unknown flag or missing value: --groups");
  EXPECT_EQ(ErrorOf({"--groups", "x"}), "bad value for --groups: x");
  EXPECT_EQ(ErrorOf({"--listen", "localhost:5"}), "bad value for --listen: localhost:5");
  EXPECT_EQ(ErrorOf({"--listen", "127.0.0.1:70000"}), "bad value for --listen: 127.0.0.1:70000");
  EXPECT_EQ(ErrorOf({"--servers", "0"}), "bad value for --servers: 0");
  EXPECT_EQ(ErrorOf({"--rate", "-1"}), "bad value for --rate: -1");
  EXPECT_EQ(ErrorOf({"--split-records", "0"}), "bad value for --split-records: 0");
  EXPECT_EQ(ErrorOf({"--fail-result", "response:5:0"}),
            "bad value for --fail-result: response:5:0");
  EXPECT_EQ(ErrorOf({"--unknown-message", "event:1:2"}),
            "bad value for --unknown-message: event:1:2");
  EXPECT_EQ(ErrorOf({"--bad-length", "70000"}), "bad value for --bad-length: 70000");
  EXPECT_EQ(ErrorOf({"--scenario", "x", "--agents", "3"}),
            "--scenario and --groups/--agents exclude each other");
}

TEST(SimOptionsTest, HelpDocumentsEveryFlag) {
  const std::string help = SimOptions::HelpText();
  for (const char* flag : {"--listen",
                           "--servers",
                           "--record",
                           "--scenario",
                           "--groups",
                           "--agents",
                           "--seed",
                           "--rate",
                           "--events",
                           "--start-time",
                           "--close-after",
                           "--split-records",
                           "--bad-length",
                           "--unknown-message",
                           "--fail-result",
                           "--names-without-nul",
                           "--count-beyond",
                           "--short-bodies",
                           "--stop-reading",
                           "--help",
                           "--speed",
                           "--calls-per-hour",
                           "--talk-time",
                           "--wrap-up",
                           "--patience",
                           "--profile",
                           "--directory-changes"}) {
    EXPECT_NE(help.find(std::string("  ") + flag + " "), std::string::npos) << flag;
  }
}

}  // namespace
}  // namespace callsink::acdsim
