#include <unistd.h>

#include <cstdio>

#include "collector/call_sink.h"
#include "collector/collector_entry.h"

namespace {

// The one service object, built before the entry function runs.
callsink::CallSink call_sink;

}  // namespace

int main(int argc, char** argv) {
  const int exit_code = callsink::CollectorEntry::Main(call_sink, argc, argv);
  // Workers may still be inside a network or database call; leave without
  // running static destructors under them. Every log line is flushed already.
  std::fflush(nullptr);
  _exit(exit_code);
}
