// The tuk library: read and write .tuk archives.
#pragma once

#include "tuk/archive_reader.h"
#include "tuk/archive_writer.h"
#include "tuk/index.h"
#include "tuk/status.h"
