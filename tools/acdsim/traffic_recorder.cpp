#include "tools/acdsim/traffic_recorder.h"

#include <sys/time.h>

#include "protocol/acd_header.h"

namespace callsink::acdsim {

TrafficRecorder::~TrafficRecorder() {
  if (file_ != nullptr) std::fclose(file_);
}

bool TrafficRecorder::Open(const std::string& path) {
  file_ = std::fopen(path.c_str(), "we");
  return file_ != nullptr;
}

void TrafficRecorder::Record(uint16_t port, uint64_t connection, Direction direction,
                             std::span<const uint8_t> message) {
  if (file_ == nullptr) return;
  const AcdHeader header = HeaderToHost(message.first<wire::kHeaderSize>());
  static constexpr const char* kDirections[] = {"in", "out", "missed"};
  timeval now{};
  gettimeofday(&now, nullptr);
  std::fprintf(file_, "%lld.%06ld %u %llu %s %u %u %u ", static_cast<long long>(now.tv_sec),
               static_cast<long>(now.tv_usec), port, static_cast<unsigned long long>(connection),
               kDirections[static_cast<int>(direction)], header.msg_class, header.msg_type,
               header.request_id);
  static const char kDigits[] = "0123456789abcdef";
  line_.clear();
  for (uint8_t byte : message) {
    line_.push_back(kDigits[byte >> 4]);
    line_.push_back(kDigits[byte & 0x0f]);
  }
  line_.push_back('\n');
  std::fwrite(line_.data(), 1, line_.size(), file_);
}

void TrafficRecorder::Flush() {
  if (file_ != nullptr) std::fflush(file_);
}

}  // namespace callsink::acdsim
