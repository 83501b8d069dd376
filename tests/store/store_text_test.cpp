// Text values in every writer: quotes, backslashes and other characters with
// a meaning in SQL, every 8-bit byte and UTF-8, stored as received and read
// back byte for byte.
#include <string>

#include "store/mysql_result.h"
#include "tests/store/store_test.h"

namespace callsink::test {
namespace {

using ::testing::ElementsAre;
using ::testing::SizeIs;

std::string Bytes(int first, int last) {
  std::string bytes;
  for (int byte = first; byte <= last; ++byte) bytes += static_cast<char>(byte);
  return bytes;
}

struct NamedText {
  const char* name;
  std::string text;
};

class StoreTextTest : public StoreTest, public ::testing::WithParamInterface<NamedText> {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ConnectStore();
  }
};

// Every writer with the text as each of its text values, the server name
// included; every text column then holds exactly the text.
TEST_P(StoreTextTest, EveryWriterStoresTheTextExactly) {
  const std::string& text = GetParam().text;
  ASSERT_TRUE(store_.WriteGroup(text, text, 100, 1, true, 0));
  ASSERT_TRUE(store_.WriteAgent(text, text, text, 100, 1, true));
  ASSERT_TRUE(store_.WriteRelation(text, text, text, 100, 1, true));
  ASSERT_TRUE(store_.WriteRelationStatus(text, text, text, 100, 1));
  ASSERT_TRUE(store_.WriteStatusInterval(text, text, text, 160, 2));
  ASSERT_TRUE(store_.WriteRelationStatus(text, text, text, 160, 2));
  ASSERT_TRUE(store_.WriteCdr(text, text, text, text, text, 170, 5, 1, 0, 2));
  ASSERT_TRUE(store_.WriteCall(text, text, text, text, 180, 1, 0));
  ASSERT_TRUE(store_.WriteRelation(text, text, "", 190, 0, true));

  EXPECT_THAT(Rows("select Serv_Name, Group_Name from stock_groups"),
              ElementsAre(text + "|" + text));
  EXPECT_THAT(Rows("select Serv_Name, Agent_Name, Agent_FullName from stock_agents"),
              ElementsAre(text + "|" + text + "|" + text));
  EXPECT_THAT(Rows("select Serv_Name, Group_Name, Agent_Name, State, Modified, Status from "
                   "stock_relations"),
              ElementsAre(text + "|" + text + "|" + text + "|0|2|2"));
  // The select found the membership by its names: the interval is 100..160.
  EXPECT_THAT(Rows("select Serv_Name, Group_Name, Agent_Name, TimeStart, TimeEnd, Status from "
                   "stock_status"),
              ElementsAre(text + "|" + text + "|" + text + "|100|160|1"));
  EXPECT_THAT(Rows("select Serv_Name, Group_Name, Agent_Name, Caller_Usur, Call_GUID from "
                   "stock_cdr"),
              ElementsAre(text + "|" + text + "|" + text + "|" + text + "|" + text));
  EXPECT_THAT(Rows("select Serv_Name, Group_Name, Agent_Name, Call_ID from stock_calls"),
              ElementsAre(text + "|" + text + "|" + text + "|" + text));
  EXPECT_THAT(Rows("select Serv_Name from stock_time"), ElementsAre(text));
  EXPECT_THAT(Rows("select count(*) from information_schema.tables where table_schema='acd_db'"),
              ElementsAre("8"));
  EXPECT_THAT(LogLines(), ElementsAre("Connected to database (localhost)"));

  // The next pass clears exactly this server's directory rows.
  ASSERT_TRUE(store_.ClearServer(text));
  for (const char* table : {"stock_groups", "stock_agents", "stock_relations"}) {
    EXPECT_THAT(Rows(std::string("select * from ") + table), SizeIs(0)) << table;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, StoreTextTest,
    ::testing::Values(
        NamedText{"DoubleQuote", "Sales \"East\""}, NamedText{"Backslash", "C:\\queue\\"},
        NamedText{"SingleQuote", "O'Brien"}, NamedText{"PercentAndSemicolon", "100%; done"},
        NamedText{"Injection", "x\", 1, 1, 1, 1, 1 ); drop table stock_time; -- "},
        NamedText{"TrailingBackslash", "end\\"}, NamedText{"ControlBytes", Bytes(1, 31)},
        NamedText{"AsciiPrintable", Bytes(32, 95)}, NamedText{"AsciiPrintableRest", Bytes(96, 127)},
        NamedText{"HighBytes80ToBF", Bytes(0x80, 0xBF)},
        NamedText{"HighBytesC0ToFF", Bytes(0xC0, 0xFF)},
        NamedText{"Utf8", "Zo\xC3\xAB Stra\xC3\x9F\xC3\xA9 \xE2\x82\xAC"}),
    [](const ::testing::TestParamInfo<NamedText>& text) { return text.param.name; });

// The observer that the byte-for-byte tests read sees what the server
// receives: the server's general log holds the same statements, only without
// the blanks and semicolons that end some of them.
TEST_F(StoreTest, ObservedStatementsAreWhatTheServerReceives) {
  ConnectStore();
  ASSERT_TRUE(store_.WriteGroup(kServer, "Sales", 100, 1, true, 0));
  ASSERT_TRUE(store_.WriteAgent(kServer, "1001", "Ann \"A\" Smith", 100, 1, false));
  ASSERT_TRUE(store_.WriteRelation(kServer, "Sales", "1001", 100, 1, true));
  ASSERT_TRUE(store_.WriteRelation(kServer, "Sales", "", 100, 1, true));
  ASSERT_TRUE(store_.WriteStatusInterval(kServer, "Sales", "1001", 160, 2));
  ASSERT_TRUE(store_.WriteRelationStatus(kServer, "Sales", "1001", 160, 2));
  ASSERT_TRUE(store_.WriteCdr(kServer, "Sales", "1001", "c", "g", 170, 5, 1, 0, 2));
  ASSERT_TRUE(store_.WriteCall(kServer, "Sales", "1001", "c", 180, 1, 0));
  ASSERT_TRUE(store_.ClearServer(kServer));

  std::vector<std::string> trimmed = Sent();
  for (std::string& statement : trimmed) {
    while (!statement.empty() && (statement.back() == ' ' || statement.back() == ';')) {
      statement.pop_back();
    }
  }
  EXPECT_EQ(trimmed.size(), 17u);
  EXPECT_EQ(Statements(), trimmed);
}

TEST_F(StoreTest, EightBitNamesReadInUtf8AsTheirWesternCharacters) {
  ConnectStore();
  ASSERT_TRUE(store_.WriteAgent(kServer, "1001", "Andr\xE9 \x80", 100, 1, true));
  MySqlConnection reporting = ConnectAdmin("utf8mb4");
  ASSERT_TRUE(reporting);
  const char query[] = "select Agent_FullName from stock_agents";
  ASSERT_EQ(mysql_query(reporting.get(), query), 0);
  const MySqlResult result(mysql_store_result(reporting.get()));
  ASSERT_TRUE(result);
  MYSQL_ROW row = mysql_fetch_row(result.get());
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(std::string(row[0]), "Andr\xC3\xA9 \xE2\x82\xAC");
}

TEST_F(StoreTest, LongestProtocolTextsOfQuotesAreStoredWhole) {
  ConnectStore();
  // 63 characters: the longest text a record carries; each doubles when escaped.
  const std::string long_text(63, '"');
  ASSERT_TRUE(
      store_.WriteCdr(long_text, long_text, long_text, long_text, long_text, 1, 1, 1, 1, 1));
  EXPECT_THAT(Rows("select Serv_Name, Group_Name, Agent_Name, Caller_Usur, Call_GUID from "
                   "stock_cdr"),
              ElementsAre(long_text + "|" + long_text + "|" + long_text + "|" + long_text + "|" +
                          long_text));
}

}  // namespace
}  // namespace callsink::test
