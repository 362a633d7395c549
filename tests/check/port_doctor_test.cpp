// The reasons lantoric-check gives, caused for real: nodes under /dev with
// names no real device has, an unprivileged user, exclusive holds, locks and
// other processes holding a port.
#include "base/owners.h"
#include "check/line/adapter_testing.h"
#include "check/port/open_diagnosis.h"
#include "tests/support/device_links.h"
#include "tests/support/processes.h"
#include "tests/support/pty_pair.h"
#include "tests/support/simulated_adapter.h"
#include "tests/support/temp_folder.h"
#include "tests/support/terminal_holder.h"
#include "tests/support/wait_until.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <grp.h>
#include <gtest/gtest.h>
#include <optional>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// The watch lists /dev whole: run by root, this program sees only the nodes
// its tests make there, whatever else is plugged in.
[[maybe_unused]] const bool in_own_devices = run_in_own_devices();

// A node made under /dev for one test and removed with this object.
class DevNode {
  public:
    // kind "fifo", or a link to target.
    DevNode(const std::string& kind, const std::string& target = "") : path_(unique_device_link()) {
        if (kind == "acm") {
            path_.replace(path_.find("ttyUSB"), 6, "ttyACM");
        }
        int made =
            kind == "fifo" ? mkfifo(path_.c_str(), 0600) : symlink(target.c_str(), path_.c_str());
        EXPECT_EQ(made, 0) << path_;
    }
    ~DevNode() { unlink(path_.c_str()); }
    DevNode(const DevNode&) = delete;
    DevNode& operator=(const DevNode&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// lantoric-check as user 65534 with the given group and no other groups.
ToolRun check_unprivileged(const std::string& port, const char* group = "65534") {
    return run_tool({"/usr/bin/setpriv", "--reuid=65534", std::string("--regid=") + group,
                     "--clear-groups", LANTORIC_CHECK_PATH, port});
}

TEST(PortDoctor, TheListingExplainsEveryKindOfNodeAndNeverBlocks) {
    DevNode fifo("fifo");
    DevNode null_link("acm", "/dev/null");
    DevNode dangling("link", "/dev/pts/no-such-terminal");
    SimulatedAdapter adapter(unique_device_link());
    ASSERT_TRUE(adapter.ready());
    ToolRun run = run_tool(with_own_devices({LANTORIC_CHECK_PATH}), std::chrono::seconds(60));
    ASSERT_FALSE(run.timed_out) << "the listing blocked";
    EXPECT_EQ(run.status, 0) << run.errors;
    for (const std::string& line : {
             fifo.path() + " (ttyUSB)\n  opens: no\n  reason: no serial line: " + fifo.path() +
                 " is a FIFO",
             null_link.path() + " (ttyACM)\n  opens: no\n  reason: no serial line: " +
                 null_link.path() + " is a character device of no terminal; it was not opened",
             dangling.path() + " (ttyUSB)\n  opens: no\n  reason: gone: " + dangling.path() +
                 " leads to /dev/pts/no-such-terminal",
             adapter.link() + " (ttyUSB)\n  opens: yes\n",
         }) {
        EXPECT_NE(run.output.find(line), std::string::npos) << line << "\n---\n" << run.output;
    }
    // The simulator holds the terminal's master: it is the device, no holder.
    EXPECT_EQ(run.output.find(adapter.link() + " (ttyUSB)\n  opens: yes\n  held by"),
              std::string::npos)
        << run.output;
    // --all tests the ports that open and no other.
    ToolRun all =
        run_tool(with_own_devices({LANTORIC_CHECK_PATH, "--all"}), std::chrono::seconds(60));
    EXPECT_EQ(all.status, 0) << all.output << all.errors;
    EXPECT_NE(all.output.find(adapter.link() + " at 9600 baud\n  verdict: success"),
              std::string::npos)
        << all.output;
    EXPECT_EQ(all.output.find(fifo.path()), std::string::npos) << all.output;
}

// Another process with the port open is named, its chosen name escaped; its
// port is tested only when forced, and --all passes it by.
TEST(PortDoctor, AnotherProcessHoldingThePortIsNamedAndLeftAlone) {
    SimulatedAdapter adapter(unique_device_link());
    SimulatedAdapter free_adapter(unique_device_link());
    ASSERT_TRUE(adapter.ready() && free_adapter.ready());
    // A name that would clear the screen, retitle the terminal and turn the
    // text after it around: a CSI and a right-to-left override.
    const char* name = "\x1b[2J\x1b]0;x\x07\xc2\x9b\xe2\x80\xae";
    pid_t reader = fork();
    if (reader == 0) {
        int port = open(adapter.link().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        prctl(PR_SET_NAME, name);
        while (port >= 0) {
            pause();
        }
        _exit(127);
    }
    ASSERT_GT(reader, 0);
    PortHolders holders;
    ASSERT_TRUE(wait_until([&] {
        holders = port_holders(adapter.link());
        return holders.processes.size() == 1 && holders.processes[0].pid == reader &&
               holders.processes[0].command == name;
    }));
    EXPECT_TRUE(holders.all_visible);
    const std::string named =
        "process " + std::to_string(reader) + " (\\x1b[2J\\x1b]0;x\\x07\\xc2\\x9b\\xe2\\x80\\xae)";

    ToolRun listing = run_tool(with_own_devices({LANTORIC_CHECK_PATH}));
    ToolRun refused = run_tool({LANTORIC_CHECK_PATH, adapter.link()});
    // Traffic of another program waits unread when the forced test begins.
    OwnedDescriptor other(open(adapter.link().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    int waiting = write(other.get(), "old", 3) == 3 ? 0 : -1;
    EXPECT_TRUE(
        wait_until([&] { return ioctl(other.get(), FIONREAD, &waiting) == 0 && waiting == 3; }));
    ToolRun forced = run_tool({LANTORIC_CHECK_PATH, "--force", adapter.link()});
    // To a user who cannot see the holder, its unread traffic shows that a
    // program uses the port: it is left alone, nothing read or dropped.
    ASSERT_EQ(chmod(adapter.slave().c_str(), 0666), 0);
    EXPECT_EQ(write(other.get(), "old", 3), 3);
    EXPECT_TRUE(
        wait_until([&] { return ioctl(other.get(), FIONREAD, &waiting) == 0 && waiting == 3; }));
    ToolRun unseen = check_unprivileged(adapter.link());
    EXPECT_TRUE(ioctl(other.get(), FIONREAD, &waiting) == 0 && waiting == 3) << waiting;
    char old[3];
    ToolRun idle = read(other.get(), old, 3) == 3 ? check_unprivileged(adapter.link()) : ToolRun{};
    ToolRun all =
        run_tool(with_own_devices({LANTORIC_CHECK_PATH, "--all"}), std::chrono::seconds(60));
    ToolRun json = run_tool(with_own_devices({LANTORIC_CHECK_PATH, "--json"}));
    ToolRun refused_json = run_tool({LANTORIC_CHECK_PATH, "--json", adapter.link()});
    kill(reader, SIGKILL);
    waitpid(reader, nullptr, 0);
    for (const ToolRun* run : {&listing, &refused, &all}) {
        EXPECT_EQ(run->output.find('\x1b'), std::string::npos) << "an escape reached the terminal";
        EXPECT_NE(run->output.find("held by: " + named), std::string::npos) << run->output;
    }
    EXPECT_NE(json.output.find("\\u001b[2J\\u001b]0;x\\u0007\\u009b\\u202e"), std::string::npos)
        << json.output;
    EXPECT_EQ(refused.status, 3);
    EXPECT_NE(refused_json.output.find("\"verdict\" : \"held by another process\""),
              std::string::npos)
        << refused_json.output;
    EXPECT_NE(refused.errors.find(named + ": not tested; close that program, or give --force"),
              std::string::npos)
        << refused.errors;
    EXPECT_EQ(forced.status, 0) << forced.output << forced.errors;
    EXPECT_NE(forced.output.find("waiting before the test: 3 bytes"), std::string::npos);
    EXPECT_EQ(unseen.status, 3) << unseen.output << unseen.errors;
    for (const char* line : {"  verdict: not tested\n  held by: a program of another user, which "
                             "this user cannot see, it seems: 3 bytes wait unread",
                             "  fix: sudo lantoric-check ", "or give --force to test"}) {
        EXPECT_NE(unseen.output.find(line), std::string::npos) << line << "\n" << unseen.output;
    }
    EXPECT_NE(idle.output.find("  may be in use: by a program of another user, which this user "
                               "cannot see (sudo lantoric-check "),
              std::string::npos)
        << idle.output;
    EXPECT_EQ(all.status, 0) << all.output << all.errors;
    EXPECT_NE(all.output.find(free_adapter.link() + " at 9600 baud\n  verdict: success"),
              std::string::npos)
        << all.output;
    EXPECT_NE(all.output.find(adapter.link() + " at 9600 baud\n  verdict: not tested"),
              std::string::npos)
        << all.output;
}

TEST(PortDoctor, PermissionDeniedNamesTheGroupAndTheFix) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "dropping to another user needs root";
    }
    SimulatedAdapter adapter(unique_device_link());
    ASSERT_TRUE(adapter.ready());
    struct stat node {};
    ASSERT_EQ(stat(adapter.slave().c_str(), &node), 0);
    group* owner = getgrgid(node.st_gid);
    ASSERT_NE(owner, nullptr);
    const std::string group_name = owner->gr_name;
    ToolRun run = check_unprivileged(adapter.link());
    EXPECT_EQ(run.status, 3) << run.output << run.errors;
    // Group root is no group to join; any other is.
    const std::string fix = node.st_gid == 0 ? "users are not meant to join group root"
                                             : "sudo usermod -aG " + group_name;
    EXPECT_NE(run.errors.find("permission denied: " + adapter.link() + " belongs to group " +
                              group_name + ", and you are not in it; " + fix),
              std::string::npos)
        << run.errors;

    // The group database gives user 65534 its group 65534; a session started
    // with another group lacks it, as one that began before the user joined.
    ASSERT_EQ(chown(adapter.slave().c_str(), 0, 65534), 0);
    ASSERT_EQ(chmod(adapter.slave().c_str(), 0660), 0);
    ToolRun stale = check_unprivileged(adapter.link(), "0");
    EXPECT_EQ(stale.status, 3);
    EXPECT_NE(stale.errors.find("which you joined after this session began; log out and in again"),
              std::string::npos)
        << stale.errors;
}

// Each way another program can hold a port makes it busy, for root too, and
// the port opens again once the hold is gone.
TEST(PortDoctor, HoldsOfOtherProgramsMakeThePortBusy) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    TempFolder locks;
    const std::string lock_file =
        locks.path_of("LCK.." + pty.slave_path().substr(pty.slave_path().rfind('/') + 1));
    std::optional<TerminalHolder> holder;
    struct Row {
        const char* name;
        std::function<void()> hold;
        const char* says;
    };
    const Row rows[] = {
        {"TIOCEXCL",
         [&] {
             holder.emplace(pty.slave_path(), TerminalHolder::Use{false, true});
         },
         "exclusively (TIOCEXCL)"},
        {"flock",
         [&] {
             holder.emplace(pty.slave_path(), TerminalHolder::Use{true, false});
         },
         "(flock)"},
        {"UUCP lock file",
         [&] {
             if (FILE* lock = std::fopen(lock_file.c_str(), "w")) {
                 std::fprintf(lock, "%10d\n", static_cast<int>(getpid()));
                 std::fclose(lock);
             }
         },
         "says process"},
        // Anyone may write in the lock folder: none of these is a lock, and
        // none may block the look or fill the memory.
        {"lock file of a process that ended",
         [&] {
             pid_t ended = fork();
             if (ended == 0) {
                 _exit(0);
             }
             waitpid(ended, nullptr, 0);
             if (FILE* lock = std::fopen(lock_file.c_str(), "w")) {
                 std::fprintf(lock, "%10d\n", static_cast<int>(ended));
                 std::fclose(lock);
             }
         },
         nullptr},
        {"FIFO as lock file", [&] { mkfifo(lock_file.c_str(), 0666); }, nullptr},
        {"link to /dev/zero as lock file", [&] { symlink("/dev/zero", lock_file.c_str()); },
         nullptr},
        {"huge sparse lock file",
         [&] {
             int lock = open(lock_file.c_str(), O_WRONLY | O_CREAT, 0644);
             ftruncate(lock, 50LL << 30);
             close(lock);
         },
         nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        row.hold();
        OpenReport held = check_open(pty.slave_path(), locks.path());
        EXPECT_EQ(held.failure, row.says ? OpeningFailure::busy : OpeningFailure::none)
            << held.reason;
        EXPECT_NE(held.reason.find(row.says ? row.says : "opens"), std::string::npos)
            << held.reason;
        holder.reset();
        unlink(lock_file.c_str());
        // A pseudo-terminal keeps its exclusive mode after the holder has
        // gone; root may still open it and end that mode.
        int clearing = open(pty.slave_path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ioctl(clearing, TIOCNXCL);
        close(clearing);
        EXPECT_EQ(check_open(pty.slave_path(), locks.path()).failure, OpeningFailure::none);
    }
    // An unprivileged open is refused outright by an exclusive hold.
    if (geteuid() == 0) {
        ASSERT_EQ(chmod(pty.slave_path().c_str(), 0666), 0);
        TerminalHolder exclusive(pty.slave_path(), TerminalHolder::Use{false, true});
        ASSERT_TRUE(exclusive.ready());
        ToolRun run = check_unprivileged(pty.slave_path());
        EXPECT_EQ(run.status, 3);
        EXPECT_NE(
            run.errors.find("busy: another program holds " + pty.slave_path() + " exclusively;"),
            std::string::npos)
            << run.errors;
    }
}

// Whether the log file holds the text, waited for.
bool logged_in(const std::string& log, const std::string& text) {
    return wait_until([&] { return file_text(log).find(text) != std::string::npos; });
}

// Adapters plugged in and out while --watch runs, its output going to a file:
// each block is there as soon as its test ends, and a signal ends the watch
// with a tally.
TEST(PortDoctor, WatchTestsEachAdapterAsItComes) {
    TempFolder folder;
    const std::string log = folder.path_of("watch.log");
    OwnedDescriptor output(open(log.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    ChildSetup setup;
    setup.arguments = {LANTORIC_CHECK_PATH, "--watch"};
    setup.output = output.get();
    const pid_t watch = spawn_child(setup);
    ASSERT_GT(watch, 0);
    auto logged = [&](const std::string& text) { return logged_in(log, text); };
    EXPECT_TRUE(logged("watching /dev for new ttyUSB* and ttyACM* ports"));
    std::string silent_link;
    {
        // The failing adapter first: the watch ends with the worst status,
        // not the last adapter's.
        SimulatedAdapter silent(unique_device_link(), {"--silent"});
        ASSERT_TRUE(silent.ready());
        silent_link = silent.link();
        EXPECT_TRUE(logged(silent.link() + " at 9600 baud\n  verdict: timeout"));
        // Another failure: the tally counts each verdict, in the order of their words.
        SimulatedAdapter stuck(unique_device_link(), {"--short-write"});
        ASSERT_TRUE(stuck.ready());
        EXPECT_TRUE(logged(stuck.link() + " at 9600 baud\n  verdict: not able to transmit"));
        SimulatedAdapter good(unique_device_link());
        ASSERT_TRUE(good.ready());
        EXPECT_TRUE(logged(good.link() + " at 9600 baud\n  verdict: success"));
    }
    EXPECT_TRUE(logged(silent_link + ": unplugged"));
    // Changes lost to the kernel's full queue (the watch was stopped): the
    // folder is looked at again, and the adapter plugged in meanwhile tested.
    kill(watch, SIGSTOP);
    const std::string flood = "/dev/lantoric-flood-" + std::to_string(getpid());
    for (int i = std::stoi(file_text("/proc/sys/fs/inotify/max_queued_events")) / 2; i >= 0; --i) {
        ASSERT_EQ(symlink("flood", flood.c_str()), 0);
        ASSERT_EQ(unlink(flood.c_str()), 0);
    }
    SimulatedAdapter late(unique_device_link());
    ASSERT_TRUE(late.ready());
    kill(watch, SIGCONT);
    EXPECT_TRUE(logged(late.link() + " at 9600 baud\n  verdict: success"));
    kill(watch, SIGINT);
    const std::optional<int> status = wait_for_child(watch, std::chrono::seconds(10));
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 2) << describe_wait_status(*status);
    EXPECT_TRUE(logged("watch ended: 4 tested, 2 passed, not able to transmit: 1, timeout: 1\n"));
}

// --all: the first Ctrl-C ends the watch after the test under way, the ports
// not yet tested left alone. A wait that fails ends the watch as no success.
TEST(PortDoctor, WatchEndsOnCtrlCDuringAllAndOnAFailedWait) {
    DeviceLink no_serial_line(unique_device_link(), "/dev/null"); // first, and not tested
    SimulatedAdapter first(unique_device_link(), {"--silent"});
    SimulatedAdapter second(unique_device_link(), {"--silent"});
    ASSERT_TRUE(first.ready() && second.ready());
    TempFolder folder;
    const std::string log = folder.path_of("watch.log");
    OwnedDescriptor output(open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    ChildSetup setup;
    setup.arguments = {LANTORIC_CHECK_PATH, "--watch", "--all", "--count=1000"};
    setup.output = setup.error = output.get();
    pid_t watch = spawn_child(setup);
    ASSERT_GT(watch, 0);
    ASSERT_TRUE(wait_until(
        [&] { return has_open(watch, first.slave()) || has_open(watch, second.slave()); }));
    kill(watch, SIGINT);
    std::optional<int> status = wait_for_child(watch, std::chrono::seconds(10));
    ASSERT_TRUE(status && WIFEXITED(*status)) << describe_wait_status(status.value_or(0));
    EXPECT_TRUE(logged_in(log, "watch ended: 1 tested, 0 passed, timeout: 1\n"));
    // poll refuses more descriptors than the limit allows: woken by a change,
    // the watch's next wait fails.
    ASSERT_EQ(ftruncate(output.get(), 0), 0);
    const std::string base = unique_device_link();
    DeviceLink nine(base + "9", "nowhere"), ten(base + "10", "nowhere");
    setup.arguments = {LANTORIC_CHECK_PATH, "--watch"};
    // A leak check at exit opens files, which the limit below forbids: its
    // failure would replace the exit status.
    setup.environment = {"ASAN_OPTIONS=detect_leaks=0"};
    watch = spawn_child(setup);
    ASSERT_GT(watch, 0);
    ASSERT_TRUE(logged_in(log, "watching /dev"));
    const std::string greeting = file_text(log); // the ports there, in natural order
    EXPECT_LT(greeting.find(nine.path() + ": there"), greeting.find(ten.path() + ": there"))
        << greeting;
    const rlimit two = {2, 2};
    ASSERT_EQ(prlimit(watch, RLIMIT_NOFILE, &two, nullptr), 0);
    const std::string wake = "/dev/lantoric-wake-" + std::to_string(getpid());
    ASSERT_EQ(symlink("wake", wake.c_str()), 0);
    unlink(wake.c_str());
    status = wait_for_child(watch, std::chrono::seconds(10));
    ASSERT_TRUE(status && WIFEXITED(*status)) << describe_wait_status(status.value_or(0));
    EXPECT_EQ(WEXITSTATUS(*status), 3);
    EXPECT_TRUE(logged_in(log, "for new ports failed: Invalid argument"));
}

// A node udev opens to the user in two steps (group, then mode) is tested
// once it opens, not at the first step; the first Ctrl-C ends the watch
// after the run under way, however many runs --count asked for.
TEST(PortDoctor, WatchWaitsForUdevAndEndsOnTheFirstCtrlC) {
    TempFolder folder;
    SimulatedAdapter adapter(unique_device_link(folder.path()), {"--silent"});
    ASSERT_TRUE(adapter.ready());
    const std::string log = folder.path_of("watch.log");
    OwnedDescriptor output(open(log.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    ChildSetup setup;
    setup.arguments = {"/usr/bin/setpriv",  "--reuid=65534", "--regid=65534", "--clear-groups",
                       LANTORIC_CHECK_PATH, "--watch",       "--count=1000"};
    setup.output = output.get();
    const pid_t watch = spawn_child(setup);
    ASSERT_GT(watch, 0);
    // A child that changed its user does not get the death signal.
    struct KilledAtTheEnd {
        pid_t pid;
        ~KilledAtTheEnd() {
            if (pid > 0 && kill(pid, SIGKILL) == 0) {
                waitpid(pid, nullptr, 0);
            }
        }
    } running{watch};
    auto logged = [&](const std::string& text) { return logged_in(log, text); };
    ASSERT_TRUE(logged("watching /dev for new ttyUSB* and ttyACM* ports"));
    // udev's steps, each seen by the watch as a change of the node's link.
    const char* terminal = adapter.slave().c_str();
    DevNode node("link", terminal);
    ASSERT_EQ(chown(terminal, 0, 65534), 0);
    ASSERT_EQ(lchown(node.path().c_str(), 0, 0), 0);
    // The mode well after the group: the watch waits for it too.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ASSERT_EQ(chmod(terminal, 0660), 0);
    ASSERT_EQ(lchown(node.path().c_str(), 0, 0), 0);
    const auto testing = [&] { return has_open(watch, adapter.slave()); };
    ASSERT_TRUE(wait_until(testing, std::chrono::seconds(10))) << file_text(log);
    kill(watch, SIGINT);
    const std::optional<int> status = wait_for_child(watch, std::chrono::seconds(10));
    ASSERT_TRUE(status.has_value()) << "the watch ran on after Ctrl-C";
    running.pid = -1;
    EXPECT_TRUE(logged("watch ended: 1 tested, 0 passed, timeout: 1\n"));
}

// A port opened but not taken into the table of open ports (this test
// program never makes the table) is a run that did not open, with its reason.
TEST(PortDoctor, APortTheTableCannotTakeIsSaidWhy) {
    TempFolder folder;
    SimulatedAdapter adapter(unique_device_link(folder.path()));
    ASSERT_TRUE(adapter.ready());
    AdapterTest test;
    test.path = adapter.link();
    const std::string reason = run_test_once(test, 1, false).open.reason;
    EXPECT_NE(reason.find(adapter.link() + " opened, but lantoric-check had no memory"),
              std::string::npos)
        << reason;
}

// Lock files name their process as ASCII decimal or as a four-byte binary int;
// anything else names no process.
TEST(PortDoctor, LockFilePidsAreParsedStrictly) {
    const std::pair<std::string, pid_t> rows[] = {
        {"      4242\n", 4242},
        {" 17 ", 17},
        {"4294967297\n", 0},           // would wrap to 1
        {"99999999999999999999\n", 0}, // would clamp to -1, which kill() accepts
        {"0\n", 0},
        {"12ab\n", 0},
        {"-5\n", 0},
        {std::string("\x00\x01\x00\x00", 4), 256}, // binary, low byte 0
        {std::string("\x20\x01\x00\x00", 4), 288}, // binary, low byte a space
        {"\x01\x02\x03", 0},
    };
    for (const auto& [content, pid] : rows) {
        EXPECT_EQ(lock_file_pid(content, 4194304), pid) << content;
    }
    EXPECT_EQ(lock_file_pid("300\n", 200), 0) << "above the system's pid maximum";
}

} // namespace
