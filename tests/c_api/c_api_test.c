/*
 * A C99 program that uses the settings client through its installed header
 * only, as other device programs do: client initialisation, a field request,
 * the queue and segment operations and the client lock, against the stand-in
 * settings server started as a child process.
 *
 * Usage: c_api_test SERVER-COMMAND...   (the settings-server program, with
 * an emulator in front of it in a cross build). The program moves itself
 * into a private IPC namespace first, so it never touches this machine's
 * real settings queue and segment; without one it fails.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <sched.h>
#include <settings_client/settings_client.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

static int failures;

#define CHECK(condition)                                                                  \
    do {                                                                                  \
        if (!(condition)) {                                                               \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            ++failures;                                                                   \
        }                                                                                 \
    } while (0)

/* Starts the server command with a reply for command 3 and waits for its
 * "ready" line; returns its pid, or -1. */
static pid_t StartServer(char** command, int words) {
    char** argv = calloc((size_t)words + 3, sizeof *argv);
    int output[2];
    pid_t child;
    char seen[64];
    size_t used = 0;
    int i;

    if (argv == NULL || pipe(output) != 0) return -1;
    for (i = 0; i < words; ++i) argv[i] = command[i];
    argv[words] = "--reply";
    argv[words + 1] = "3=pool.example.org";
    argv[words + 2] = NULL;

    child = fork();
    if (child == 0) {
        dup2(output[1], STDOUT_FILENO);
        close(output[0]);
        close(output[1]);
        execv(argv[0], argv);
        _exit(127);
    }
    free(argv);
    close(output[1]);
    if (child < 0) return -1;
    while (used < sizeof seen - 1) {
        ssize_t got = read(output[0], seen + used, sizeof seen - 1 - used);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        used += (size_t)got;
        seen[used] = '\0';
        if (strstr(seen, "ready\n") != NULL) return child;
    }
    kill(child, SIGKILL);
    waitpid(child, NULL, 0);
    return -1;
}

int main(int argc, char** argv) {
    pid_t server;
    int status = 0;
    char name[256];
    unsigned char back[5];
    SettingsRequest request;
    pthread_mutex_t* lock;
    int32_t queue_id;

    if (argc < 2) {
        fprintf(stderr, "usage: %s SERVER-COMMAND...\n", argv[0]);
        return 2;
    }
    if (unshare(CLONE_NEWIPC) != 0) {
        fprintf(stderr, "FATAL: cannot enter a private IPC namespace (%s); run as root.\n",
                strerror(errno));
        return 2;
    }
    server = StartServer(argv + 1, argc - 1);
    if (server < 0) {
        fprintf(stderr, "FATAL: the settings server did not start\n");
        return 2;
    }

    CHECK(SettingsClientInit(7) == 0);

    /* Field 2, the NTP server name: a clamped read of command 3. */
    memset(name, 0, sizeof name);
    CHECK(SettingsControl(2, name, (int32_t)sizeof name) == 16);
    CHECK(strcmp(name, "pool.example.org") == 0);

    /* A request made by hand with the queue and segment operations. */
    queue_id = Msg_Init(SETTINGS_KEY);
    CHECK(queue_id >= 0);
    CHECK(ShareMemWrite(61440, "hello", 5) == 0);
    request.mtype = 1;
    request.command = 498;
    request.source = 7;
    request.reserved = 0;
    request.length = 5;
    request.offset = 61440;
    CHECK(Msg_SendRecv(queue_id, 7, &request, (int32_t)(sizeof(long) + 20)) == 20);
    CHECK(request.mtype == 7);
    CHECK(request.length == 5 && request.offset == 61440);
    CHECK(ShareMemRead(61440, back, 5) == 0);
    CHECK(memcmp(back, "hello", 5) == 0);

    lock = CreateSem();
    CHECK(lock != NULL);
    CHECK(SemWait(lock) == 0);
    CHECK(SemRelease(lock) == 0);
    CHECK(DestroySem(lock) == 0);

    CHECK(SettingsClientExit() == 0);

    kill(server, SIGTERM);
    while (waitpid(server, &status, 0) < 0 && errno == EINTR) {
    }
    CHECK(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    if (failures != 0) {
        fprintf(stderr, "%d check(s) failed\n", failures);
        return 1;
    }
    return 0;
}
