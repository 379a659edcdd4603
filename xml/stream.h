// Moved to base/stream.h; kept so that older includes still compile.
#pragma once
#include "base/stream.h"
