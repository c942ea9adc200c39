#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "link/sio_channels.h"

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

ChannelOpenResult OpenTtyChannel(const std::string& path) {
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {nullptr, -1};
    // TIOCEXCL keeps other openers out, flock() also those that already hold
    // it open and respect locks; together they make the port ours alone.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
        close(fd);
        return {nullptr, -1};
    }
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        flock(fd, LOCK_UN);
        close(fd);
        return {nullptr, -2};
    }
    return {std::make_unique<TtyChannel>(fd), 0};
}

bool IsSerialDevice(const std::string& path) {
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    termios t{};
    bool tty = tcgetattr(fd, &t) == 0;
    close(fd);
    return tty;
}
