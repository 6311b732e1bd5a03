// SPDX-License-Identifier: GPL-3.0-or-later
// Bad command lines, out of process on a virtual X server (display :97):
// every pattern of the start-up's single word, plus the longest words the
// system lets through, non-UTF-8 bytes and words that Qt would take for its
// own options, and virtual bus ports that are not ports. Each run must start
// in the right mode (the channel-1 raw display is drawn only in the service
// mode) and end with status 0 when its window is closed as a window manager
// closes it.
#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <ostream>
#include <set>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "tests/support/virtual_display.h"

namespace {

constexpr int kDisplay = 97;
// Where NUMERIC_CH1_RAW sits in the panel's client area.
const QRect kChannel1RawArea(288, 412, 50, 21);
// The kernel takes no single argument longer than this (MAX_ARG_STRLEN).
constexpr size_t kLongestWord = 128 * 1024 - 1;

struct Outcome {
    bool windowFound = false;
    bool serviceMode = false;
    bool exited = false;
    int status = -1;  // exit status, or 128 + signal
    std::string said;  // what it wrote on standard error
};

// Where the bus button sits in the panel's client area.
const QPoint kBusButtonCentre(537 + 62 / 2, 62 + 33 / 2);

// Starts the viewer on `display` with exactly these argument bytes (no
// shell, no conversion), or through /bin/sh when `shellLine` is given, finds
// its window, reads the mode off the screen, switches the bus on when asked
// and closes the window. `port` replaces the private virtual bus port.
Outcome runViewer(const VirtualDisplay& display, const std::vector<std::string>& words,
                  const char* shellLine = nullptr, bool busOnBeforeClose = false,
                  const char* port = nullptr) {
    std::vector<std::string> argvWords;
    if (shellLine) {
        argvWords = {"/bin/sh", "-c", shellLine, KOLVAR_VIEWER_PATH};
    } else {
        argvWords = {KOLVAR_VIEWER_PATH};
        argvWords.insert(argvWords.end(), words.begin(), words.end());
    }
    std::vector<char*> argv;
    for (std::string& word : argvWords) argv.push_back(word.data());
    argv.push_back(nullptr);

    std::vector<std::string> environmentWords = {
        "DISPLAY=" + display.name().toStdString(), "QT_QPA_PLATFORM=xcb", "KOLVAR_CAN_CHANNELS=virtual",
        "KOLVAR_VIRTUALCAN_PORT=" + (port ? std::string(port) : std::to_string(20000 + (getpid() + 1000) % 12000)),
        "PATH=" + std::string(getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin")};
    std::vector<char*> environment;
    for (std::string& word : environmentWords) environment.push_back(word.data());
    environment.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    QTemporaryDir scratch;
    const std::string errorFile = scratch.filePath("stderr.txt").toStdString();
    posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environment.data());
    posix_spawn_file_actions_destroy(&actions);
    Outcome outcome;
    EXPECT_EQ(spawned, 0) << "posix_spawn: " << strerror(spawned);
    if (spawned != 0) return outcome;

    QString window;
    for (int attempt = 0; attempt < 100 && window.isEmpty(); ++attempt) {
        window = display
                     .run("xdotool", {"search", "--onlyvisible", "--pid", QString::number(pid),
                                      "--name", "^Kolvar CAN Viewer$"},
                          2000)
                     .value_or(QString())
                     .section('\n', 0, 0);
        if (window.isEmpty()) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {  // ended before showing a window
                outcome.exited = true;
                outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            QTest::qWait(100);
        }
    }
    outcome.windowFound = !window.isEmpty();
    if (outcome.windowFound) {
        QTest::qWait(400);  // focus gained, first frame painted
        QTemporaryDir shots;
        const QString shot = shots.filePath("viewer.png");
        display.run("import", {"-window", window, "png:" + shot});
        const QImage image(shot);
        EXPECT_FALSE(image.isNull()) << "no screenshot";
        std::set<QRgb> colours;
        if (!image.isNull())
            for (int y = kChannel1RawArea.top(); y <= kChannel1RawArea.bottom(); ++y)
                for (int x = kChannel1RawArea.left(); x <= kChannel1RawArea.right(); ++x)
                    colours.insert(image.pixel(x, y));
        // Hidden: plain panel background. Shown: a display with its digits.
        outcome.serviceMode = colours.size() > 1;
        if (busOnBeforeClose) {
            const bool clicked =
                display
                    .run("xdotool", {"mousemove", "--sync", "--window", window,
                                     QString::number(kBusButtonCentre.x()),
                                     QString::number(kBusButtonCentre.y()), "click", "1"})
                    .has_value();
            EXPECT_TRUE(clicked) << "click failed";
            QTest::qWait(1500);  // past the first read: the worker loops
        }
        display.run(KOLVAR_X_CLOSE_PATH, {window});
    }
    for (int wait = 0; wait < 200 && !outcome.exited; ++wait) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            outcome.exited = true;
            outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        } else {
            QTest::qWait(50);
        }
    }
    if (!outcome.exited) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    QFile errors(QString::fromStdString(errorFile));
    if (errors.open(QIODevice::ReadOnly)) outcome.said = errors.readAll().toStdString();
    return outcome;
}

struct CommandLine {
    const char* name;
    std::vector<std::string> words;
    bool service;
    const char* port = nullptr;  // a KOLVAR_VIRTUALCAN_PORT that is not a port
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const CommandLine& commandLine, std::ostream* out) { *out << commandLine.name; }

