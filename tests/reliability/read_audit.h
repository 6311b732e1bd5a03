// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Watches the receive worker from the linker's side: the test binary is
// linked with --wrap for the CAN layer's three reads and for the two
// SetCtrlVal overloads, so every read the worker makes and every value it
// puts on the panel passes through here on its way, unchanged.
//
// What it checks:
// - no read ever reaches a closed handle (canERR_INVHANDLE), and
// - every pass shows words that the receive rules allow: the buffer as it
//   stood before the connection's first read, or a pair that the test's
//   predicate accepts (the payload of a frame of the chosen identifier; the
//   first read, too, takes only those); and meter values computed from
//   exactly those words.

#include <cstdint>
#include <string>
#include <vector>

struct ReadAuditCounts {
    std::uint64_t reads = 0;               // every read call of the worker
    std::uint64_t invalidHandleReads = 0;  // reads answered canERR_INVHANDLE
    std::uint64_t firstReads = 0;          // connections the worker read (one per handle)
    std::uint64_t specificTaken = 0;       // canReadSpecificSkip calls that took a frame
    std::uint64_t specificNotStandard = 0; // ... of which not a standard data frame
    std::uint64_t passes = 0;              // complete display updates (4 values)
    std::uint64_t passesByPredicate = 0;   // passes whose words the predicate accepted
    std::uint64_t badPasses = 0;           // words not allowed, or meters not matching them
    std::vector<std::string> firstProblems;  // up to 10 descriptions
};

// Words (word1 << 16 | word2) that a frame of the chosen identifier may carry.
using AllowedWords = bool (*)(std::uint32_t words);

// Clears the counts and sets the predicate (null accepts every pair: only
// the reads are audited then). [main-thread, no worker running]
void resetReadAudit(AllowedWords predicate);
ReadAuditCounts readAuditCounts();
std::string describe(const ReadAuditCounts& counts);

// The meter value of a word, computed here independently of the program.
double expectedMeterValue(std::int32_t word);
