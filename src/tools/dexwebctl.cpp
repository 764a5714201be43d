// dexwebctl: the operator's companion tool.
#include <cstdio>

int main() {
  std::puts("usage: dexwebctl <command>");
  return 2;
}
