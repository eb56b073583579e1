/* The QEMU test's guest helper (busybox has no flock): holds a port, runs a command, then
   says whether its hold is still set and ends with the command's status.
     hold_port flock|excl DEVICE COMMAND [ARG...]
   prints "holding PID", and after the command "still held 1" or "still held 0": for excl
   TIOCGEXCL on its own descriptor, for flock whether a second descriptor is refused the lock. */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

static int open_port(const char *path)
{
    return open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

int main(int argc, char **argv)
{
    if (argc < 4)
        return 64;
    const int exclusive = strcmp(argv[1], "excl") == 0;
    const int fd = open_port(argv[2]);
    if (fd < 0 || (exclusive ? ioctl(fd, TIOCEXCL) : flock(fd, LOCK_EX | LOCK_NB)) != 0) {
        perror(argv[2]);
        return 70;
    }
    printf("holding %d\n", (int)getpid());
    fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[3], argv + 3);
        _exit(127);
    }
    int status = 0, held = 0;
    waitpid(child, &status, 0);
    if (exclusive) {
        ioctl(fd, TIOCGEXCL, &held);
    } else {
        const int second = open_port(argv[2]);
        held = second >= 0 && flock(second, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    }
    printf("still held %d\n", held != 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
