#include "serial/port_opening.h"

#include "base/small_file.h"
#include "serial/line_break.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// /dev/tty: whatever terminal the opener runs in.
const dev_t CURRENT_TERMINAL = makedev(5, 0);

PortOpening failed(OpeningFailure failure, int error = 0) {
    PortOpening opening;
    opening.failure = failure;
    opening.error = error;
    return opening;
}

OpeningFailure failure_of_open(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
        return OpeningFailure::permission_denied;
    case EBUSY:
        return OpeningFailure::busy;
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case EIO:
        return OpeningFailure::gone;
    default:
        return OpeningFailure::failed;
    }
}

// A record holding descriptor 0 would count as closed in the serial table, so
// a device that opens as descriptor 0 (standard input was closed) is moved.
OwnedDescriptor keep_off_zero(OwnedDescriptor descriptor) {
    if (descriptor.get() != 0) {
        return descriptor;
    }
    return OwnedDescriptor(fcntl(descriptor.get(), F_DUPFD_CLOEXEC, 1));
}

// The controlling terminal's device number, from /proc/self/stat (field 7,
// after the command, which may hold spaces and parentheses itself).
dev_t controlling_terminal() {
    const std::string text = read_small_file("/proc/self/stat", 1023);
    const char* after_command = std::strrchr(text.c_str(), ')');
    char state = 0;
    int parent = 0;
    int group = 0;
    int session = 0;
    unsigned terminal = 0;
    if (after_command == nullptr || std::sscanf(after_command + 1, " %c %d %d %d %u", &state,
                                                &parent, &group, &session, &terminal) != 5) {
        return 0;
    }
    return makedev((terminal >> 8) & 0xfff, (terminal & 0xff) | ((terminal >> 12) & 0xfff00));
}

// Whether /proc/devices has a terminal driver ("tty...") for the character
// major; a major may be listed under several names.
bool terminal_major(unsigned major_number) {
    const std::string text = read_small_file("/proc/devices", 16383);
    // The character devices come first, up to the block devices' heading.
    std::istringstream lines(text.substr(0, text.find("Block devices:")));
    unsigned number = 0;
    std::string name;
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        if (fields >> number >> name && number == major_number && name.rfind("tty", 0) == 0) {
            return true;
        }
    }
    return false;
}

// The node behind the path, looked up once without opening it: an O_PATH
// descriptor runs no driver's open, and what is decided from its status is
// what is then opened through it, whatever a link on the path points at a
// moment later.
std::optional<PortOpening> look_up_node(const std::string& path, OwnedDescriptor& node) {
    node = OwnedDescriptor(open(path.c_str(), O_PATH | O_CLOEXEC));
    if (node) {
        return std::nullopt;
    }
    const int error = errno;
    struct stat link_status {};
    if (error == ENOENT && lstat(path.c_str(), &link_status) == 0) {
        return failed(OpeningFailure::gone, error);
    }
    return failed(error == ENOENT || error == ENOTDIR ? OpeningFailure::missing
                                                      : failure_of_open(error),
                  error);
}

// What decides before any open: the node is a terminal's character device and
// none of this program's own terminals.
std::optional<PortOpening> refusal_from_status(int node, struct stat& status) {
    if (fstat(node, &status) != 0) {
        return failed(OpeningFailure::failed, errno);
    }
    std::optional<PortOpening> refusal;
    if (!S_ISCHR(status.st_mode) || !is_serial_line(status.st_rdev)) {
        refusal = failed(OpeningFailure::not_a_serial_line);
    } else if (is_own_terminal(status.st_rdev)) {
        refusal = failed(OpeningFailure::own_terminal);
    }
    if (refusal) {
        refusal->mode = status.st_mode;
        refusal->group = status.st_gid;
    }
    return refusal;
}

// Opens the node the lookup found, through /proc/self/fd. Without /proc the
// path is opened and kept only if it is still the same device.
OwnedDescriptor open_node(const std::string& path, const OwnedDescriptor& node,
                          const struct stat& decided) {
    constexpr int flags = O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
    if (!node) {
        return OwnedDescriptor(open(path.c_str(), flags));
    }
    OwnedDescriptor opened(open(("/proc/self/fd/" + std::to_string(node.get())).c_str(), flags));
    if (opened || errno != ENOENT || access("/proc/self/fd", F_OK) == 0) {
        return opened;
    }
    opened = OwnedDescriptor(open(path.c_str(), flags));
    struct stat status {};
    if (opened && (fstat(opened.get(), &status) != 0 || status.st_rdev != decided.st_rdev)) {
        errno = ENOENT;
        return OwnedDescriptor();
    }
    return opened;
}

} // namespace

