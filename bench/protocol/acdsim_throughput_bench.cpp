// How many events per second acdsim pushes over one connection to a reader
// that only reads. The server runs in-process on its own thread, unpaced;
// it closes the connection after the four subscriptions' answers and N
// events, so the reader just reads until the end of the stream.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_descriptor.h"
#include "platform/manual_reset_event.h"
#include "protocol/acd_request.h"
#include "tools/acdsim/acd_simulator.h"

namespace callsink::acdsim {
namespace {

void BM_AcdsimEventsToAReader(benchmark::State& state) {
  const auto events = static_cast<uint64_t>(state.range(0));
  SimOptions options;
  options.rate = 0;
  options.groups = 20;
  options.agents = 400;
  options.faults.close_after = events + 4;
  CallCentre centre;
  std::string error;
  if (!AcdSimulator::LoadCentre(options, &centre, &error)) std::abort();
  AcdSimulator simulator(options, std::move(centre));
  if (!simulator.Listen(&error)) std::abort();
  ManualResetEvent stop;
  std::thread server([&] { simulator.Run(stop); });

  std::vector<uint8_t> buffer(1 << 20);
  uint64_t bytes = 0;
  for (auto _ : state) {
    FileDescriptor client(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(simulator.ports()[0]);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(client.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      std::abort();
    }
    // All four streams, as the collector subscribes; one write, so the
    // server sees them together.
    std::vector<uint8_t> requests;
    for (const AcdRequest& request :
         {AcdRequest::SubscribeConfig(1), AcdRequest::SubscribeCDR(2, "*"),
          AcdRequest::SubscribeStatus(3, "*", "*"), AcdRequest::SubscribeCall(4, "*")}) {
      requests.insert(requests.end(), request.data(), request.data() + request.size());
    }
    if (send(client.get(), requests.data(), requests.size(), 0) < 0) std::abort();
    // Timed from the first bytes on: the server holds events back for a
    // moment after the first subscription.
    ssize_t got = recv(client.get(), buffer.data(), buffer.size(), 0);
    const auto start = std::chrono::steady_clock::now();
    for (; got > 0; got = recv(client.get(), buffer.data(), buffer.size(), 0)) {
      bytes += static_cast<uint64_t>(got);
    }
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  stop.Set();
  server.join();
  state.counters["events/s"] =
      benchmark::Counter(static_cast<double>(events) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

BENCHMARK(BM_AcdsimEventsToAReader)->Arg(1000000)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace callsink::acdsim

BENCHMARK_MAIN();
