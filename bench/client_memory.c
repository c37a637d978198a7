/* client_memory: the memory a small C program gains by loading the trace
 * library and attaching to the trace settings, from /proc/self/smaps: the
 * resident set (Rss) and its anonymous part (heap, stacks, written data:
 * the memory the process alone holds; the rest is code and read-only data
 * that other processes of the same libraries share and that the kernel may
 * drop; a dirty count would also take in the pages of a library file just
 * written by the linker and not yet on disk), before
 * loading, after dlopen (the library and what it pulls in, such as the C++
 * runtime), and after nbx_trace_open and a few calls, less the mapped
 * shared-memory file itself; and what the open alone added. With
 * --cxx-runtime the C++ runtime is loaded before the first measure, as in a
 * C++ program.
 *
 *   client_memory [--cxx-runtime] <path of libnebrix_trace.so.1>
 *
 * Prints one line per step, in KiB; run it as a private user (see
 * bench/client_bench.sh), as nbx_trace_open creates the profile directory. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <nebrix/trace.h>
#include <stdio.h>
#include <string.h>

struct memory {
  long rss, anonymous; /* every mapping, KiB */
  long shm_rss;        /* the mappings of NEBRIX.shm */
};

static int measure(struct memory* m) {
  static char line[4096]; /* not on the stack the measure would grow */
  FILE* smaps = fopen("/proc/self/smaps", "r");
  int in_shm = 0;
  memset(m, 0, sizeof *m);
  if (smaps == NULL) return 0;
  while (fgets(line, sizeof line, smaps) != NULL) {
    unsigned long start, end;
    long kb;
    if (sscanf(line, "%lx-%lx ", &start, &end) == 2) {
      in_shm = strstr(line, "/NEBRIX.shm") != NULL;
    } else if (sscanf(line, "Rss: %ld kB", &kb) == 1) {
      m->rss += kb;
      if (in_shm) m->shm_rss += kb;
    } else if (sscanf(line, "Anonymous: %ld kB", &kb) == 1) {
      m->anonymous += kb;
    }
  }
  fclose(smaps);
  return 1;
}

static void report(const char* step, const struct memory* base, const struct memory* now) {
  printf("  %-10s Rss %+6ld KiB, anonymous %+6ld KiB  (NEBRIX.shm, %ld KiB resident, excluded)\n", step,
         (now->rss - now->shm_rss) - (base->rss - base->shm_rss), now->anonymous - base->anonymous, now->shm_rss);
}

int main(int argc, char** argv) {
  struct memory base, loaded, attached;
  const int cxx_runtime = argc == 3 && strcmp(argv[1], "--cxx-runtime") == 0;
  if (argc != 2 + cxx_runtime) {
    fprintf(stderr, "usage: client_memory [--cxx-runtime] <path of libnebrix_trace.so.1>\n");
    return 2;
  }
  if (cxx_runtime && dlopen("libstdc++.so.6", RTLD_NOW | RTLD_GLOBAL) == NULL) {
    fprintf(stderr, "client_memory: %s\n", dlerror());
    return 1;
  }
  /* The first measure's own allocations (stdio) are part of the base. */
  if (!measure(&base) || !measure(&base)) {
    perror("client_memory: /proc/self/smaps");
    return 1;
  }
  void* library = dlopen(argv[argc - 1], RTLD_NOW | RTLD_LOCAL);
  if (library == NULL) {
    fprintf(stderr, "client_memory: %s\n", dlerror());
    return 1;
  }
  measure(&loaded);
  int (*open_trace)(const char*) = (int (*)(const char*))dlsym(library, "nbx_trace_open");
  int (*enabled)(int) = (int (*)(int))dlsym(library, "nbx_trace_enabled");
  int (*settings)(struct nbx_trace_settings*) =
      (int (*)(struct nbx_trace_settings*))dlsym(library, "nbx_trace_get_settings");
  if (open_trace == NULL || enabled == NULL || settings == NULL) {
    fprintf(stderr, "client_memory: %s is not the trace library\n", argv[argc - 1]);
    return 1;
  }
  if (open_trace(NULL) != NBX_OK) {
    fprintf(stderr, "client_memory: the trace library cannot attach\n");
    return 1;
  }
  struct nbx_trace_settings current = NBX_TRACE_SETTINGS_INIT;
  int on = 0;
  for (int category = NBX_TRACE_SHORT; category <= NBX_TRACE_LAST_CATEGORY; ++category) on += enabled(category);
  settings(&current);
  measure(&attached);
  printf("%s:\n", cxx_runtime ? "a program with the C++ runtime loaded" : "a C program");
  report("loaded", &base, &loaded);
  report("attached", &base, &attached);
  report("open only", &loaded, &attached);
  printf("  (%d categories on; flags \"%s\")\n", on, current.flags);
  return attached.shm_rss > 0 ? 0 : 1;
}
