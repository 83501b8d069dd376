// The metrics page as a scraper reads it: label values from outside come
// back as they were, and a page rendered while workers start, count and
// end is always well formed (each family once, typed, its samples
// together, only the workers it has figures for).
#include "health/metrics_page.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "health/scraped_metrics.h"

namespace callsink {
namespace {

// What promtool (installed with the project's packages) says of a page:
// "" when it finds nothing wrong.
std::string PromtoolFindings(const std::string& page) {
  char path[] = "/tmp/callsink-page-XXXXXX";
  const int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(write(fd, page.data(), page.size()), static_cast<ssize_t>(page.size()));
  close(fd);
  const std::string command = std::string("/usr/bin/promtool check metrics < ") + path + " 2>&1";
  std::string findings;
  FILE* out = popen(command.c_str(), "r");
  char buffer[256];
  while (fgets(buffer, sizeof buffer, out) != nullptr) findings += buffer;
  pclose(out);
  unlink(path);
  return findings;
}

// Checks the page's shape; returns the `server` label of each worker with
// journal samples.
std::set<std::string> ExpectWellFormed(const std::string& page) {
  std::istringstream lines(page);
  std::string line, open;
  std::set<std::string> typed, seen_families, journal_servers;
  while (std::getline(lines, line)) {
    if (line.rfind("# TYPE ", 0) == 0) {
      std::istringstream words(line.substr(7));
      std::string name, type;
      words >> name >> type;
      EXPECT_TRUE(typed.insert(name).second) << "twice: " << name;
      EXPECT_TRUE(type == "counter" || type == "gauge" || type == "histogram") << line;
      open = name;
      continue;
    }
    if (line.empty() || line[0] == '#') continue;
    const std::string name = line.substr(0, line.find_first_of("{ "));
    // A sample belongs to the family opened last (a histogram's by prefix).
    EXPECT_EQ(name.rfind(open, 0), 0u) << line;
    if (open.find("journal") != std::string::npos) {
      const auto server = ScrapedMetrics::Parse(line).samples().at(0).labels.at("server");
      journal_servers.insert(server);
    }
  }
  return journal_servers;
}

TEST(MetricsPageTest, LabelValuesFromOutsideReadBackAsTheyWere) {
  const std::string hostile = "10.0.0.5\" } evil 1\n\\x";
  auto stats = std::make_shared<WorkerStats>();
  stats->CountMessage(2, 1);
  stats->SetJournalCap(1024);
  const std::string page = MetricsPage({{1, hostile, stats}}).Render();
  EXPECT_NE(page.find(R"(server="10.0.0.5\" } evil 1\n\\x")"), std::string::npos) << page;
  const ScrapedMetrics scraped = ScrapedMetrics::Parse(page);
  EXPECT_EQ(scraped.Find("callsink_messages_received_total",
                         {{"server", hostile}, {"class", "event"}, {"type", "CDR"}}),
            std::optional<double>(1));
  EXPECT_EQ(scraped.Find("evil", {}), std::nullopt);
  ExpectWellFormed(page);
  EXPECT_EQ(PromtoolFindings(page), "") << page;
}

TEST(MetricsPageTest, PagesRenderedWhileWorkersStartCountAndEndAreWellFormed) {
  constexpr size_t kWorkers = 4;
  std::vector<MetricsPage::Worker> workers;
  for (size_t i = 0; i < kWorkers; ++i) {
    workers.push_back({static_cast<int>(i) + 1, "10.0.0." + std::to_string(i + 1),
                       std::make_shared<WorkerStats>()});
  }
  const MetricsPage page(workers);
  std::vector<std::thread> writers;
  for (size_t i = 0; i < kWorkers; ++i) {
    // Each worker feeds its journal's figures only after a while (its
    // journal opens late, or never for the last one), then ends: its
    // figures stay with the page.
    writers.emplace_back([&, i, stats = std::const_pointer_cast<WorkerStats>(workers[i].stats)] {
      for (int n = 0; n < 20000; ++n) {
        stats->CountMessage(static_cast<uint16_t>(n % 3), static_cast<uint16_t>(n % 9));
        stats->CountRows(WorkerStats::Table::kCdr, 1);
        const bool journal = i < kWorkers - 1 && n >= 5000 * static_cast<int>(i + 1);
        if (journal && n % 100 == 0) stats->ObserveApplyLatency(0.01 * (n % 7));
      }
    });
  }
  std::set<std::string> journal_servers;
  for (int render = 0; render < 300; ++render) {
    journal_servers = ExpectWellFormed(page.Render());
    if (::testing::Test::HasFailure()) break;
  }
  for (auto& writer : writers) writer.join();
  journal_servers = ExpectWellFormed(page.Render());
  EXPECT_EQ(journal_servers, (std::set<std::string>{"10.0.0.1", "10.0.0.2", "10.0.0.3"}));
  EXPECT_EQ(PromtoolFindings(page.Render()), "");
}

}  // namespace
}  // namespace callsink
