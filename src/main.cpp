// dexweb: the web intake module. Everything happens in run_daemon.
#include "shell/startup.h"

int main(int argc, char** argv) { return dexweb::run_daemon(argc, argv); }
