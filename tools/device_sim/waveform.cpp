// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/device_sim/waveform.h"

#include "tools/device_sim/sim_number.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <sstream>
#include <vector>

namespace kolvar::sim {

namespace {

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) parts.push_back(part);
    if (!text.empty() && text.back() == separator) parts.emplace_back();
    return parts;
}

}  // namespace

double Waveform::valueAt(double seconds) const {
    const double phase = seconds / period - std::floor(seconds / period);  // 0..1
    double value = offset;
    switch (shape) {
    case Shape::Sine: value = offset + amplitude * std::sin(2.0 * std::numbers::pi * phase); break;
    case Shape::Ramp: value = offset - amplitude + 2.0 * amplitude * phase; break;
    case Shape::Square: value = phase < 0.5 ? offset + amplitude : offset - amplitude; break;
    case Shape::Constant: value = offset + amplitude; break;
    }
    return std::clamp(value, -100.0, 100.0);
}

std::optional<Waveform> parseWaveform(const std::string& text, std::string& error) {
    const std::vector<std::string> parts = split(text, ':');
    Waveform wave;
    const std::string shape = parts.empty() ? std::string() : parts[0];
    if (shape == "sine") wave.shape = Waveform::Shape::Sine;
    else if (shape == "ramp") wave.shape = Waveform::Shape::Ramp;
    else if (shape == "square") wave.shape = Waveform::Shape::Square;
    else if (shape == "constant") wave.shape = Waveform::Shape::Constant;
    else {
        error = "unknown waveform '" + shape + "' (sine, ramp, square, constant)";
        return std::nullopt;
    }
    for (size_t i = 1; i < parts.size(); ++i) {
        const size_t equals = parts[i].find('=');
        const std::string key = parts[i].substr(0, equals);
        double value = 0;
        if (equals == std::string::npos || !parseReal(parts[i].substr(equals + 1), value)) {
            error = "bad waveform parameter '" + parts[i] + "' (amp=A, period=P, offset=O)";
            return std::nullopt;
        }
        if (key == "amp" && value >= -100 && value <= 100) wave.amplitude = value;
        else if (key == "offset" && value >= -100 && value <= 100) wave.offset = value;
        else if (key == "period" && value > 0) wave.period = value;
        else {
            error = "bad waveform parameter '" + parts[i] +
                    "' (amp and offset in -100..100, period > 0)";
            return std::nullopt;
        }
    }
    return wave;
}

}  // namespace kolvar::sim
