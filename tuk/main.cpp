#include "tuk/tuk_command.h"

int main(int argc, char** argv) { return tuk::RunTuk(argc, argv); }