OpenPort& OpenPort::operator=(OpenPort&& other) noexcept {
    if (this != &other) {
        // As in the destructor: a caller that must know closes first.
        (void)close_now();
        descriptor_ = std::move(other.descriptor_);
        saved_ = other.saved_;
        line_set_ = other.line_set_;
    }
    return *this;
}

bool OpenPort::close_now() {
    return !descriptor_ || port_close(descriptor_.release(), saved_, line_set_);
}

namespace {

std::string sysfs_device(dev_t rdev, const std::string& sysfs_root) {
    return sysfs_root + "/dev/char/" + std::to_string(major(rdev)) + ":" +
           std::to_string(minor(rdev));
}

} // namespace

bool has_sysfs_device(dev_t rdev, const std::string& sysfs_root) {
    return access(sysfs_device(rdev, sysfs_root).c_str(), F_OK) == 0;
}

bool is_serial_line(dev_t rdev, const std::string& sysfs_root) {
    const std::string device = sysfs_device(rdev, sysfs_root);
    char target[PATH_MAX];
    const ssize_t length = readlink((device + "/subsystem").c_str(), target, sizeof target - 1);
    if (length > 0) {
        const std::string subsystem(target, static_cast<std::size_t>(length));
        return subsystem.substr(subsystem.rfind('/') + 1) == "tty";
    }
    // Pseudo-terminal slaves are the only terminals sysfs does not list.
    if (is_pseudo_terminal_slave(rdev)) {
        return true;
    }
    // Without sysfs (some containers), the driver that registered the major
    // says it: terminal drivers name their devices tty... .
    struct stat folder {};
    return stat((sysfs_root + "/dev/char").c_str(), &folder) != 0 && terminal_major(major(rdev));
}

bool is_own_terminal(dev_t rdev) {
    if (rdev == CURRENT_TERMINAL || rdev == controlling_terminal()) {
        return true;
    }
    for (int stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        struct stat status {};
        if (fstat(stream, &status) == 0 && S_ISCHR(status.st_mode) && status.st_rdev == rdev &&
            isatty(stream)) {
            return true;
        }
    }
    return false;
}

const char* opening_failure_word(OpeningFailure failure) {
    switch (failure) {
    case OpeningFailure::none:
        return "opens";
    case OpeningFailure::missing:
        return "missing";
    case OpeningFailure::gone:
        return "gone";
    case OpeningFailure::not_a_serial_line:
        return "no serial line";
    case OpeningFailure::own_terminal:
        return "own terminal";
    case OpeningFailure::permission_denied:
        return "permission denied";
    case OpeningFailure::busy:
        return "busy";
    case OpeningFailure::refused_rate:
        return "refused rate";
    case OpeningFailure::failed:
        break;
    }
    return "failed";
}

