// Moved to base/exception.h; kept so that older includes still compile.
#pragma once
#include "base/exception.h"
