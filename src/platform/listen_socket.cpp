#include "platform/listen_socket.h"

#include <sys/socket.h>

namespace dexweb::platform {

void reuse_address_exclusively(int socket) {
  const int yes = 1;
  ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}

}  // namespace dexweb::platform
