// SPDX-License-Identifier: GPL-3.0-or-later
// kolvar-device-sim: plays the measuring device on a CAN channel through the
// layer's canWrite: a stream of measurement frames, a replayed candump log,
// or a few given frames.
#include "platform/canlib.h"
#include "tools/device_sim/sim_frame.h"
#include "tools/device_sim/sim_options.h"

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>

using namespace kolvar::sim;
using Clock = std::chrono::steady_clock;

namespace {

std::atomic<bool> g_stop{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// SIGUSR1 pauses the stream and the next one resumes it, so that a demo or
// a test can make the device fall silent and speak again.
std::atomic<bool> g_paused{false};

void onSignal(int) { g_stop.store(true); }
void onPauseSignal(int) { g_paused.store(!g_paused.load()); }

// Sleeps until the deadline in short steps so that a signal ends it soon.
void sleepUntil(Clock::time_point deadline) {
    while (!g_stop.load()) {
        const auto now = Clock::now();
        if (now >= deadline) return;
        std::this_thread::sleep_until(std::min(deadline, now + std::chrono::milliseconds(50)));
    }
}

std::string statusText(int status) {
    char text[50];
    canGetErrorText(status, text, sizeof text);
    return text;
}

// Opens the named channel and puts it on the bus; a handle, or -1 after
// reporting the reason.
int openChannel(const std::string& wanted) {
    int status = canInitializeLibrary();
    if (status == canERR_PARAM) {
        // The library's only input is the environment.
        const char* port = std::getenv("KOLVAR_VIRTUALCAN_PORT");
        std::fprintf(stderr, "kolvar-device-sim: KOLVAR_VIRTUALCAN_PORT '%s' is not a port from 1 to 65535\n",
                     port ? port : "");
        return -1;
    }
    if (status != canOK) {
        std::fprintf(stderr, "kolvar-device-sim: CAN library: %s\n", statusText(status).c_str());
        return -1;
    }
    int count = 0;
    if ((status = canGetNumberOfChannels(&count)) != canOK) {
        std::fprintf(stderr, "kolvar-device-sim: CAN library: %s\n", statusText(status).c_str());
        return -1;
    }
    int channel = -1;
    for (int i = 0; i < count && channel < 0; ++i) {
        char name[64];
        if (canGetChannelName(i, name, sizeof name) == canOK && wanted == name) channel = i;
    }
    if (channel < 0) {
        std::fprintf(stderr, "kolvar-device-sim: channel %s: %s\n", wanted.c_str(),
                     statusText(canERR_NOTFOUND).c_str());
        return -1;
    }
    const int handle = canOpenChannel(channel, canOPEN_EXCLUSIVE);
    if (handle < 0) {
        std::fprintf(stderr, "kolvar-device-sim: channel %s: %s\n", wanted.c_str(),
                     statusText(handle).c_str());
        return -1;
    }
    if ((status = canSetBusParams(handle, canBITRATE_500K, 0, 0, 0, 0, 0)) != canOK ||
        (status = canBusOn(handle)) != canOK) {
        std::fprintf(stderr, "kolvar-device-sim: channel %s: %s\n", wanted.c_str(),
                     statusText(status).c_str());
        canClose(handle);
        return -1;
    }
    // Bus on goes on connecting in the background; a bus still unreachable
    // after 5 s would take every frame and deliver none.
    if ((status = canWaitConnected(handle, 5000)) != canOK) {
        std::fprintf(stderr, "kolvar-device-sim: channel %s: bus cannot be reached (%s)\n", wanted.c_str(),
                     statusText(status).c_str());
        canClose(handle);
        return -1;
    }
    return handle;
}

// Says on standard error when the channel's bus goes away and when it is
// back: frames written meanwhile are lost, as on a bus nobody listens to.
// Asks the layer at most every kCheckPeriod, so that a fast stream pays
// nothing per frame but a clock reading.
class BusWatch {
public:
    static constexpr auto kCheckPeriod = std::chrono::milliseconds(200);

    void watch(int handle, const std::string& channel) {
        handle_ = handle;
        channel_ = channel;
    }
    void check() {
        const auto now = Clock::now();
        if (handle_ < 0 || now < nextCheck_) return;
        nextCheck_ = now + kCheckPeriod;
        canBusStatus status{};
        if (canGetBusStatus(handle_, &status) != canOK) return;
        const char* lost = lostText(status.busState);
        if (lost == lost_) return;
        if (lost)
            std::fprintf(stderr, "kolvar-device-sim: channel %s: %s; frames are lost until it is back\n",
                         channel_.c_str(), lost);
        else
            std::fprintf(stderr, "kolvar-device-sim: channel %s: back; sending again\n", channel_.c_str());
        lost_ = lost;
    }

private:
    static const char* lostText(int busState) {
        switch (busState) {
        case canBUSSTATE_GONE: return "interface deleted";
        case canBUSSTATE_DOWN: return "interface down";
        case canBUSSTATE_UNREACHABLE: return "bus cannot be reached";
        default: return nullptr;
        }
    }

    int handle_ = -1;
    std::string channel_;
    const char* lost_ = nullptr;
    Clock::time_point nextCheck_{};
};

BusWatch g_busWatch;

// Writes one frame, retrying briefly while the transmit queue is full.
bool send(int handle, const SimFrame& frame) {
    g_busWatch.check();
    const unsigned flags = (frame.extended ? canMSG_EXT : canMSG_STD) | (frame.remote ? canMSG_RTR : 0u);
    for (;;) {
        const int status = canWrite(handle, static_cast<int32_t>(frame.id), frame.data, frame.dlc, flags);
        if (status == canOK) return true;
        if (status != canERR_TXFULL || g_stop.load()) {
            std::fprintf(stderr, "kolvar-device-sim: write: %s\n", statusText(status).c_str());
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

int playStream(int handle, const SimOptions& options) {
    const auto start = Clock::now();
    const auto interval = std::chrono::duration<double>(1.0 / options.rate);
    SimFrame frame;
    frame.id = options.id;
    frame.dlc = 8;
    for (uint64_t k = 0; !g_stop.load(); ++k) {
        if (options.count && k >= *options.count) break;
        const double seconds = static_cast<double>(k) / options.rate;
        if (options.duration && seconds >= *options.duration) break;
        sleepUntil(start + std::chrono::duration_cast<Clock::duration>(interval * static_cast<double>(k)));
        if (g_stop.load()) break;
        if (g_paused.load()) continue;  // the schedule runs on: no burst on resume
        encodeMeasurement(options.channel1.valueAt(seconds), options.channel2.valueAt(seconds),
                          options.byteOrder, frame.data);
        if (!send(handle, frame)) return 1;
    }
    return 0;
}

int playLog(int handle, const std::vector<LogLine>& lines, const SimOptions& options) {
    const auto start = Clock::now();
    uint64_t sent = 0;
    for (const LogLine& line : lines) {
        if (g_stop.load() || (options.count && sent >= *options.count)) break;
        const double offset = line.timestamp - lines.front().timestamp;
        if (options.duration && offset >= *options.duration) break;
        sleepUntil(start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(offset)));
        if (g_stop.load()) break;
        if (!send(handle, line.frame)) return 1;
        ++sent;
    }
    return 0;
}

// Longest candump -l line read, and most lines kept: the log is held in
// memory, so neither may grow without bound.
constexpr size_t kMaxLogLine = 4096;
constexpr size_t kMaxLogLines = 1000000;
// Furthest a frame may lie from the first one; beyond it the steady clock's
// arithmetic overflows and the frame would go at once.
constexpr double kMaxLogSpanSeconds = 1e8;

enum class LineRead { Line, End, TooLong, Nul };

// Reads one line into `text`, its '\n' kept when there is one: End at the
// end of the file, TooLong past kMaxLogLine bytes, Nul when it holds a NUL
// byte (which fgets would cut the line at).
LineRead readLine(FILE* in, std::string& text) {
    text.clear();
    bool nul = false;
    for (int c; (c = getc_unlocked(in)) != EOF;) {
        if (text.size() == kMaxLogLine && c != '\n') return LineRead::TooLong;
        nul = nul || c == '\0';
        text += static_cast<char>(c);
        if (c == '\n') break;
    }
    if (text.empty()) return LineRead::End;
    return nul ? LineRead::Nul : LineRead::Line;
}

struct LogSkips {
    uint64_t errorFrames = 0;
    uint64_t fd = 0;
};

// Reads a candump -l log; false after reporting the first bad line. Lines of
// kinds the simulator cannot send (error frames, CAN FD) are counted in skips.
bool readLog(const std::string& path, std::vector<LogLine>& lines, LogSkips& skips) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !(S_ISREG(info.st_mode) || S_ISFIFO(info.st_mode))) {
        std::fprintf(stderr, "kolvar-device-sim: cannot read replay file '%s': not a file or a pipe\n",
                     path.c_str());
        return false;
    }
    std::unique_ptr<FILE, int (*)(FILE*)> in(std::fopen(path.c_str(), "r"), &std::fclose);
    if (!in) {
        std::fprintf(stderr, "kolvar-device-sim: cannot read replay file '%s'\n", path.c_str());
        return false;
    }
    std::string text;
    for (int number = 1;; ++number) {
        const LineRead read = readLine(in.get(), text);
        if (read == LineRead::End) break;
        if (read == LineRead::TooLong) {
            std::fprintf(stderr, "kolvar-device-sim: %s:%d: line longer than %zu bytes\n", path.c_str(), number,
                         kMaxLogLine);
            return false;
        }
        if (read == LineRead::Nul) {
            std::fprintf(stderr, "kolvar-device-sim: %s:%d: NUL byte in the line: not a text log\n", path.c_str(),
                         number);
            return false;
        }
        if (text.find_first_not_of(" \t\r\n") == std::string::npos) continue;
        // A comment, as the viewer's recordings mark lost frames with.
        if (text[0] == '#') continue;
        auto line = parseCandumpLine(text);
        if (!line) {
            if (const char* kind = unsendableCandumpKind(text)) {
                ++(std::string(kind) == "CAN FD" ? skips.fd : skips.errorFrames);
                continue;
            }
            std::fprintf(stderr, "kolvar-device-sim: %s:%d: not a candump -l line\n", path.c_str(), number);
            return false;
        }
        if (!lines.empty() && std::fabs(line->timestamp - lines.front().timestamp) > kMaxLogSpanSeconds) {
            std::fprintf(stderr, "kolvar-device-sim: %s:%d: timestamp more than %g s from the first\n",
                         path.c_str(), number, kMaxLogSpanSeconds);
            return false;
        }
        // A frame stamped before the one above it cannot be played in its
        // own timing; sending it at once would hide the fault.
        if (!lines.empty() && line->timestamp < lines.back().timestamp) {
            std::fprintf(stderr, "kolvar-device-sim: %s:%d: timestamp %.6f goes back before the line above (%.6f)\n",
                         path.c_str(), number, line->timestamp, lines.back().timestamp);
            return false;
        }
        if (lines.size() == kMaxLogLines) {
            std::fprintf(stderr, "kolvar-device-sim: %s: more than %zu frames\n", path.c_str(), kMaxLogLines);
            return false;
        }
        lines.push_back(*line);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const auto options = parseSimOptions(args, error);
    if (!options) {
        std::fprintf(stderr, "kolvar-device-sim: %s\n", error.c_str());
        return 2;
    }
    if (options->help) {
        std::fputs(simUsage().c_str(), stdout);
        return 0;
    }
    std::vector<LogLine> log;
    LogSkips skips;
    if (!options->replayFile.empty() && !readLog(options->replayFile, log, skips)) return 2;

    QCoreApplication application(argc, argv);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGUSR1, onPauseSignal);

    const int handle = openChannel(options->channelName);
    if (handle < 0) return 1;
    g_busWatch.watch(handle, options->channelName);

    int result = 0;
    if (!options->sendFrames.empty()) {
        for (const SimFrame& frame : options->sendFrames)
            if (!send(handle, frame)) {
                result = 1;
                break;
            }
    } else if (!options->replayFile.empty()) {
        result = playLog(handle, log, *options);
    } else {
        result = playStream(handle, *options);
    }
    // Hand everything queued to the device, and give the I/O thread a moment
    // to pass it on (on the virtual bus this process may be relaying for the
    // others) before the channel closes.
    if (const int status = canWriteSync(handle, 1000); status != canOK && result == 0) {
        std::fprintf(stderr, "kolvar-device-sim: channel %s: frames not delivered (%s)\n",
                     options->channelName.c_str(), statusText(status).c_str());
        result = 1;
    }
    if (skips.errorFrames + skips.fd > 0)
        std::fprintf(stderr, "kolvar-device-sim: skipped %llu error frames and %llu CAN FD frames of the replay\n",
                     static_cast<unsigned long long>(skips.errorFrames), static_cast<unsigned long long>(skips.fd));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    canClose(handle);
    canUnloadLibrary();
    return result;
}
