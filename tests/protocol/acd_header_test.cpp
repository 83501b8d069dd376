#include "protocol/acd_header.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "tests/protocol/wire_bytes.h"

namespace callsink {
namespace {

using test::FromHex;
using test::ToHex;
using test::WireBytes;

AcdHeader Decode(const std::vector<uint8_t>& bytes) {
  return HeaderToHost(std::span<const uint8_t, 20>(bytes.data(), 20));
}

std::string Encode(const AcdHeader& header) {
  std::array<uint8_t, 20> bytes{};
  HeaderToNetwork(header, bytes);
  return ToHex(bytes);
}

TEST(AcdHeaderTest, ToNetworkWritesEveryFieldBigEndianAtItsOffset) {
  AcdHeader header;
  header.protocol = 6;
  header.msg_class = 0x0102;
  header.msg_type = 0x0304;
  header.result = 0x0506;
  header.request_id = 0x0708090a;
  header.length = 0x0b0c0d0e;
  header.timestamp = 0x0f101112;
  EXPECT_EQ(Encode(header),
            "0006"
            "0102"
            "0304"
            "0506"
            "0708090a"
            "0b0c0d0e"
            "0f101112");
}

TEST(AcdHeaderTest, ToNetworkAlwaysSendsProtocolSix) {
  for (uint16_t protocol : {uint16_t{0}, uint16_t{5}, uint16_t{7}, uint16_t{0xffff}}) {
    AcdHeader header;
    header.protocol = protocol;
    EXPECT_EQ(Encode(header).substr(0, 4), "0006") << protocol;
  }
}

TEST(AcdHeaderTest, ToHostReadsAGoldenEventHeader) {
  // A Status event: class 2, type 0, result 0, request 0, 56 bytes, at
  // 2024-06-01 00:00:00 UTC.
  const AcdHeader header = Decode(FromHex("0006 0002 0000 0000 00000000 00000038 665a6480"));
  EXPECT_EQ(header.protocol, 6);
  EXPECT_EQ(header.msg_class, 2);
  EXPECT_EQ(header.msg_type, 0);
  EXPECT_EQ(header.result, 0);
  EXPECT_EQ(header.request_id, 0u);
  EXPECT_EQ(header.length, 56u);
  EXPECT_EQ(header.timestamp, 1717200000u);
}

TEST(AcdHeaderTest, ToHostKeepsBoundaryValuesOfEveryField) {
  const uint32_t values32[] = {0u, 0x7fffffffu, 0x80000000u, 0xffffffffu};
  const uint16_t values16[] = {0, 0x7fff, 0x8000, 0xffff};
  for (int i = 0; i < 4; ++i) {
    const uint16_t v16 = values16[i];
    const uint32_t v32 = values32[i];
    const AcdHeader header = Decode(WireBytes().Header(v16, v16, v16, v32, v32, v32, v16).bytes());
    EXPECT_EQ(header.protocol, v16);
    EXPECT_EQ(header.msg_class, v16);
    EXPECT_EQ(header.msg_type, v16);
    EXPECT_EQ(header.result, v16);
    EXPECT_EQ(header.request_id, v32);
    EXPECT_EQ(header.length, v32);
    EXPECT_EQ(header.timestamp, v32);
  }
}

TEST(AcdHeaderTest, ToHostTestsNoFieldSoForeignProtocolsAndClassesPass) {
  const AcdHeader header = Decode(WireBytes().Header(9, 6, 3, 42, 20, 1, /*protocol=*/77).bytes());
  EXPECT_EQ(header.protocol, 77);
  EXPECT_EQ(header.msg_class, 9);
  EXPECT_EQ(header.msg_type, 6);
  EXPECT_EQ(header.result, 3);
}

TEST(AcdHeaderTest, RoundTripKeepsEverythingButTheProtocol) {
  AcdHeader header;
  header.protocol = 6;
  header.msg_class = 1;
  header.msg_type = 7;
  header.result = 0xfffe;
  header.request_id = 999;
  header.length = 4096;
  header.timestamp = 0xfffffffe;
  std::array<uint8_t, 20> bytes{};
  HeaderToNetwork(header, bytes);
  EXPECT_EQ(HeaderToHost(bytes), header);
}

TEST(AcdHeaderTest, BodyLengthAcceptsOnlyMessagesThatFitTheReceiveBuffer) {
  struct Row {
    uint32_t length;
    std::optional<size_t> body;
  };
  const Row rows[] = {
      {0, std::nullopt},
      {19, std::nullopt},
      {20, 0},
      {21, 1},
      {56, 36},
      {4096, 4076},
      {4097, std::nullopt},
      {0x80000000u, std::nullopt},
      {0xffffffffu, std::nullopt},
  };
  for (const Row& row : rows) {
    AcdHeader header;
    header.length = row.length;
    EXPECT_EQ(BodyLength(header), row.body) << row.length;
  }
}

}  // namespace
}  // namespace callsink
