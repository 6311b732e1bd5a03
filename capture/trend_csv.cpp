// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/trend_csv.h"

#include "capture/line_file.h"
#include "capture/log_lines.h"

namespace kolvar::capture {

bool writeTrendCsv(const std::string& path, const std::vector<TrendSample>& samples, WordScale scale,
                   std::string* error, int cancelFd) {
    LineFile file;
    bool ok = file.open(path, cancelFd);
    std::string block(kTrendCsvHeader);
    const int64_t first = samples.empty() ? 0 : samples.front().micros;
    for (size_t i = 0; ok && i < samples.size(); ++i) {
        const TrendSample& s = samples[i];
        block += trendCsvRow(s.micros - first, s.id, s.word1, s.word2, scale(s.word1), scale(s.word2));
        // Written in blocks of about 64 KB.
        if (block.size() >= 65536) {
            ok = file.append(block);
            block.clear();
        }
    }
    if (ok) ok = file.append(block);
    ok = file.close() && ok;
    if (!ok) *error = file.error();
    return ok;
}

}  // namespace kolvar::capture
