#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "link/sio_channels.h"
#include "platform/text.h"

// termios2 lives in a header that cannot share a file with <termios.h>.
bool SetCustomSpeed(int fd, int speed);

namespace {

speed_t StandardSpeed(int speed) {
    switch (speed) {
        case 110:
            return B110;
        case 300:
            return B300;
        case 600:
            return B600;
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        default:
            return B0;  // 14400, 28800, 56000, 128000: no constant
    }
}

class TtyChannel : public SioChannel {
  public:
    explicit TtyChannel(int fd) : fd_(fd) {}
    ~TtyChannel() override {
        SetRts(false);
        // A pseudo-terminal keeps the exclusive mark after the close while its
        // other end stays open, which would lock us out of our own reopen.
        ioctl(fd_, TIOCNXCL);
        flock(fd_, LOCK_UN);
        close(fd_);
    }
    int Fd() const override { return fd_; }

    bool Configure(const ChannelSettings& s) override {
        termios t{};
        if (tcgetattr(fd_, &t) != 0) return false;
        cfmakeraw(&t);
        t.c_iflag &= ~(IXON | IXOFF | IXANY | IGNBRK | BRKINT | IGNPAR);
        t.c_cflag |= CLOCAL | CREAD;
        t.c_cflag &= ~(CRTSCTS | CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
        t.c_cflag |= s.byteSize == 5 ? CS5 : s.byteSize == 6 ? CS6 : s.byteSize == 7 ? CS7 : CS8;
        switch (s.parityCode) {
            case 1:
                t.c_cflag |= PARENB;
                break;  // even
            case 2:
                t.c_cflag |= PARENB | CMSPAR | PARODD;
                break;  // mark
            case 4:
                t.c_cflag |= PARENB | PARODD;
                break;  // odd
            case 5:
                t.c_cflag |= PARENB | CMSPAR;
                break;  // space
            default:
                break;  // none (3: checked without a bit)
        }
        // Parity and framing errors and breaks arrive marked 0xFF 0x00 in the data.
        t.c_iflag |= PARMRK;
        if (s.parityCode != 0)
            t.c_iflag |= INPCK;
        else
            t.c_iflag &= ~INPCK;
        // 1.5 stop bits is the two-stop-bit setting, which the UART applies as
        // 1.5 for 5-bit bytes.
        if (s.stopBitsCode != 0) t.c_cflag |= CSTOPB;
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        speed_t standard = StandardSpeed(s.speed);
        // A speed without a constant is set through termios2 afterwards; the
        // placeholder keeps tcsetattr from refusing what it finds there.
        cfsetispeed(&t, standard != B0 ? standard : B38400);
        cfsetospeed(&t, standard != B0 ? standard : B38400);
        if (tcsetattr(fd_, TCSANOW, &t) != 0) return false;
        return standard != B0 || SetCustomSpeed(fd_, s.speed);
    }

    long Write(const char* data, std::size_t count) override { return write(fd_, data, count); }
    bool PurgeReceive() override { return tcflush(fd_, TCIFLUSH) == 0; }
    bool PurgeSend() override { return tcflush(fd_, TCOFLUSH) == 0; }

    void SetRts(bool on) override {
        int bit = TIOCM_RTS;
        // Pseudo-terminals have no modem lines; that is not an error here.
        (void)ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit);
    }
    bool MarksLineErrors() const override { return true; }

  private:
    int fd_;
};

}  // namespace

namespace {

constexpr const char* kBusy = "Device or resource busy: another program holds the port";

// Why `path` could not be opened, from the errno of the failed call.
std::string OpenReason(const std::string& path, int error) {
    if (error == EACCES || error == EPERM) {
        DeviceAccess access;
        if (ReadDeviceAccess(path, access)) return PermissionDeniedReason(path, access);
    }
    if (error == EBUSY || error == EWOULDBLOCK) return kBusy;
    return SystemReason(error);
}

std::string UserName(uid_t uid) {
    passwd pw{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(uid, &pw, buffer.data(), buffer.size(), &found) == 0 && found)
        return found->pw_name;
    return std::to_string(uid);
}

}  // namespace

ChannelOpenResult OpenTtyChannel(const std::string& path) {
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int error = errno;
        return {nullptr, -1, OpenReason(path, error)};
    }
    // flock() keeps out those that already hold the port open and respect
    // locks, TIOCEXCL every later opener; together they make the port ours alone.
    auto fail = [&](int code, std::string reason) {
        flock(fd, LOCK_UN);
        close(fd);
        return ChannelOpenResult{nullptr, code, std::move(reason)};
    };
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(-1, OpenReason(path, errno));
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        int error = errno;
        if (error == ENOTTY) return fail(-2, "not a serial port (" + SystemReason(error) + ")");
        return fail(-2, SystemReason(error));
    }
    if (ioctl(fd, TIOCEXCL) != 0) return fail(-1, OpenReason(path, errno));
    return {std::make_unique<TtyChannel>(fd), 0, {}};
}

std::string SystemReason(int error) {
    // The description, not strerror(): the same words whatever the locale.
    const char* text = strerrordesc_np(error);
    return text ? text : "error " + std::to_string(error);
}

bool ReadDeviceAccess(const std::string& path, DeviceAccess& access) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return false;
    access.owner = UserName(st.st_uid);
    access.mode = st.st_mode & 07777;
    group g{};
    group* found = nullptr;
    std::vector<char> buffer(65536);
    bool named = getgrgid_r(st.st_gid, &g, buffer.data(), buffer.size(), &found) == 0 && found;
    access.group = named ? found->gr_name : std::to_string(st.st_gid);

    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(getgroups(0, nullptr), 0)));
    int count = getgroups(static_cast<int>(groups.size()), groups.data());
    groups.resize(static_cast<std::size_t>(std::max(count, 0)));
    access.groupActive = getegid() == st.st_gid ||
                         std::find(groups.begin(), groups.end(), st.st_gid) != groups.end();

    std::string user = UserName(geteuid());
    passwd pw{};
    passwd* me = nullptr;
    std::vector<char> pwBuffer(16384);
    bool primary = getpwuid_r(geteuid(), &pw, pwBuffer.data(), pwBuffer.size(), &me) == 0 && me &&
                   me->pw_gid == st.st_gid;
    bool listed = false;
    if (named)
        for (char** m = found->gr_mem; *m; ++m)
            if (user == *m) listed = true;
    access.groupAssigned = primary || listed;
    return true;
}

std::string PermissionDeniedReason(const std::string& path, const DeviceAccess& access) {
    std::string text = "Permission denied: ";
    bool groupMayUse = (access.mode & 060) == 060;
    if (groupMayUse && !access.groupActive && access.groupAssigned)
        return text + "the user is in group '" + access.group + "', which owns " + path +
               ", but this session started before that; log out and in again";
    if (groupMayUse && !access.groupActive)
        return text + "the user must be in group '" + access.group + "', which owns " + path +
               " (sudo usermod -aG " + access.group + " $USER, then log in again)";
    return text + path + " belongs to " + access.owner + ":" + access.group + " with mode " +
           Format("%04o", access.mode) + ", which does not let this user read and write it";
}
