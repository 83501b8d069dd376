// libFuzzer target over the receiving side of the wire layer: the input is
// a byte stream as a receiver reads it, split into header and body by the
// header's length, and every body decoder runs on every body. Each body is
// copied into an allocation of exactly its length, so AddressSanitizer
// catches any read past it. Built and run by scripts/fuzz.sh.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "protocol/acd_header.h"
#include "protocol/agent_list.h"
#include "protocol/call_body.h"
#include "protocol/cdr_body.h"
#include "protocol/config_update_body.h"
#include "protocol/full_agent_list.h"
#include "protocol/group_list.h"
#include "protocol/status_body.h"

namespace {

using callsink::NameTable;

// Reads every byte of a name, and checks what a decoder may hand out.
size_t Touch(std::string_view name, size_t width) {
  if (name.size() > width) std::abort();
  size_t sum = 0;
  for (char c : name) sum += static_cast<unsigned char>(c);
  return sum;
}

size_t TouchTable(const NameTable& table, size_t columns, size_t available) {
  if (table.size() > table.declared_count()) std::abort();
  if (table.size() * columns * 16 > available) std::abort();
  size_t sum = 0;
  for (size_t i = 0; i < table.size(); ++i) {
    for (size_t column = 0; column < columns; ++column) sum += Touch(table.Name(i, column), 16);
  }
  return sum;
}

size_t DecodeEverything(const uint8_t* body, size_t length) {
  size_t sum = 0;
  if (const auto status = callsink::StatusBody::Decode(body, length)) {
    sum += Touch(status->agent, 16) + Touch(status->group, 16);
  }
  if (const auto cdr = callsink::CdrBody::Decode(body, length)) {
    sum += Touch(cdr->group, 16) + Touch(cdr->caller_user, 32) + Touch(cdr->call_guid, 64) +
           Touch(cdr->agent, 16);
  }
  if (const auto call = callsink::CallBody::Decode(body, length)) {
    sum += Touch(call->group, 16) + Touch(call->call_id, 64) + Touch(call->agent, 16);
  }
  if (const auto update = callsink::ConfigUpdateBody::Decode(body, length)) {
    sum += Touch(update->group, 16) + Touch(update->agent, 16) + Touch(update->full_name, 16);
  }
  if (const auto groups = callsink::GroupList::Decode(body, length)) {
    sum += TouchTable(groups->groups, 1, length - 4);
  }
  if (const auto agents = callsink::AgentList::Decode(body, length)) {
    sum += Touch(agents->group, 16) + TouchTable(agents->agents, 1, length - 20);
  }
  if (const auto all = callsink::FullAgentList::Decode(body, length)) {
    sum += Touch(all->group, 16) + TouchTable(all->entries, 2, length - 20);
  }
  return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr size_t kHeader = callsink::wire::kHeaderSize;
  volatile size_t sink = 0;
  while (size >= kHeader) {
    const callsink::AcdHeader header =
        callsink::HeaderToHost(std::span<const uint8_t, kHeader>(data, kHeader));
    data += kHeader;
    size -= kHeader;
    const std::optional<size_t> body_length = callsink::BodyLength(header);
    if (!body_length) break;  // a receiver ends here
    if (*body_length > callsink::wire::kMaxMessageSize - kHeader) std::abort();
    // A stream that ends early delivers a short body.
    const size_t available = *body_length < size ? *body_length : size;
    const std::vector<uint8_t> body(data, data + available);
    sink = sink + DecodeEverything(body.data(), body.size());
    data += available;
    size -= available;
  }
  return 0;
}
