#include <gtest/gtest.h>
#include <mysql.h>
#include <mysqld_error.h>

#include <chrono>
#include <memory>

#include "tests/support/mariadb_env.h"
#include "tests/support/mariadb_server.h"

namespace callsink::test {
namespace {

using Connection = std::unique_ptr<MYSQL, decltype(&mysql_close)>;

enum class Via { kSocket, kTcp };

// Connects with explicit socket or port; null when the connect fails.
// `timeout_seconds` bounds connect and reads so that a paused server cannot
// hold the test.
Connection Connect(const MariaDbEnv& env, Via via, const std::string& user,
                   const std::string& password, unsigned int timeout_seconds = 10) {
  Connection connection(mysql_init(nullptr), &mysql_close);
  mysql_options(connection.get(), MYSQL_OPT_CONNECT_TIMEOUT, &timeout_seconds);
  mysql_options(connection.get(), MYSQL_OPT_READ_TIMEOUT, &timeout_seconds);
  const bool tcp = via == Via::kTcp;
  if (mysql_real_connect(connection.get(), tcp ? env.host.c_str() : "localhost", user.c_str(),
                         password.c_str(), nullptr, tcp ? static_cast<unsigned int>(env.port) : 0,
                         tcp ? nullptr : env.socket.c_str(), 0) == nullptr) {
    return Connection(nullptr, &mysql_close);
  }
  return connection;
}

std::string QueryOne(MYSQL* connection, const std::string& sql) {
  if (mysql_query(connection, sql.c_str()) != 0)
    return "error: " + std::string(mysql_error(connection));
  std::unique_ptr<MYSQL_RES, decltype(&mysql_free_result)> result(mysql_store_result(connection),
                                                                  &mysql_free_result);
  if (!result) return "no result";
  MYSQL_ROW row = mysql_fetch_row(result.get());
  return row != nullptr && row[0] != nullptr ? row[0] : "NULL";
}

TEST(MariaDbFixtureTest, SharedServerAnswersOnSocketAndTcpWithUtf8mb4Defaults) {
  const std::optional<MariaDbEnv> env = MariaDbEnv::Load();
  CALLSINK_REQUIRE_MARIADB(env);
  EXPECT_EQ(env->host, "127.0.0.1");
  EXPECT_NE(env->port, 3306);
  for (Via via : {Via::kSocket, Via::kTcp}) {
    Connection admin = Connect(*env, via, env->admin_user, env->admin_password);
    ASSERT_TRUE(admin) << "via " << (via == Via::kTcp ? "TCP" : "socket");
    EXPECT_EQ(QueryOne(admin.get(), "select @@character_set_server"), "utf8mb4");
    EXPECT_EQ(QueryOne(admin.get(), "select @@collation_server"), "utf8mb4_general_ci");
    EXPECT_EQ(QueryOne(admin.get(), "select @@port"), std::to_string(env->port));
  }
}

TEST(MariaDbFixtureTest, LimitedUserMayConnectButNeitherCreateDatabasesNorTables) {
  const std::optional<MariaDbEnv> env = MariaDbEnv::Load();
  CALLSINK_REQUIRE_MARIADB(env);
  Connection limited = Connect(*env, Via::kTcp, env->limited_user, env->limited_password);
  ASSERT_TRUE(limited);
  EXPECT_NE(mysql_query(limited.get(), "create database acd_db"), 0);
  EXPECT_EQ(mysql_errno(limited.get()), static_cast<unsigned int>(ER_DBACCESS_DENIED_ERROR));
  EXPECT_NE(mysql_query(limited.get(), "create table IF NOT EXISTS acd_db.fixture_probe (a int)"),
            0);
  EXPECT_EQ(mysql_errno(limited.get()), static_cast<unsigned int>(ER_TABLEACCESS_DENIED_ERROR));
}

TEST(MariaDbFixtureTest, WrongPasswordIsRefused) {
  const std::optional<MariaDbEnv> env = MariaDbEnv::Load();
  CALLSINK_REQUIRE_MARIADB(env);
  EXPECT_FALSE(Connect(*env, Via::kTcp, env->admin_user, env->admin_password + "x"));
}

class MariaDbServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.Start();
    CALLSINK_REQUIRE_MARIADB(server_.env());
  }

  bool AdminConnects(Via via, unsigned int timeout_seconds = 10) {
    const MariaDbEnv& env = *server_.env();
    return Connect(env, via, env.admin_user, env.admin_password, timeout_seconds) != nullptr;
  }

  MariaDbServer server_;
};

TEST_F(MariaDbServerTest, OwnServerListensOnItsOwnPortAndSocket) {
  const std::optional<MariaDbEnv> shared = MariaDbEnv::Load();
  if (shared.has_value()) {
    EXPECT_NE(server_.env()->port, shared->port);
    EXPECT_NE(server_.env()->socket, shared->socket);
  }
  EXPECT_TRUE(AdminConnects(Via::kSocket));
  EXPECT_TRUE(AdminConnects(Via::kTcp));
}

TEST_F(MariaDbServerTest, StoppedServerRefusesAndRestartsOnTheSamePortWithItsData) {
  {
    Connection admin = Connect(*server_.env(), Via::kTcp, server_.env()->admin_user,
                               server_.env()->admin_password);
    ASSERT_TRUE(admin);
    ASSERT_EQ(mysql_query(admin.get(), "create database kept"), 0);
  }
  const MariaDbEnv before = *server_.env();
  ASSERT_TRUE(server_.Stop());
  EXPECT_FALSE(server_.env().has_value());
  EXPECT_FALSE(Connect(before, Via::kTcp, before.admin_user, before.admin_password));

  ASSERT_TRUE(server_.Restart());
  EXPECT_EQ(server_.env()->port, before.port);
  EXPECT_EQ(server_.env()->socket, before.socket);
  Connection admin =
      Connect(*server_.env(), Via::kSocket, before.admin_user, before.admin_password);
  ASSERT_TRUE(admin);
  EXPECT_EQ(QueryOne(admin.get(),
                     "select count(*) from information_schema.schemata "
                     "where schema_name='kept'"),
            "1");
}

TEST_F(MariaDbServerTest, PausedServerHoldsClientsUntilResumed) {
  ASSERT_TRUE(server_.Pause());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(AdminConnects(Via::kTcp, 1));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  ASSERT_TRUE(server_.Resume());
  EXPECT_TRUE(AdminConnects(Via::kTcp));
}

TEST_F(MariaDbServerTest, KilledServerIsGoneAndRestartRecovers) {
  ASSERT_TRUE(server_.Kill());
  EXPECT_FALSE(AdminConnects(Via::kSocket, 1));
  ASSERT_TRUE(server_.Restart());
  EXPECT_TRUE(AdminConnects(Via::kSocket));
}

}  // namespace
}  // namespace callsink::test
