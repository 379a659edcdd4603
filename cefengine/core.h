// The engine library's core as its programs and tests use it: the engine, its
// browsers and Chromium's flags.
#pragma once
#include "browser.h"
#include "chromium.h"
#include "engine.h"
