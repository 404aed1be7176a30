/*
 * Acceptance check of the emulated board, in C against driver/tsync.h and
 * libtsync.so: with a board 0 created by tsyncemu, open /dev/tsyncpci0,
 * read the time, switch time-stamping on, find a stamp tsyncemu took, drain
 * the store, fail to open /dev/tsyncpci1; without TSYNC_EMULATOR_DIR,
 * /dev/tsyncpci0 fails cleanly on a machine without a board.
 * Usage: emulator_accept PATH-OF-TSYNCEMU
 */
#define _POSIX_C_SOURCE 200809L
#include <tsync.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

static const char *tool;
static int failures;

#define CHECK(cond)                                                              \
    do {                                                                         \
        if (!(cond)) {                                                           \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                                          \
        }                                                                        \
    } while (0)

/* Run tsyncemu with up to four arguments; its exit status. */
static int tsyncemu(const char *a, const char *b, const char *c, const char *d)
{
    pid_t pid = fork();
    if (pid == 0) {
        execl(tool, "tsyncemu", a, b, c, d, (char *)NULL);
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: emulator_accept TSYNCEMU\n");
        return 2;
    }
    tool = argv[1];
    char dir[] = "/tmp/tsync-accept-XXXXXX";
    if (!mkdtemp(dir)) {
        perror("mkdtemp");
        return 1;
    }
    setenv("TSYNC_EMULATOR_DIR", dir, 1);
    CHECK(tsyncemu("create", "0", NULL, NULL) == 0);

    TSYNC_BoardHandle h = NULL;
    TSYNC_ERROR rc = TSYNC_open(&h, "/dev/tsyncpci0");
    CHECK(rc == TSYNC_SUCCESS);
    if (rc == TSYNC_SUCCESS) {
        BoardTime t;
        memset(&t, 0, sizeof t);
        CHECK(TSYNC_HW_getTime(h, &t) == TSYNC_SUCCESS);
        printf("board time: %u %03u %02u:%02u:%02u.%09u sync %u\n", t.year, t.doy, t.hour, t.minute, t.second, t.ns,
               t.sync);
        CHECK(t.year >= 2024 && t.doy >= 1 && t.doy <= 366 && t.sync == 1);

        CHECK(TSYNC_HW_setTsEnable(h, 1) == TSYNC_SUCCESS);
        CHECK(TSYNC_GI_setEdge(h, 0, 1) == TSYNC_SUCCESS);
        CHECK(TSYNC_GI_setTsEnable(h, 0, 1) == TSYNC_SUCCESS);
        CHECK(tsyncemu("stamp", "0", "0", NULL) == 0);
        CHECK(tsyncemu("stamp", "0", "0", NULL) == 0);

        BoardTime s;
        memset(&s, 0, sizeof s);
        CHECK(TSYNC_HW_getTsSingle(h, 1, &s) == TSYNC_SUCCESS);
        printf("first stamp: %u %03u %02u:%02u:%02u.%09u\n", s.year, s.doy, s.hour, s.minute, s.second, s.ns);
        CHECK(s.doy != 0 && s.year == t.year);

        TimestampFifo *fifo = malloc(sizeof *fifo);
        CHECK(fifo != NULL);
        if (fifo) {
            CHECK(TSYNC_HW_getTsData(h, 1, fifo) == TSYNC_SUCCESS);
            CHECK(fifo->count == 1 && fifo->stamps[0].doy != 0);
            CHECK(TSYNC_HW_getTsData(h, 1, fifo) == TSYNC_SUCCESS);
            CHECK(fifo->count == 0);
            free(fifo);
        }
        CHECK(TSYNC_HW_getTsSingle(h, 1, &s) == TSYNC_SUCCESS);
        CHECK(s.doy == 0);
        CHECK(TSYNC_close(h) == TSYNC_SUCCESS);
    }

    TSYNC_BoardHandle h1 = NULL;
    rc = TSYNC_open(&h1, "/dev/tsyncpci1");
    printf("open /dev/tsyncpci1: %d (%s)\n", (int)rc, tsync_strerror(rc));
    CHECK(rc != TSYNC_SUCCESS);

    CHECK(tsyncemu("remove", "0", NULL, NULL) == 0);
    char lock[64];
    snprintf(lock, sizeof lock, "%s/tsyncpci0.lock", dir);
    unlink(lock);
    CHECK(rmdir(dir) == 0);

    unsetenv("TSYNC_EMULATOR_DIR");
    struct stat st;
    if (stat("/dev/tsyncpci0", &st) != 0) {
        TSYNC_BoardHandle h0 = NULL;
        rc = TSYNC_open(&h0, "/dev/tsyncpci0");
        printf("open /dev/tsyncpci0 without TSYNC_EMULATOR_DIR: %d (%s)\n", (int)rc, tsync_strerror(rc));
        CHECK(rc != TSYNC_SUCCESS);
    }
    if (failures)
        fprintf(stderr, "%d check(s) failed\n", failures);
    else
        printf("acceptance check passed\n");
    return failures ? 1 : 0;
}
