#pragma once

namespace callsink::mysql_errors {

// True for a server error that refuses the statement itself, for a value
// a column cannot take (or a form the server cannot parse): sent again, it
// would fail again. Every other failure (a lost or hung connection, a full
// table or disk, a lock wait timeout, a deadlock or a refused commit, a
// read-only server, a missing table or right) may pass with time.
bool RefusesStatement(unsigned int code);

// True for a failure after which the session itself is sound and the same
// work can be tried again on it: a lock wait timeout, a deadlock or a commit
// refused by a cluster's certification, a full table or disk, a read-only
// server. Any other failure calls for a new connection.
bool KeepsSession(unsigned int code);

}  // namespace callsink::mysql_errors
