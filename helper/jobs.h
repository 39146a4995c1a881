#pragma once

namespace quillnet::helper {

// True when `fd` is an open Unix-domain socket, the only kind of caller the helper takes.
bool IsUnixSocket(int fd);

// Reads one request from `fd` and carries it out, answering on `fd`; the exit status of the
// helper: 0 when the job ran (its failures are answered, not exited on), 1 when the caller
// sent no valid request or could not be answered.
int Serve(int fd);

}  // namespace quillnet::helper