namespace {

// The failed open of a node, with its type and group where they can be read.
PortOpening refused_open(const std::string& path, const OwnedDescriptor& node, int error) {
    PortOpening opening = failed(failure_of_open(error), error);
    opening.hold = error == EBUSY ? OpeningHold::exclusive : OpeningHold::none;
    struct stat status {};
    if (node ? fstat(node.get(), &status) == 0 : stat(path.c_str(), &status) == 0) {
        opening.mode = status.st_mode;
        opening.group = status.st_gid;
    }
    return opening;
}

// Takes the port for this program, or says who keeps it: another program's
// hold, or (when sharing is refused) its mere open. The holders are looked up
// when they matter: for a refusal, and before the line is set.
std::optional<PortOpening> hold_or_refuse(const PortRequest& request, int descriptor,
                                          const struct stat& status, PortHolders& holders) {
    // Held before the line is touched, so a port another program holds is
    // refused exactly as it was; the refusal closes without releasing a hold
    // that is not ours.
    if (OpeningHold hold = serial_hold_port(descriptor); hold != OpeningHold::none) {
        PortOpening opening = failed(OpeningFailure::busy);
        opening.hold = hold;
        if (S_ISCHR(status.st_mode)) {
            opening.holders = port_holders(status.st_rdev);
        }
        return opening;
    }
    if ((request.line || request.refuse_shared) && S_ISCHR(status.st_mode)) {
        holders = port_holders(status.st_rdev);
    }
    if (ioctl(descriptor, FIONREAD, &holders.input_waiting) != 0 || holders.input_waiting < 0) {
        holders.input_waiting = 0;
    }
    if (request.refuse_shared && shared_with_others(holders)) {
        serial_release_port(descriptor);
        PortOpening opening = failed(OpeningFailure::busy);
        opening.hold = OpeningHold::shared;
        opening.mode = status.st_mode;
        opening.group = status.st_gid;
        opening.holders = holders;
        return opening;
    }
    return std::nullopt;
}

// Saves the line as it was and sets the one asked for.
std::optional<SavedLine> set_line(const PortRequest& request, int descriptor,
                                  const PortHolders& holders) {
    if (!request.line) {
        return std::nullopt;
    }
    std::optional<SavedLine> saved = save_line(descriptor);
    // Another program's unread input is its own; only a port no one else
    // has open starts the test with nothing waiting. Where other users'
    // processes cannot be seen, another opener cannot be ruled out.
    if (input_is_ours(holders)) {
        tcflush(descriptor, TCIFLUSH);
    }
    // Unchecked: a node that opens but refuses the settings is a port.
    tcsetattr(descriptor, TCSANOW, &*request.line);
    return saved;
}

} // namespace

PortOpening port_open(const PortRequest& request) {
    struct stat status {};
    OwnedDescriptor node;
    if (request.serial_lines_only) {
        if (auto refusal = look_up_node(request.path, node)) {
            return std::move(*refusal);
        }
        if (auto refusal = refusal_from_status(node.get(), status)) {
            return std::move(*refusal);
        }
    }
    OwnedDescriptor descriptor = open_node(request.path, node, status);
    if (!descriptor) {
        return refused_open(request.path, node, errno);
    }
    descriptor = keep_off_zero(std::move(descriptor));
    if (!descriptor) {
        return failed(OpeningFailure::failed, errno);
    }
    fstat(descriptor.get(), &status);
    if (request.serial_lines_only && !isatty(descriptor.get())) {
        PortOpening opening = failed(OpeningFailure::not_a_serial_line, ENOTTY);
        opening.mode = status.st_mode;
        return opening;
    }
    PortHolders holders;
    if (auto refusal = hold_or_refuse(request, descriptor.get(), status, holders)) {
        return std::move(*refusal);
    }
    PortOpening opening;
    opening.mode = status.st_mode;
    opening.group = status.st_gid;
    const std::optional<SavedLine> saved = set_line(request, descriptor.get(), holders);
    opening.input_ours = request.line && input_is_ours(holders);
    opening.holders = std::move(holders);
    opening.port = OpenPort(std::move(descriptor), saved, request.line.has_value());
    if (request.rate != 0 && !set_line_rate(opening.port.descriptor(), request.rate)) {
        opening.failure = OpeningFailure::refused_rate;
        opening.error = errno;
        opening.refused_rate = request.rate;
        // The refused rate is what this opening tells; the line it leaves
        // is told by the next opening, which finds it as it is.
        (void)opening.port.close_now();
        return opening;
    }
    if (request.line) {
        opening.rate = line_rate(opening.port.descriptor());
    }
    opening.failure = OpeningFailure::none;
    return opening;
}

namespace {

// Whether a call on the line failed while the line is still there: one that
// was unplugged, hung up or let go (its descriptor a dead end) has nothing
// left to put back.
bool refused_by_line(bool done) {
    return !done && errno != EIO && errno != ENODEV && errno != ENXIO && errno != ENOTTY &&
           errno != EBADF;
}

} // namespace

bool port_close(int descriptor, const std::optional<SavedLine>& saved, bool discard_output) {
    bool put_back = true;
    if (discard_output) {
        // A test interrupted while it held the line low must not leave it so;
        // a clear refused where no break went through leaves nothing low.
        const bool held = break_may_be_held(descriptor);
        put_back = !(refused_by_line(clear_break(descriptor)) && held);
        tcflush(descriptor, TCOFLUSH);
    }
    if (saved && refused_by_line(restore_line(descriptor, *saved))) {
        put_back = false;
    }
    serial_release_port(descriptor);
    close(descriptor);
    forget_break(descriptor);
    return put_back;
}
