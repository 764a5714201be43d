// dexweb: the web intake module. Everything happens in Main.
#include "shell/startup.h"

int main(int argc, char** argv) { return dexweb::Main(argc, argv); }
