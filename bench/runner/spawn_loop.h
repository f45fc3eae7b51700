/* spawn_capture_wait — the plain C baseline of the runner benchmark: one posix_spawn with two
 * close-on-exec pipes on 1 and 2, both read to end-of-file with poll() on the calling thread, then
 * waitpid. */
#ifndef KORVEL_BENCH_RUNNER_SPAWN_LOOP_H
#define KORVEL_BENCH_RUNNER_SPAWN_LOOP_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Runs argv (argv[0] is a path) and returns 0 with the byte counts of both streams and the raw
 * wait status, or an errno value. */
int spawn_capture_wait(char* const argv[], size_t* out_bytes, size_t* err_bytes, int* status);

#ifdef __cplusplus
}
#endif

#endif
