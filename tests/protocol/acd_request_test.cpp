#include "protocol/acd_request.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/protocol/wire_bytes.h"

namespace callsink {
namespace {

using test::ToHex;
using test::WireBytes;

std::string Hex(const AcdRequest& request) { return ToHex(request.bytes()); }

struct RequestRow {
  const char* name;
  AcdRequest request;
  std::vector<uint8_t> expected;
};

// Every request type, built from the record tables field by field.
std::vector<RequestRow> EveryRequestType() {
  return {
      {"SubscribeStatus", AcdRequest::SubscribeStatus(17, "Sales", "1001"),
       WireBytes().Header(0, 0, 0, 17, 56, 0).Name("1001").Name("Sales").Le32(1).bytes()},
      {"SubscribeCall", AcdRequest::SubscribeCall(18, "Support"),
       WireBytes().Header(0, 1, 0, 18, 40, 0).Name("Support").Le32(1).bytes()},
      {"SubscribeCDR", AcdRequest::SubscribeCDR(19, "*"),
       WireBytes().Header(0, 2, 0, 19, 40, 0).Name("*").Le32(1).bytes()},
      {"SubscribeConfig", AcdRequest::SubscribeConfig(20),
       WireBytes().Header(0, 3, 0, 20, 24, 0).Be32(1).bytes()},
      {"Status", AcdRequest::Status(21, "Sales", "1001"),
       WireBytes().Header(0, 4, 0, 21, 56, 0).Name("1001").Name("Sales").Be32(0).bytes()},
      {"GetGroups", AcdRequest::GetGroups(22),
       WireBytes().Header(0, 5, 0, 22, 24, 0).Be32(0).bytes()},
      {"GetAgents", AcdRequest::GetAgents(23, "Sales"),
       WireBytes().Header(0, 6, 0, 23, 40, 0).Name("Sales").Be32(0).bytes()},
      {"GetAllAgents", AcdRequest::GetAllAgents(24),
       WireBytes().Header(0, 7, 0, 24, 40, 0).Zeros(16).Be32(0).bytes()},
  };
}

TEST(AcdRequestTest, EveryRequestTypeHasItsExactBytes) {
  for (const RequestRow& row : EveryRequestType()) {
    EXPECT_EQ(Hex(row.request), ToHex(row.expected)) << row.name;
    EXPECT_EQ(row.request.size(), row.expected.size()) << row.name;
  }
}

TEST(AcdRequestTest, GetGroupsNumber123IsTwentyFourBytesOfHeaderAndNumber) {
  EXPECT_EQ(Hex(AcdRequest::GetGroups(123)),
            "0006000000050000"
            "0000007b00000018"
            "0000000000000000");
}

TEST(AcdRequestTest, SubscribeConfigCarriesItsFlagBigEndian) {
  const std::string hex = Hex(AcdRequest::SubscribeConfig(5));
  ASSERT_EQ(hex.size(), 48u);
  EXPECT_EQ(hex.substr(40), "00000001");
  EXPECT_EQ(hex.substr(24, 8), "00000018");
}

TEST(AcdRequestTest, SubscribeCallWithStarCarriesItsFlagLittleEndian) {
  const std::string hex = Hex(AcdRequest::SubscribeCall(5, "*"));
  ASSERT_EQ(hex.size(), 80u);
  EXPECT_EQ(hex.substr(24, 8), "00000028");
  EXPECT_EQ(hex.substr(40), "2a" + std::string(30, '0') + "01000000");
}

TEST(AcdRequestTest, SubscribeStatusWithStarsPutsAgentThenGroupThenLittleEndianFlag) {
  const std::string hex = Hex(AcdRequest::SubscribeStatus(5, "*", "*"));
  const std::string star_field = "2a" + std::string(30, '0');
  ASSERT_EQ(hex.size(), 112u);
  EXPECT_EQ(hex.substr(24, 8), "00000038");
  EXPECT_EQ(hex.substr(40), star_field + star_field + "01000000");
}

TEST(AcdRequestTest, SubscribeStatusTakesGroupFirstButSendsAgentFirst) {
  const AcdRequest request = AcdRequest::SubscribeStatus(5, "G", "A");
  EXPECT_EQ(request.data()[20], 'A');
  EXPECT_EQ(request.data()[36], 'G');
}

TEST(AcdRequestTest, StatusFor1001InSalesHasAgentAt20GroupAt36AndZeroValue) {
  const AcdRequest request = AcdRequest::Status(7, "Sales", "1001");
  const std::vector<uint8_t> expected =
      WireBytes().Header(0, 4, 0, 7, 56, 0).Name("1001").Name("Sales").Zeros(4).bytes();
  EXPECT_EQ(Hex(request), ToHex(expected));
  EXPECT_EQ(Hex(request).substr(104), "00000000");
}

TEST(AcdRequestTest, FifteenCharacterNameFillsTheFieldWithItsNulLast) {
  const std::string name = "ABCDEFGHIJKLMNO";
  const AcdRequest request = AcdRequest::GetAgents(1, name);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(request.data() + 20), 15), name);
  EXPECT_EQ(request.data()[35], 0);
}

TEST(AcdRequestTest, LongerNamesAreCutSoTheNulStillFits) {
  const AcdRequest request = AcdRequest::GetAgents(1, "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
  EXPECT_EQ(Hex(request),
            ToHex(WireBytes().Header(0, 6, 0, 1, 40, 0).Name("ABCDEFGHIJKLMNO").Be32(0).bytes()));
}

TEST(AcdRequestTest, NameEndsAtAnEmbeddedNulAndEveryLaterByteIsZero) {
  const AcdRequest request = AcdRequest::GetAgents(1, std::string_view("ab\0cd", 5));
  EXPECT_EQ(Hex(request), ToHex(WireBytes().Header(0, 6, 0, 1, 40, 0).Name("ab").Be32(0).bytes()));
}

TEST(AcdRequestTest, EmptyNameLeavesTheFieldZero) {
  EXPECT_EQ(Hex(AcdRequest::GetAgents(1, "")),
            ToHex(WireBytes().Header(0, 6, 0, 1, 40, 0).Zeros(16).Be32(0).bytes()));
}

TEST(AcdRequestTest, RequestNumberBoundariesTravelUnchanged) {
  for (uint32_t id : {0u, 999u, 0x7fffffffu, 0x80000000u, 0xffffffffu}) {
    const std::string hex = Hex(AcdRequest::GetGroups(id));
    EXPECT_EQ(hex.substr(16, 8), ToHex(WireBytes().Be32(id).bytes())) << id;
  }
}

}  // namespace
}  // namespace callsink
