#pragma once

#include "helper/protocol.h"

// The two ends of the socket pair between a program and its helper: each message goes whole,
// the bound socket rides along with its reply (SCM_RIGHTS), every call goes on through
// interruptions by signals, and an end that has gone is a failed call, never SIGPIPE.
namespace quillnet::helper {

// Sends `request`; false when it did not go out whole (the helper has ended).
bool SendRequest(int fd, const Request& request);

// Sends `reply`, with `passed` riding along where it is not -1 (the socket of a kSocket reply);
// false when it did not go out whole (the caller has ended).
bool SendReply(int fd, const Reply& reply, int passed = -1);

// Receives one request; with `dontWait`, only one that is already waiting. False when the
// caller closed its end or the receive failed; else `request` is what came, kind kRefused when
// nothing was waiting or the message is no valid request. A descriptor sent along is dropped.
bool ReceiveRequest(int fd, Request& request, bool dontWait = false);

// Receives one reply and the descriptor that came with it (-1 when none did; it is closed on
// exec). False when the helper closed its end or sent something that is no reply: bytes that
// do not parse, a kSocket reply without its socket, or a descriptor with any other reply.
bool ReceiveReply(int fd, Reply& reply, int& passed);

}  // namespace quillnet::helper
