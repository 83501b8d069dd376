// A scrape of the collector's metrics page with 99 servers configured, every
// figure non-zero and the journal's families served for every worker (the
// largest page): the page alone, and whole scrapes over HTTP on loopback
// (endpoint thread, process figures from /proc, client), one after another.
// Prints wall and CPU time (this process: server and client) per scrape.
//
//   scrape_bench [SCRAPES]
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "health/metrics_client.h"
#include "health/metrics_endpoint.h"
#include "health/metrics_page.h"

namespace callsink {
namespace {

constexpr int kServers = 99;

std::vector<MetricsPage::Worker> BusyWorkers() {
  std::vector<MetricsPage::Worker> workers;
  for (int i = 1; i <= kServers; ++i) {
    auto stats = std::make_shared<WorkerStats>();
    for (uint16_t type = 0; type < WorkerStats::kTypeCount; ++type) {
      stats->CountMessage(1, type);
      stats->CountMessage(2, type);
    }
    for (size_t table = 0; table < WorkerStats::kTableCount; ++table) {
      stats->CountRows(static_cast<WorkerStats::Table>(table), 123456);
    }
    stats->CountConnect(WorkerStats::Link::kAcd);
    stats->CountRetry(WorkerStats::Link::kDatabase);
    stats->SetLinkUp(WorkerStats::Link::kAcd, true);
    stats->SetJournalCap(1 << 30);
    stats->SetJournalBacklog(4000, 1 << 20);
    stats->SetApplyLag(0.042);
    stats->ObserveApplyLatency(0.042);
    workers.push_back({i, "10.0.1." + std::to_string(i), std::move(stats)});
  }
  return workers;
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs `body` `count` times; prints wall and CPU milliseconds per run.
template <typename Body>
void Measure(const char* what, int count, Body body) {
  const auto start = std::chrono::steady_clock::now();
  const double cpu_start = CpuSeconds();
  for (int i = 0; i < count; ++i) body();
  const double cpu = CpuSeconds() - cpu_start;
  const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
  std::printf("%-32s %8.2f ms wall %8.2f ms CPU per run (%d runs)\n", what,
              wall.count() * 1000 / count, cpu * 1000 / count, count);
}

int Main(int scrapes) {
  const auto page = std::make_shared<const MetricsPage>(BusyWorkers());
  const ProcessFigures process = ProcessFigures::Read();
  std::string text;
  Measure("page (99 servers)", scrapes, [&] { text = page->Render(process); });
  std::printf("page: %zu bytes, %zu lines\n", text.size(),
              static_cast<size_t>(std::count(text.begin(), text.end(), '\n')));
  Measure("process figures from /proc", scrapes, [] { (void)ProcessFigures::Read(); });

  MetricsEndpoint endpoint([page] { return page->Render(); });
  std::string error;
  if (!endpoint.Start("127.0.0.1", 0, &error)) {
    std::fprintf(stderr, "cannot listen: %s\n", error.c_str());
    return 1;
  }
  bool fetched = true;
  Measure("scrape over HTTP (99 servers)", scrapes, [&] {
    fetched = MetricsClient::Fetch("127.0.0.1", endpoint.port(), &text, &error) && fetched;
  });
  if (!fetched) std::fprintf(stderr, "a scrape failed: %s\n", error.c_str());
  return fetched ? 0 : 1;
}

}  // namespace
}  // namespace callsink

int main(int argc, char** argv) { return callsink::Main(argc > 1 ? std::atoi(argv[1]) : 200); }
