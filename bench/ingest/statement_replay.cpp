// Sends a file of SQL statements, one per line, through a bare mysql_query
// loop on one connection: the most one connection can do with exactly the
// statements a collector run sent. PINGS spreads that many mysql_ping calls
// evenly among them: the collector pings once per message it receives, and
// the general log the statements come from does not record pings. Prints
// "statements N pings P failed F seconds S". The server is a socket path or,
// over TCP, HOST:PORT.
//
//   statement_replay SOCKET|HOST:PORT USER PASSWORD FILE [PINGS]
#include <mysql.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 5 && argc != 6) {
    std::fprintf(stderr, "usage: statement_replay SOCKET|HOST:PORT USER PASSWORD FILE [PINGS]\n");
    return 2;
  }
  const size_t pings = argc == 6 ? std::strtoul(argv[5], nullptr, 10) : 0;
  std::vector<std::string> statements;
  std::ifstream in(argv[4], std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) statements.push_back(line);
  }
  MYSQL* handle = mysql_init(nullptr);
  // latin1, like the collector, so that the bytes mean the same.
  mysql_options(handle, MYSQL_SET_CHARSET_NAME, "latin1");
  const std::string server = argv[1];
  const size_t colon = server.rfind(':');
  const bool tcp = server.front() != '/' && colon != std::string::npos;
  const std::string host = tcp ? server.substr(0, colon) : "localhost";
  const unsigned int port =
      tcp ? static_cast<unsigned int>(std::stoul(server.substr(colon + 1))) : 0;
  if (mysql_real_connect(handle, host.c_str(), argv[2], argv[3], "", port,
                         tcp ? nullptr : server.c_str(), 0) == nullptr) {
    std::fprintf(stderr, "statement_replay: %s\n", mysql_error(handle));
    return 1;
  }
  size_t failed = 0;
  size_t pinged = 0;
  const auto start = std::chrono::steady_clock::now();
  for (size_t i = 0; i < statements.size(); ++i) {
    // Pings due before statement i: (i + 1) * pings / statements in all.
    for (const size_t due = (i + 1) * pings / statements.size(); pinged < due; ++pinged) {
      if (mysql_ping(handle) != 0) ++failed;
    }
    const std::string& statement = statements[i];
    if (mysql_real_query(handle, statement.data(), statement.size()) != 0) ++failed;
    // A select's rows must be read before the next statement, as the store does.
    if (MYSQL_RES* result = mysql_store_result(handle)) mysql_free_result(result);
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  std::printf("statements %zu pings %zu failed %zu seconds %.3f\n", statements.size(), pinged,
              failed, elapsed.count());
  mysql_close(handle);
  return 0;
}
