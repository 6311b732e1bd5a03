// SPDX-License-Identifier: GPL-3.0-or-later
// A serial-line CAN adapter played on a pseudo terminal: the kernel's slcan
// line discipline (N_SLCAN) is attached to the terminal's slave side, so a
// CAN network device appears whose commands arrive on the master side here.
//
// Usage: kolvar-slcan-adapter
// Prints "device NAME" once the network device exists, then one line
// "command TEXT" for every command the driver writes (C, S0..S8, O, t...),
// answering each with the carriage return the driver waits for.
// Each line read on standard input is sent to the driver as the adapter's
// own message, with its carriage return added:
//   t1A58F0FF100000000000   a frame, 11-bit identifier 0x1A5, 8 data bytes
//   sb255000                the controller's state (a/w/p/b) and its counters
// End of standard input detaches the device and ends the program.
// Needs root (attaching a line discipline that creates a network device).
// The terminal comes from KOLVAR_PTMX when set (a devpts of its own, which
// uml-run.sh mounts where the host's /dev has no /dev/pts), else /dev/ptmx.
#include <fcntl.h>
#include <linux/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int kSlcanDiscipline = 17;  // N_SLCAN

bool writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

int fail(const char* what) {
    std::fprintf(stderr, "slcan-adapter: %s: %s\n", what, std::strerror(errno));
    return 1;
}

}  // namespace

int main() {
    const char* ptmx = std::getenv("KOLVAR_PTMX");
    const int master = ::open(ptmx ? ptmx : "/dev/ptmx", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) return fail("open ptmx");
    if (::unlockpt(master) != 0) return fail("unlockpt");
    // The slave side without its path, which may lie in a devpts elsewhere.
    const int slave = ::ioctl(master, TIOCGPTPEER, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) return fail("TIOCGPTPEER");
    termios raw{};
    if (::tcgetattr(slave, &raw) != 0) return fail("tcgetattr");
    ::cfmakeraw(&raw);
    if (::tcsetattr(slave, TCSANOW, &raw) != 0) return fail("tcsetattr");
    if (::tcgetattr(master, &raw) != 0) return fail("tcgetattr master");
    ::cfmakeraw(&raw);
    if (::tcsetattr(master, TCSANOW, &raw) != 0) return fail("tcsetattr master");
    const int discipline = kSlcanDiscipline;
    if (::ioctl(slave, TIOCSETD, &discipline) != 0) return fail("TIOCSETD N_SLCAN");
    char device[IFNAMSIZ] = "";
    if (::ioctl(slave, SIOCGIFNAME, device) != 0) return fail("SIOCGIFNAME");
    std::printf("device %s\n", device);
    std::fflush(stdout);

    std::string fromDriver;
    std::string fromTest;
    pollfd fds[2] = {{master, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return fail("poll");
        }
        char buffer[256];
        if (fds[0].revents & POLLIN) {
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n < 0 && errno != EINTR && errno != EAGAIN) return fail("read master");
            for (ssize_t i = 0; i < n; ++i) {
                if (buffer[i] != '\r') {
                    fromDriver += buffer[i];
                    continue;
                }
                std::printf("command %s\n", fromDriver.c_str());
                std::fflush(stdout);
                // Only the driver's own commands wait for an answer; a frame
                // it sends (t, T, r, R) is acknowledged all the same.
                if (!writeAll(master, "\r")) return fail("write master");
                fromDriver.clear();
            }
        }
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            for (ssize_t i = 0; i < n; ++i) {
                if (buffer[i] != '\n') {
                    fromTest += buffer[i];
                    continue;
                }
                if (!writeAll(master, fromTest + "\r")) return fail("write master");
                fromTest.clear();
            }
        }
    }
    ::close(slave);  // detaches the discipline: the network device goes away
    ::close(master);
    return 0;
}
