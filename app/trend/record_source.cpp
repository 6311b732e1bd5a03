// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/trend/record_source.h"

#include <cstring>

#include "can/frame_tap.h"
#include "can/lost_frames.h"

namespace {
class RecordTapSource final : public kolvar::capture::FrameSource {
public:
    void open() override { recordTap().open(); }
    void close() override { recordTap().close(); }
    void drain(const std::function<void(const kolvar::capture::Frame&)>& take) override {
        recordTap().drain([&](const TappedFrame& tapped) {
            kolvar::capture::Frame frame{tapped.arrivalMicros, tapped.id, tapped.length, {}, tapped.channel};
            std::memcpy(frame.data, tapped.data, sizeof frame.data);
            take(frame);
        });
    }
    uint64_t lost() const override { return recordTap().dropped() + LayerDroppedFrames(); }
};
}  // namespace

kolvar::capture::FrameSource& recordTapSource() {
    static RecordTapSource source;
    return source;
}
