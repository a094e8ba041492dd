#pragma once

#include "demo/file_writers.h"

// A small model with at least one record of every kind and every deform,
// morph and joint variant, for round trips.
PmxModel SamplePmxModel();
