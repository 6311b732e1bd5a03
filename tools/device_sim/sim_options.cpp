// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/device_sim/sim_options.h"

#include "tools/device_sim/sim_number.h"

namespace kolvar::sim {

namespace {

// Slower than one frame in 100 s, a frame's time no longer fits the clock
// arithmetic of a long run; faster than 100000/s, the layer cannot keep up.
constexpr double kMinRate = 0.01;
constexpr double kMaxRate = 100000;

// "vcan0" stays as it is; "virtual:0" / "virtual:1" name the virtual bus.
bool parseChannel(const std::string& text, std::string& name) {
    if (text == "virtual:0" || text == "virtual:1") {
        name = "virtual " + text.substr(8);
        return true;
    }
    if (text.empty() || text.size() > 15 || text.find_first_of(" :/") != std::string::npos) return false;
    name = text;
    return true;
}

}  // namespace

std::string simUsage() {
    return "Usage: kolvar-device-sim [options]\n"
           "Plays the measuring device: sends frames whose bytes 0-1 and 2-3 carry the\n"
           "channel 1 and channel 2 words (12-bit reading << 4, -100..100 scaled to 0..4095).\n"
           "\n"
           "  --channel CH        vcan0 (a SocketCAN interface) or virtual:0 / virtual:1\n"
           "                      (the virtual bus); default virtual:0\n"
           "  --id ID             11-bit identifier, decimal or 0x hex; default 0x200\n"
           "  --rate N            frames per second, 0.01 <= N <= 100000; default 100\n"
           "  --ch1 WAVE          channel 1 waveform; default sine:amp=100:period=2\n"
           "  --ch2 WAVE          channel 2 waveform; default ramp:amp=100:period=2\n"
           "                      WAVE = sine|ramp|square|constant[:amp=A][:period=S][:offset=O]\n"
           "  --byte-order N      0 low byte first (default), 1 high byte first\n"
           "  --count N           stop after N frames (decimal, or 0x hex)\n"
           "  --duration S        stop after S seconds\n"
           "  --replay FILE       play a `candump -l` log in its own timing, then exit\n"
           "  --send ID#DATA      send this frame once (cansend syntax, repeatable, in\n"
           "                      order), then exit; e.g. --send 1A5#F0FF100000000000\n"
           "  --help, -h          this text\n"
           "A stream pauses on SIGUSR1 and resumes on the next SIGUSR1.\n"
           "\n"
           "Exit status: 0 done or stopped by SIGINT/SIGTERM, 1 channel or bus cannot be\n"
           "used, 2 bad option, value or replay file.\n";
}

std::optional<SimOptions> parseSimOptions(const std::vector<std::string>& args, std::string& error) {
    SimOptions options;
    bool streamOptionGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool hasValue = false;
        if (const size_t equals = name.find('='); name.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
            hasValue = true;
        }
        if (name == "--help" || name == "-h") {
            options.help = true;
            continue;
        }
        static const char* const kValued[] = {"--channel", "--id", "--rate", "--ch1", "--ch2",
                                              "--byte-order", "--count", "--duration", "--replay",
                                              "--send"};
        bool known = false;
        for (const char* option : kValued) known = known || name == option;
        if (!known) {
            error = "unknown option '" + args[i] + "' (see --help)";
            return std::nullopt;
        }
        if (!hasValue) {
            if (i + 1 >= args.size()) {
                error = "option " + name + " needs a value";
                return std::nullopt;
            }
            value = args[++i];
        }
        const auto bad = [&](const std::string& why) {
            error = "bad value '" + value + "' for " + name + ": " + why;
            return std::nullopt;
        };
        if (name == "--channel") {
            if (!parseChannel(value, options.channelName)) return bad("use vcan0 or virtual:0 / virtual:1");
        } else if (name == "--id") {
            uint64_t id = 0;
            if (!parseWhole(value, id) || id > 0x7FF) return bad("an identifier from 0 to 0x7FF");
            options.id = static_cast<uint32_t>(id);
            streamOptionGiven = true;
        } else if (name == "--rate") {
            if (!parseReal(value, options.rate) || options.rate < kMinRate || options.rate > kMaxRate)
                return bad("frames per second, from 0.01 to 100000");
            streamOptionGiven = true;
        } else if (name == "--ch1" || name == "--ch2") {
            std::string why;
            auto wave = parseWaveform(value, why);
            if (!wave) return bad(why);
            (name == "--ch1" ? options.channel1 : options.channel2) = *wave;
            streamOptionGiven = true;
        } else if (name == "--byte-order") {
            if (value != "0" && value != "1") return bad("0 or 1");
            options.byteOrder = value == "1" ? 1 : 0;
            streamOptionGiven = true;
        } else if (name == "--count") {
            uint64_t count = 0;
            bool tooLarge = false;
            if (!parseWhole(value, count, &tooLarge) || count == 0)
                return bad(tooLarge ? "too large, at most 18446744073709551615" : "a whole number above 0");
            options.count = count;
        } else if (name == "--duration") {
            double seconds = 0;
            if (!parseReal(value, seconds) || seconds <= 0) return bad("seconds above 0");
            options.duration = seconds;
        } else if (name == "--replay") {
            if (value.empty()) return bad("a file name");
            options.replayFile = value;
        } else if (name == "--send") {
            auto frame = parseCanSend(value);
            if (!frame) return bad("ID#DATA, e.g. 1A5#F0FF100000000000");
            options.sendFrames.push_back(*frame);
        }
    }
    if (options.help) return options;
    if (!options.replayFile.empty() && !options.sendFrames.empty()) {
        error = "--replay and --send cannot be combined";
        return std::nullopt;
    }
    if ((!options.replayFile.empty() || !options.sendFrames.empty()) && streamOptionGiven) {
        error = "--id, --rate, --ch1, --ch2 and --byte-order do not apply to --replay or --send";
        return std::nullopt;
    }
    return options;
}

}  // namespace kolvar::sim
