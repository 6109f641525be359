// Lets the compiler check printf-style formats against their arguments.
#pragma once

#if defined(__MINGW32__)
// MinGW's C++ runtime formats the C99 way (%zu, %llu), not the MSVCRT way.
#define TUK_PRINTF_FORMAT(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#elif defined(__GNUC__)
#define TUK_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define TUK_PRINTF_FORMAT(fmt, args)
#endif