void checkOutcome(const Outcome& outcome, bool service);

class BadCommandLine : public ::testing::TestWithParam<CommandLine> {
protected:
    static void SetUpTestSuite() { display = new VirtualDisplay(kDisplay); }
    static void TearDownTestSuite() {
        delete display;
        display = nullptr;
    }
    void expectCleanRun(const Outcome& outcome, bool service) {
        ASSERT_TRUE(display && display->ready()) << "no X server on " << display->name().toStdString();
        checkOutcome(outcome, service);
    }
    static VirtualDisplay* display;
};
VirtualDisplay* BadCommandLine::display = nullptr;

void checkOutcome(const Outcome& outcome, bool service) {
    EXPECT_TRUE(outcome.windowFound) << "no window; ended with " << outcome.status
                                     << ", saying: " << outcome.said;
    EXPECT_EQ(outcome.serviceMode, service);
    EXPECT_TRUE(outcome.exited) << "still running after the close request";
    EXPECT_EQ(outcome.status, 0) << outcome.said;
}

TEST_P(BadCommandLine, StartsInTheRightModeAndExitsWithZeroOnClose) {
    const CommandLine& row = GetParam();
    const Outcome outcome = runViewer(*display, row.words, nullptr, false, row.port);
    expectCleanRun(outcome, row.service);
    // A port that is not one is said, not replaced by the shared bus's port.
    if (row.port) {
        EXPECT_NE(outcome.said.find("KOLVAR_VIRTUALCAN_PORT '" + std::string(row.port) +
                                    "' is not a port from 1 to 65535\n"),
                  std::string::npos)
            << outcome.said;
    }
}

std::string longWord(char fill, size_t length) { return std::string(length, fill); }

INSTANTIATE_TEST_SUITE_P(
    Words, BadCommandLine,
    ::testing::Values(
        CommandLine{"None", {}, false}, CommandLine{"Lantern", {"Lantern"}, true},
        CommandLine{"TwoWords", {"Lantern", "Lantern"}, false},
        CommandLine{"LanternThenOther", {"Lantern", "x"}, false},
        CommandLine{"OtherThenLantern", {"x", "Lantern"}, false},
        CommandLine{"Lower", {"lantern"}, false}, CommandLine{"Upper", {"LANTERN"}, false},
        CommandLine{"Mixed", {"lANTERN"}, false}, CommandLine{"TrailingBlank", {"Lantern "}, false},
        CommandLine{"Empty", {""}, false},
        // Quotes that reach the program (no shell removed them) are part
        // of the word.
        CommandLine{"LiteralQuotes", {"\"Lantern\""}, false},
        // Words Qt would take for its own options.
        CommandLine{"QtOptionAlone", {"-reverse"}, false},
        CommandLine{"QtPlatformOption", {"-platform", "bogus"}, false},
        CommandLine{"QtOptionBeforeLantern", {"-reverse", "Lantern"}, false},
        CommandLine{"DashDash", {"--", "Lantern"}, false},
        CommandLine{"NonUtf8", {"\xff\xfe\x80"}, false},
        CommandLine{"LanternWithNonUtf8", {"Lantern\xff"}, false},
        CommandLine{"BrokenUtf8Sequence", {"\xc3\x28", "\xe2\x82"}, false},
        CommandLine{"LongestWord", {longWord('L', kLongestWord)}, false},
        // About 1 MB of command line in 9 words of the longest size.
        CommandLine{"MegabyteCommandLine",
                    std::vector<std::string>(9, longWord('x', kLongestWord)), false},
        CommandLine{"LanternThenAMegabyte",
                    [] {
                        std::vector<std::string> words{"Lantern"};
                        for (int i = 0; i < 8; ++i) words.push_back(longWord('\xff', kLongestWord));
                        return words;
                    }(),
                    false},
        CommandLine{"PortAbove65535", {}, false, "70000"}, CommandLine{"PortZero", {}, false, "0"},
        CommandLine{"PortWord", {}, false, "abc"}, CommandLine{"PortNegative", {}, false, "-5"},
        CommandLine{"PortWithTrailingLetters", {"Lantern"}, true, "41901abc"}),
    [](const ::testing::TestParamInfo<CommandLine>& info) { return std::string(info.param.name); });

// The word in double quotes on a shell's command line: the quotes are
// removed before the program sees it, so the service mode follows.
TEST_F(BadCommandLine, LanternInDoubleQuotesThroughAShell) {
    expectCleanRun(runViewer(*display, {}, "exec \"$0\" \"Lantern\""), true);
}

// The viewer hosts the virtual bus once the bus is on; the process must
// still end cleanly, with nothing said on standard error about sockets or
// threads (its I/O thread once outlived main and met the bus plugin's
// statics being destroyed).
TEST_F(BadCommandLine, BusOnThenClosedEndsCleanly) {
    const Outcome outcome = runViewer(*display, {"Lantern"}, nullptr, true);
    expectCleanRun(outcome, true);
    EXPECT_EQ(outcome.said.find("QSocketNotifier"), std::string::npos) << outcome.said;
    EXPECT_EQ(outcome.said.find("QThread"), std::string::npos) << outcome.said;
}

TEST_F(BadCommandLine, EscapedQuotesThroughAShellKeepTheQuotes) {
    expectCleanRun(runViewer(*display, {}, "exec \"$0\" \\\"Lantern\\\""), false);
}

}  // namespace
