// Encoding every request and decoding every body, as the collector does:
// one message in place in a 4096-byte receive buffer, header converted, body
// decoded, its fields read. Time per iteration is time per message.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/acd_header.h"
#include "protocol/acd_request.h"
#include "protocol/agent_list.h"
#include "protocol/call_body.h"
#include "protocol/cdr_body.h"
#include "protocol/config_update_body.h"
#include "protocol/full_agent_list.h"
#include "protocol/group_list.h"
#include "protocol/status_body.h"
#include "protocol/wire_coding.h"

namespace callsink {
namespace {

// ---- Requests -------------------------------------------------------------

template <typename Build>
void EncodeRequest(benchmark::State& state, Build build) {
  uint32_t request_id = 0;
  for (auto _ : state) {
    const AcdRequest request = build(request_id++ % 1000);
    benchmark::DoNotOptimize(request.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_EncodeSubscribeStatus(benchmark::State& state) {
  EncodeRequest(state, [](uint32_t id) { return AcdRequest::SubscribeStatus(id, "*", "*"); });
}
void BM_EncodeSubscribeCall(benchmark::State& state) {
  EncodeRequest(state, [](uint32_t id) { return AcdRequest::SubscribeCall(id, "*"); });
}
void BM_EncodeSubscribeCDR(benchmark::State& state) {
  EncodeRequest(state, [](uint32_t id) { return AcdRequest::SubscribeCDR(id, "*"); });
}
void BM_EncodeSubscribeConfig(benchmark::State& state) {
  EncodeRequest(state, [](uint32_t id) { return AcdRequest::SubscribeConfig(id); });
}
void BM_EncodeStatus(benchmark::State& state) {
  EncodeRequest(state, [](uint32_t id) { return AcdRequest::Status(id, "Support", "1001"); });
}
void BM_EncodeGetGroups(benchmark::State& state) {
  EncodeRequest(state, [](uint32_t id) { return AcdRequest::GetGroups(id); });
}
void BM_EncodeGetAgents(benchmark::State& state) {
  EncodeRequest(state, [](uint32_t id) { return AcdRequest::GetAgents(id, "Support"); });
}
void BM_EncodeGetAllAgents(benchmark::State& state) {
  EncodeRequest(state, [](uint32_t id) { return AcdRequest::GetAllAgents(id); });
}
BENCHMARK(BM_EncodeSubscribeStatus);
BENCHMARK(BM_EncodeSubscribeCall);
BENCHMARK(BM_EncodeSubscribeCDR);
BENCHMARK(BM_EncodeSubscribeConfig);
BENCHMARK(BM_EncodeStatus);
BENCHMARK(BM_EncodeGetGroups);
BENCHMARK(BM_EncodeGetAgents);
BENCHMARK(BM_EncodeGetAllAgents);

// ---- Received messages ------------------------------------------------------

// A receive buffer holding one message of the given class and type.
class ReceiveBuffer {
 public:
  ReceiveBuffer(uint16_t msg_class, uint16_t msg_type, const std::vector<uint8_t>& body) {
    AcdHeader header;
    header.msg_class = msg_class;
    header.msg_type = msg_type;
    header.request_id = 77;
    header.length = static_cast<uint32_t>(wire::kHeaderSize + body.size());
    header.timestamp = 1717200000;
    HeaderToNetwork(header, std::span(bytes_).first<wire::kHeaderSize>());
    std::memcpy(bytes_.data() + wire::kHeaderSize, body.data(), body.size());
  }
  const uint8_t* data() const { return bytes_.data(); }

 private:
  std::array<uint8_t, wire::kMaxMessageSize> bytes_{};
};

class BodyWriter {
 public:
  BodyWriter& Name(std::string_view text, size_t width = 16) {
    const size_t at = bytes_.size();
    bytes_.resize(at + width);
    wire::StoreText(&bytes_[at], width, text);
    return *this;
  }
  BodyWriter& Number(uint32_t value) {
    const size_t at = bytes_.size();
    bytes_.resize(at + 4);
    wire::StoreBigEndian32(&bytes_[at], value);
    return *this;
  }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

// Header conversion, length check and the body decoded; the fields read as
// the dispatch reads them.
template <typename Decode>
void DecodeMessage(benchmark::State& state, const ReceiveBuffer& buffer, Decode decode) {
  for (auto _ : state) {
    const AcdHeader header =
        HeaderToHost(std::span<const uint8_t, wire::kHeaderSize>(buffer.data(), wire::kHeaderSize));
    const std::optional<size_t> body_length = BodyLength(header);
    benchmark::DoNotOptimize(decode(buffer.data() + wire::kHeaderSize, *body_length) +
                             header.timestamp);
  }
  state.SetItemsProcessed(state.iterations());
}

size_t Sum(std::string_view text) { return text.size() + static_cast<unsigned char>(text[0]); }

void BM_DecodeStatusEvent(benchmark::State& state) {
  const ReceiveBuffer buffer(2, 0, BodyWriter().Name("1001").Name("Support").Number(2).bytes());
  DecodeMessage(state, buffer, [](const uint8_t* body, size_t length) {
    const auto status = StatusBody::Decode(body, length);
    return Sum(status->agent) + Sum(status->group) + static_cast<size_t>(status->status);
  });
}

void BM_DecodeCdrEvent(benchmark::State& state) {
  const ReceiveBuffer buffer(2, 1,
                             BodyWriter()
                                 .Name("Support")
                                 .Number(1717199000)
                                 .Number(12)
                                 .Number(95)
                                 .Name("+4930123456", 32)
                                 .Name("{6F9619FF-8B86-D011-B42D-00C04FC964FF}", 64)
                                 .Number(3)
                                 .Number(1)
                                 .Name("1001")
                                 .bytes());
  DecodeMessage(state, buffer, [](const uint8_t* body, size_t length) {
    const auto cdr = CdrBody::Decode(body, length);
    return Sum(cdr->group) + Sum(cdr->caller_user) + Sum(cdr->call_guid) + Sum(cdr->agent) +
           cdr->call_time +
           static_cast<size_t>(cdr->queue_duration + cdr->call_duration + cdr->call_state +
                               cdr->close_reason);
  });
}

void BM_DecodeCallEvent(benchmark::State& state) {
  const ReceiveBuffer buffer(2, 2,
                             BodyWriter()
                                 .Name("Support")
                                 .Name("{6F9619FF-8B86-D011-B42D-00C04FC964FF}", 64)
                                 .Number(2)
                                 .Number(0)
                                 .Name("1001")
                                 .Number(4)
                                 .bytes());
  DecodeMessage(state, buffer, [](const uint8_t* body, size_t length) {
    const auto call = CallBody::Decode(body, length);
    return Sum(call->group) + Sum(call->call_id) + Sum(call->agent) +
           static_cast<size_t>(call->call_state + call->close_reason + call->calls_in_queue);
  });
}

void BM_DecodeConfigUpdate(benchmark::State& state) {
  const ReceiveBuffer buffer(
      2, 5, BodyWriter().Name("Support").Name("1001").Number(1).Name("Anna Berg").bytes());
  DecodeMessage(state, buffer, [](const uint8_t* body, size_t length) {
    const auto update = ConfigUpdateBody::Decode(body, length);
    return Sum(update->group) + Sum(update->agent) + Sum(update->full_name) +
           static_cast<size_t>(update->state);
  });
}

void BM_DecodeGroupList(benchmark::State& state) {
  const int entries = static_cast<int>(state.range(0));
  BodyWriter body;
  body.Number(static_cast<uint32_t>(entries));
  for (int i = 0; i < entries; ++i) body.Name("Group" + std::to_string(i));
  const ReceiveBuffer buffer(1, 5, body.bytes());
  DecodeMessage(state, buffer, [](const uint8_t* bytes, size_t length) {
    const auto list = GroupList::Decode(bytes, length);
    size_t sum = 0;
    for (size_t i = 0; i < list->groups.size(); ++i) sum += Sum(list->groups.Name(i));
    return sum;
  });
}

void BM_DecodeAgentList(benchmark::State& state) {
  const int entries = static_cast<int>(state.range(0));
  BodyWriter body;
  body.Name("Support").Number(static_cast<uint32_t>(entries));
  for (int i = 0; i < entries; ++i) body.Name(std::to_string(1001 + i));
  const ReceiveBuffer buffer(1, 6, body.bytes());
  DecodeMessage(state, buffer, [](const uint8_t* bytes, size_t length) {
    const auto list = AgentList::Decode(bytes, length);
    size_t sum = Sum(list->group);
    for (size_t i = 0; i < list->agents.size(); ++i) sum += Sum(list->agents.Name(i));
    return sum;
  });
}

void BM_DecodeFullAgentList(benchmark::State& state) {
  const int entries = static_cast<int>(state.range(0));
  BodyWriter body;
  body.Name("").Number(static_cast<uint32_t>(entries));
  for (int i = 0; i < entries; ++i) body.Name(std::to_string(1001 + i)).Name("Anna Berg");
  const ReceiveBuffer buffer(1, 7, body.bytes());
  DecodeMessage(state, buffer, [](const uint8_t* bytes, size_t length) {
    const auto list = FullAgentList::Decode(bytes, length);
    size_t sum = 0;
    for (size_t i = 0; i < list->entries.size(); ++i) {
      sum += Sum(list->agent(i)) + Sum(list->full_name(i));
    }
    return sum;
  });
}

BENCHMARK(BM_DecodeStatusEvent);
BENCHMARK(BM_DecodeCdrEvent);
BENCHMARK(BM_DecodeCallEvent);
BENCHMARK(BM_DecodeConfigUpdate);
// Lists: the argument is the number of entries, every one of them read.
BENCHMARK(BM_DecodeGroupList)->Arg(1)->Arg(10)->Arg(100);
BENCHMARK(BM_DecodeAgentList)->Arg(1)->Arg(10)->Arg(100);
BENCHMARK(BM_DecodeFullAgentList)->Arg(1)->Arg(10)->Arg(100);

}  // namespace
}  // namespace callsink

BENCHMARK_MAIN();
