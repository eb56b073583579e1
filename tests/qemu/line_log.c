/* Loaded into QEMU (LD_PRELOAD) by qemu_test.py. The pty that stands for a serial line clears
   PARENB: parity reaches the simulator as INPCK, set exactly when PARENB is asked for. ONLCR is
   cleared so that a 0x0A byte passes as it is. Each line setting (data bits, parity) and each
   DTR/RTS change QEMU asks for is appended to $LINE_LOG: monotonic seconds, device, what. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

static void note(int fd, const char *format, ...)
{
    char link[32], device[64] = "?";
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, device, sizeof device - 1);
    device[n > 0 ? n : 1] = '\0';
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const char *path = getenv("LINE_LOG");
    FILE *log = path ? fopen(path, "a") : NULL;
    if (!log)
        return;
    fprintf(log, "%lld.%09ld %s ", (long long)now.tv_sec, now.tv_nsec, device);
    va_list args;
    va_start(args, format);
    vfprintf(log, format, args);
    va_end(args);
    fputc('\n', log);
    fclose(log);
}

int tcsetattr(int fd, int when, const struct termios *asked)
{
    static int (*real)(int, int, const struct termios *);
    if (!real)
        real = (int (*)(int, int, const struct termios *))dlsym(RTLD_NEXT, "tcsetattr");
    struct termios line = *asked;
    line.c_oflag &= ~(tcflag_t)ONLCR;
    if (line.c_cflag & PARENB)
        line.c_iflag |= INPCK;
    else
        line.c_iflag &= ~(tcflag_t)INPCK;
    const tcflag_t size = line.c_cflag & CSIZE;
    note(fd, "line data=%d parity=%c", size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8,
         !(line.c_cflag & PARENB) ? 'N' : (line.c_cflag & PARODD) ? 'O' : 'E');
    return real(fd, when, &line);
}

int ioctl(int fd, unsigned long request, ...)
{
    static int (*real)(int, unsigned long, ...);
    if (!real)
        real = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    va_list args;
    va_start(args, request);
    void *argument = va_arg(args, void *);
    va_end(args);
    if (request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC) {
        const int lines = *(const int *)argument;
        note(fd, "%s dtr=%d rts=%d", request == TIOCMSET ? "set" : request == TIOCMBIS ? "raise" : "lower",
             !!(lines & TIOCM_DTR), !!(lines & TIOCM_RTS));
    }
    return real(fd, request, argument);
}
