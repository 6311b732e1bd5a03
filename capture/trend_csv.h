// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Export of what the trend holds as CSV (time, identifier, the two scaled
// values and the two words, each column's unit in the header), for a
// spreadsheet. Plain C++, no Qt. [any-thread]

#include <string>
#include <vector>

#include "capture/trend_samples.h"

namespace kolvar::capture {

// Writes the header and one row per sample, times counted from the first
// sample, the values by `scale`. False, with the reason in *error, when the file cannot be written
// or the export is cancelled through `cancelFd` (see LineFile::open); it then
// ends with a whole row.
bool writeTrendCsv(const std::string& path, const std::vector<TrendSample>& samples, WordScale scale,
                   std::string* error, int cancelFd = -1);

}  // namespace kolvar::capture
