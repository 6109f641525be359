// The tuk library: read and write .tuk archives.
#pragma once

#include "tuk/archive_reader.h"
#include "tuk/archive_writer.h"
#include "tuk/edit.h"
#include "tuk/events.h"
#include "tuk/extract.h"
#include "tuk/index.h"
#include "tuk/output_file.h"
#include "tuk/pack.h"
#include "tuk/segment_cache.h"
#include "tuk/select.h"
#include "tuk/status.h"
#include "tuk/verify.h"
