/* Lets Wine wait for serial events on a pseudo-terminal.
 *
 * Wine reads the modem-control lines of a serial port with
 * ioctl(TIOCMGET); a pseudo-terminal refuses that with ENOTTY, and Wine's
 * WaitCommEvent then fails at once. Preloaded into Wine, this library
 * answers the four modem-control requests with raised lines, but only when
 * the real call failed with ENOTTY, so real ports are left alone. Debian's
 * 32-bit Wine calls __ioctl_time64, so both entry points are provided.
 * Built without the C library's headers: gcc -m32 -O2 -shared -fPIC -nostdlib.
 */
#include <stdarg.h>

#define TIOCMGET 0x5415
#define TIOCMBIS 0x5416
#define TIOCMBIC 0x5417
#define TIOCMSET 0x5418
#define ENOTTY 25
#define RAISED_LINES (0x002 | 0x004 | 0x020 | 0x040 | 0x100) /* DTR RTS CTS CD DSR */

extern int *__errno_location(void);

static long system_ioctl(int fd, unsigned long request, void *argument)
{
    long result;
#if defined(__i386__)
    __asm__ volatile("int $0x80" : "=a"(result) : "a"(54), "b"(fd), "c"(request), "d"(argument) : "memory");
#else
    __asm__ volatile("syscall"
                     : "=a"(result)
                     : "a"(16), "D"(fd), "S"(request), "d"(argument)
                     : "rcx", "r11", "memory");
#endif
    return result;
}

static int shimmed_ioctl(int fd, unsigned long request, void *argument)
{
    long result = system_ioctl(fd, request, argument);
    if (result >= 0)
        return (int)result;
    if (result == -ENOTTY && request >= TIOCMGET && request <= TIOCMSET) {
        if (request == TIOCMGET)
            *(int *)argument = RAISED_LINES;
        return 0;
    }
    *__errno_location() = (int)-result;
    return -1;
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list arguments;
    va_start(arguments, request);
    void *argument = va_arg(arguments, void *);
    va_end(arguments);
    return shimmed_ioctl(fd, request, argument);
}

int __ioctl_time64(int fd, unsigned long request, ...)
{
    va_list arguments;
    va_start(arguments, request);
    void *argument = va_arg(arguments, void *);
    va_end(arguments);
    return shimmed_ioctl(fd, request, argument);
}
