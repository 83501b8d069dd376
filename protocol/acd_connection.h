#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>

#include "platform/file_descriptor.h"

namespace callsink {

class AcdRequest;
class ActivityLog;
class ManualResetEvent;

// The collector's TCP connection to one ACD server: connect, send whole
// records, receive exactly the bytes asked for, and the eight requests.
// Results report failure (false, or 0 / negative counts); the worker's log
// gets one fixed line per failure that is the connection's to report.
//
// Every wait (connect, send into a full socket, receive) also ends when the
// close event is set, within milliseconds: the call then fails with no log
// line (nothing went wrong with the server) and the socket is closed, since a
// record may be half done.
//
// Belongs to one worker thread; only the close event is shared. Every socket
// is closed exactly once (FileDescriptor); after a failure the connection holds no
// socket, and it is not meant to be connected again after Close.
class AcdConnection {
 public:
  // Neither argument is owned; both outlive the connection. `log` is
  // required; `close_event` may be null, and then nothing but the peer ends a
  // wait.
  AcdConnection(ActivityLog* log, const ManualResetEvent* close_event);
  AcdConnection(const AcdConnection&) = delete;
  AcdConnection& operator=(const AcdConnection&) = delete;

  // Keep-alive times: a server whose host went away while the connection
  // was quiet, or that stopped acknowledging requests, ends a Receive or
  // Send with a socket error after about kDeadPeerSeconds.
  static constexpr int kKeepAliveIdleSeconds = 60;
  static constexpr int kKeepAliveIntervalSeconds = 10;
  static constexpr int kKeepAliveProbes = 6;
  static constexpr int kDeadPeerSeconds =
      kKeepAliveIdleSeconds + kKeepAliveIntervalSeconds * kKeepAliveProbes;

  // Connects to `address` (dotted IPv4 text; host names are not resolved)
  // with TCP keep-alive on, at the times above. Logs "Connected to ACD
  // server (%s)" and returns true, or logs why it failed and returns false
  // with no socket held.
  bool Connect(const std::string& address, uint16_t port);

  // Sends all `length` bytes; `flags` go to send() unchanged. Returns
  // `length`, or -1 (socket closed, nothing logged) when the socket fails,
  // was closed already, or the close event ends a wait for buffer space.
  ssize_t Send(const void* bytes, size_t length, int flags);

  // Reads exactly `length` bytes into `buffer`, over as many segments as
  // they take; `flags` go to recv() unchanged. Returns `length`; 0 when the
  // peer closed (logs "Connection Closed Remotely"); negative on a socket
  // error or with no socket (logs "Receive Failed: %4d\n" with errno), and
  // negative without a log line when the close event ends the wait. Every
  // result but `length` leaves the socket closed. `length` 0 returns 0.
  ssize_t Receive(void* buffer, size_t length, int flags);

  // Waits up to `timeout_ms` (a short time: the close event is not watched)
  // for the socket to have something for Receive: bytes, the peer's end or
  // an error. False on timeout; true without a socket.
  bool HasDataWithin(int timeout_ms) const;

  // Closes the socket if one is held. Safe to call at any time, repeatedly.
  void Close();
  bool IsConnected() const { return socket_.valid(); }

  // Each draws a request number from 0 to 999, builds the record and sends
  // it in one Send; true when the whole record went out.
  bool SubscribeStatus(std::string_view group_filter, std::string_view agent_filter);
  bool SubscribeCall(std::string_view group_filter);
  bool SubscribeCDR(std::string_view group_filter);
  bool SubscribeConfig();
  bool GetStatus(std::string_view group, std::string_view agent);
  bool GetGroups();
  bool GetAgents(std::string_view group);
  bool GetAllAgents();

 private:
  enum class Readiness { kReady, kStopping, kFailed };

  // Switches keep-alive on the socket on, at the times above.
  bool EnableKeepAlive() const;

  // Waits until the socket reports one of `events` (or an error) or the
  // close event is set. kFailed leaves errno set.
  Readiness WaitFor(short events) const;
  bool SendRequest(const AcdRequest& request);
  uint32_t NextRequestId();

  ActivityLog* const log_;
  const ManualResetEvent* const close_event_;
  FileDescriptor socket_;
  // Request numbers are neither unique nor remembered; they only identify a
  // request in the server's answer and in failure lines.
  std::minstd_rand request_numbers_;
};

}  // namespace callsink
