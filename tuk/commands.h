// The commands of the tuk program, one file each; main.cpp puts them in
// its table in the order tuk --help lists them.
#pragma once

#include "tuk/command_line.h"

namespace tuk {

extern const Command kListCommand;
extern const Command kVerifyCommand;
extern const Command kExtractCommand;
extern const Command kPackCommand;
extern const Command kReplaceCommand;
extern const Command kRecompressCommand;
extern const Command kUnpackAllCommand;
extern const Command kCatCommand;
extern const Command kDiffCommand;
extern const Command kDeleteCommand;
#ifdef TUK_HAVE_MOUNT
extern const Command kMountCommand;
extern const Command kUnmountCommand;
#endif
#ifdef TUK_HAVE_CONVERT
extern const Command kConvertCommand;
#endif

}  // namespace tuk
