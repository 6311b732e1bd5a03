// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Waveforms the simulator plays on a measurement channel. Plain C++, no Qt.
//
// Text form: SHAPE[:amp=A][:period=P][:offset=O], SHAPE one of sine, ramp,
// square, constant; amp and offset in -100..100 (defaults 100 and 0), period
// in seconds > 0 (default 2). A constant is offset + amp, so
// "constant:amp=50" holds 50.
// Examples: "sine:amp=100:period=2", "ramp", "constant:amp=-20".

#include <optional>
#include <string>

namespace kolvar::sim {

struct Waveform {
    enum class Shape { Sine, Ramp, Square, Constant };
    Shape shape = Shape::Sine;
    double amplitude = 100.0;
    double period = 2.0;  // seconds
    double offset = 0.0;

    // The value at t seconds, clamped to -100..100.
    //  sine: offset + amp * sin(2 pi t / period)
    //  ramp: rises linearly from offset - amp to offset + amp over each period
    //  square: offset + amp for the first half of each period, offset - amp after
    //  constant: offset + amp
    double valueAt(double seconds) const;
};

// Parses the text form; on failure returns nullopt and sets error.
std::optional<Waveform> parseWaveform(const std::string& text, std::string& error);

}  // namespace kolvar::sim
