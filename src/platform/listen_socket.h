#pragma once
// Options for a TCP socket that is about to be bound for listening.

namespace dexweb::platform {

// Lets the socket bind an address whose earlier connections linger in TIME_WAIT, so that a
// restarted server gets its port back at once, and leaves the port unshared: no
// SO_REUSEPORT, so binding fails while any other socket listens there, rather than the
// kernel dividing the connections between two servers. Nothing here throws; when the
// option cannot be set the socket stays as exclusive as before.
void reuse_address_exclusively(int socket);

}  // namespace dexweb::platform
