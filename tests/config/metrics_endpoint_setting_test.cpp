#include "config/metrics_endpoint_setting.h"

#include <gtest/gtest.h>

namespace callsink {
namespace {

using Mode = MetricsEndpointSetting::Mode;

TEST(MetricsEndpointSettingTest, ValuesReadAsTheDefaultOffOrAnAddressAndAnythingElseIsInvalid) {
  struct Case {
    const char* text;
    Mode mode;
    const char* address;  // of a value that serves
  };
  for (const Case& c :
       {Case{"", Mode::kServe, "127.0.0.1:9661"}, Case{"off", Mode::kOff, ""},
        Case{"OFF", Mode::kOff, ""}, Case{"0.0.0.0:9100", Mode::kServe, "0.0.0.0:9100"},
        Case{"localhost:1", Mode::kServe, "localhost:1"},
        Case{"::1:65535", Mode::kServe, "::1:65535"}, Case{"127.0.0.1:0", Mode::kInvalid, ""},
        Case{"127.0.0.1:65536", Mode::kInvalid, ""}, Case{"127.0.0.1:", Mode::kInvalid, ""},
        Case{":9661", Mode::kInvalid, ""}, Case{"9661", Mode::kInvalid, ""},
        Case{"127.0.0.1:96a1", Mode::kInvalid, ""}, Case{"127.0.0.1:+9661", Mode::kInvalid, ""},
        Case{"no", Mode::kInvalid, ""}}) {
    SCOPED_TRACE(c.text);
    const MetricsEndpointSetting setting = MetricsEndpointSetting::FromText(c.text);
    EXPECT_EQ(setting.mode, c.mode);
    EXPECT_EQ(setting.text, c.text);
    if (c.mode == Mode::kServe) {
      EXPECT_EQ(setting.Address(), c.address);
    }
  }
}

}  // namespace
}  // namespace callsink
