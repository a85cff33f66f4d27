/* Runs two commands alternately, RUNS times each, and prints the median wall
 * time and the peak resident memory of each, with their ratios (A over B);
 * with one command, its figures alone.
 * Usage: bench-measure RUNS A-ARGS... [-- B-ARGS...] */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double now_ms(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

static int compare(const void* a, const void* b) {
    double x = *(const double*)a, y = *(const double*)b;
    return (x > y) - (x < y);
}

/* One run: wall milliseconds, and the child's peak RSS in KiB. */
static double run_once(char** argv, long* peak_kib) {
    double start = now_ms();
    pid_t child = fork();
    if (child == 0) {
        execv(argv[0], argv);
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    wait4(child, &status, 0, &usage);
    double elapsed = now_ms() - start;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "bench-measure: %s failed (status %d)\n", argv[0], status);
        exit(1);
    }
    if (usage.ru_maxrss > *peak_kib)
        *peak_kib = usage.ru_maxrss;
    return elapsed;
}

int main(int argc, char** argv) {
    int runs = argc < 3 ? 0 : atoi(argv[1]);
    char** a = argv + 2;
    int split = 2;
    while (split < argc && strcmp(argv[split], "--") != 0)
        split++;
    if (runs < 1 || split == argc - 1) {
        fprintf(stderr, "usage: bench-measure RUNS A-ARGS... [-- B-ARGS...]\n");
        return 2;
    }
    if (split == argc) {
        long peak = 0;
        double* times = calloc((size_t)runs, sizeof *times);
        for (int i = 0; i < runs; i++)
            times[i] = run_once(a, &peak);
        qsort(times, (size_t)runs, sizeof *times, compare);
        printf("median wall time: %.3f ms\npeak RSS:         %ld KiB\n", times[runs / 2], peak);
        free(times);
        return 0;
    }
    argv[split] = NULL;
    char** b = argv + split + 1;

    double* times_a = calloc((size_t)runs, sizeof *times_a);
    double* times_b = calloc((size_t)runs, sizeof *times_b);
    long peak_a = 0, peak_b = 0;
    for (int i = 0; i < runs; i++) {
        times_a[i] = run_once(a, &peak_a);
        times_b[i] = run_once(b, &peak_b);
    }
    qsort(times_a, (size_t)runs, sizeof *times_a, compare);
    qsort(times_b, (size_t)runs, sizeof *times_b, compare);
    double median_a = times_a[runs / 2], median_b = times_b[runs / 2];
    printf("runs each:        %d (alternating)\n", runs);
    printf("median wall time: %.3f ms vs %.3f ms  ratio %.2f\n", median_a, median_b,
           median_a / median_b);
    printf("peak RSS:         %ld KiB vs %ld KiB  ratio %.2f\n", peak_a, peak_b,
           (double)peak_a / (double)peak_b);
    free(times_a);
    free(times_b);
    return 0;
}
