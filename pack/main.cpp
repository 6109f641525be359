#include "pack/pack_command.h"

int main(int argc, char** argv) { return tuk::RunPack(argc, argv); }
