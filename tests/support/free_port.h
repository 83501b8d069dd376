#pragma once

namespace callsink::test {

// A TCP port of 127.0.0.1 that nobody listened on a moment ago (the system
// picked it), for a program under test to listen on; 0 when none was had.
int FreePort();

}  // namespace callsink::test
