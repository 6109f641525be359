// The library's one way of passing a failure up: every fallible step
// returns a tuk::Status, and a caller that cannot deal with one hands it
// on unchanged.
#pragma once

#include "tuk/status.h"

// Evaluates expr (a Status) once and returns it from the enclosing function
// when it is a failure.
#define TUK_FORWARD_IF_ERROR(expr)              \
  do {                                          \
    ::tuk::Status tuk_forwarded_ = (expr);      \
    if (!tuk_forwarded_.ok()) return tuk_forwarded_; \
  } while (false)
