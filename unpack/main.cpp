#include "unpack/unpack_command.h"

int main(int argc, char** argv) { return tuk::RunUnpack(argc, argv); }
