// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The table of names the panel definition may bind: the panel callback and
// the ten control callbacks. Handed to the run-time by InitCVIRTE.

#include "platform/userint.h"

extern const UiNameTable kolvarCanViewNames;
