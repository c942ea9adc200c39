// Speeds without a termios constant go through termios2 and BOTHER. This file
// must not include <termios.h>: the two headers define the same names.
#include <asm/termbits.h>
#include <sys/ioctl.h>

bool SetCustomSpeed(int fd, int speed) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return false;
    t.c_cflag &= ~CBAUD;
    t.c_cflag |= BOTHER;
    t.c_ispeed = static_cast<speed_t>(speed);
    t.c_ospeed = static_cast<speed_t>(speed);
    return ioctl(fd, TCSETS2, &t) == 0;
}
