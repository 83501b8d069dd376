// Sends a file of SQL statements, one per line, through a bare mysql_query
// loop on one connection: the most one connection can do with exactly the
// statements a collector run sent. Prints "statements N seconds S".
//
//   statement_replay SOCKET USER PASSWORD FILE
#include <mysql.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: statement_replay SOCKET USER PASSWORD FILE\n");
    return 2;
  }
  std::vector<std::string> statements;
  std::ifstream in(argv[4], std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) statements.push_back(line);
  }
  MYSQL* handle = mysql_init(nullptr);
  // latin1, like the collector, so that the bytes mean the same.
  mysql_options(handle, MYSQL_SET_CHARSET_NAME, "latin1");
  if (mysql_real_connect(handle, "localhost", argv[2], argv[3], "", 0, argv[1], 0) == nullptr) {
    std::fprintf(stderr, "statement_replay: %s\n", mysql_error(handle));
    return 1;
  }
  size_t failed = 0;
  const auto start = std::chrono::steady_clock::now();
  for (const std::string& statement : statements) {
    if (mysql_real_query(handle, statement.data(), statement.size()) != 0) ++failed;
    // A select's rows must be read before the next statement, as the store does.
    if (MYSQL_RES* result = mysql_store_result(handle)) mysql_free_result(result);
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  std::printf("statements %zu failed %zu seconds %.3f\n", statements.size(), failed,
              elapsed.count());
  mysql_close(handle);
  return 0;
}
