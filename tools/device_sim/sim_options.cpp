#include "tools/device_sim/sim_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace kolvar::sim {

namespace {

bool parseUnsigned(const std::string& text, uint64_t& value) {
    if (text.empty() || text[0] == '-' || text[0] == '+') return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoull(text.c_str(), &end, 0);  // 0x prefix: hexadecimal
    return errno == 0 && end == text.c_str() + text.size();
}

bool parseDouble(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(value);
}

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
           "  --rate N            frames per second, 0 < N <= 100000; default 100\n"
           "  --ch1 WAVE          channel 1 waveform; default sine:amp=100:period=2\n"
           "  --ch2 WAVE          channel 2 waveform; default ramp:amp=100:period=2\n"
           "                      WAVE = sine|ramp|square|constant[:amp=A][:period=S][:offset=O]\n"
           "  --byte-order N      0 low byte first (default), 1 high byte first\n"
           "  --count N           stop after N frames\n"
           "  --duration S        stop after S seconds\n"
           "  --replay FILE       play a `candump -l` log in its own timing, then exit\n"
           "  --send ID#DATA      send this frame once (cansend syntax, repeatable, in\n"
           "                      order), then exit; e.g. --send 1A5#F0FF100000000000\n"
           "  --help              this text\n"
           "\n"
           "Exit status: 0 done or stopped by SIGINT/SIGTERM, 1 channel cannot be used,\n"
           "2 bad option or value.\n";
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
            if (!parseUnsigned(value, id) || id > 0x7FF) return bad("an identifier from 0 to 0x7FF");
            options.id = static_cast<uint32_t>(id);
            streamOptionGiven = true;
        } else if (name == "--rate") {
            if (!parseDouble(value, options.rate) || options.rate <= 0 || options.rate > 100000)
                return bad("frames per second, more than 0 and at most 100000");
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
            if (!parseUnsigned(value, count) || count == 0) return bad("a whole number above 0");
            options.count = count;
        } else if (name == "--duration") {
            double seconds = 0;
            if (!parseDouble(value, seconds) || seconds <= 0) return bad("seconds above 0");
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
