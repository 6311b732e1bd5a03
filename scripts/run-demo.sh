#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the viewer and the device simulator, starts the simulator on virtual
# channel 0 and then the viewer, both on the virtual bus. Extra arguments go
# to the viewer (e.g. "Lantern" for the service mode).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh run
cmake --preset release >/dev/null
cmake --build --preset release --target kolvar-can-viewer kolvar-device-sim

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display: run it on a desktop, or in a virtual one with: xvfb-run -a -s '-screen 0 1280x1024x24' $0 $*" >&2
  exit 1
fi

# Offer only the virtual bus, so the demo reaches it even on a machine that
# has SocketCAN interfaces (they would come first in the channel list).
export KOLVAR_CAN_CHANNELS=virtual
build/release/tools/device_sim/kolvar-device-sim &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null || true' EXIT
echo "Device simulator running (identifier 0x200). Click OFF BUS to switch the bus on."
build/release/app/kolvar-can-viewer "$@"
