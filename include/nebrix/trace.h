/*
 * The NEBRIX trace library: the client side of the trace console.
 *
 * A program links libnebrix_trace and asks, on its hot path, whether a
 * category of trace is on; the user switches the categories of running
 * processes with nebrix_cons, and sets the persistent defaults in the
 * client configuration of the user's profile directory.
 *
 *   if (nbx_trace_enabled(NBX_TRACE_SQL))
 *     nbx_trace_printf(NBX_TRACE_SQL, "execute %s\n", statement);
 *
 * Return codes: every int function returns NBX_OK (0) or one of the negative
 * nbx_result codes. nbx_trace_enabled returns 1 or 0.
 *
 * Settings: a process follows its own settings when the console gave it some
 * (nebrix_cons -p <pid> TRACE ...), and otherwise the user's configuration.
 * The library notices a change on the next call of any nbx_trace_ function.
 *
 * Threads: every call may be made from any thread at any time.
 * nbx_trace_enabled takes no lock and makes no system call while the
 * settings have not changed. The first call of a process waits until the
 * settings are read; after a change one thread reads the new settings while
 * the others go on with the old ones. Records of different threads and processes
 * writing to one trace file never interleave: each is one write(2).
 *
 * Fork: the child of a fork is a new process. It keeps nothing of its
 * parent's settings and counters and attaches afresh on its first call; it
 * never answers the console for its parent, also when made without the
 * atfork handlers (_Fork). It finds every lock of the library free.
 *
 * Exit: nothing a call may touch is destroyed at exit, so a program may
 * return from main while other threads still call.
 *
 * The library starts no thread, installs no signal handler, never aborts and
 * prints nothing. Its problems (an unreadable configuration, a damaged
 * shared-memory file) turn tracing off for the process and are reported once
 * to the diagnostic callback, if one is set.
 */
#ifndef NEBRIX_TRACE_H
#define NEBRIX_TRACE_H

#include <stdarg.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define NBX_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define NBX_PRINTF_FORMAT(f, a)
#endif

/* Results of the int functions. */
enum nbx_result {
  NBX_OK = 0,
  NBX_ERROR_ARGUMENT = -1,    /* a null pointer or a value out of range */
  NBX_ERROR_UNAVAILABLE = -2, /* settings cannot be read: tracing is off */
  NBX_ERROR_WRITE = -3,       /* the trace file could not be opened or written */
  NBX_ERROR_MEMORY = -4,      /* out of memory */
  NBX_ERROR_INTERNAL = -5     /* anything else; the diagnostic callback says what */
};

/* The trace categories. A later one is only ever added after the last. */
enum nbx_category {
  NBX_TRACE_SHORT = 0,        /* method calls (flag c) */
  NBX_TRACE_API = 1,          /* API (flag A) */
  NBX_TRACE_DEBUG = 2,        /* arguments and detailed debug output (flag d) */
  NBX_TRACE_DISTRIBUTION = 3, /* distribution (flag D) */
  NBX_TRACE_SQL = 4,          /* SQL (flag a) */
  NBX_TRACE_PACKET = 5        /* packets (flag p) */
};
#define NBX_TRACE_LAST_CATEGORY NBX_TRACE_PACKET

/* Profile counter action of the settings. */
enum nbx_profile_action {
  NBX_PROFILE_NONE = 0,
  NBX_PROFILE_RESET = 1,
  NBX_PROFILE_COLLECT = 2
};

/* The settings the process follows now (see nbx_trace_settings). */
struct nbx_trace_settings {
  unsigned int categories;  /* bit (1u << c) set: category c (an nbx_category) on */
  long packet_size_limit;   /* packets are cut at this many bytes */
  long long file_size_limit; /* bytes; -1: unlimited */
  int time_stamp;           /* 1: each record starts with a time stamp */
  int stop_on_error;        /* 1: tracing stops after error_code */
  int error_code;
  int error_count;          /* how often error_code stops it; 0: once */
  int compressed;           /* 1: the trace file is written gzip-compressed */
  int profile_action;       /* an nbx_profile_action */
  int own_settings;         /* 1: set for this process by the console; 0: the configuration */
  char flags[256];          /* the settings as a trace flags string */
  char trace_file[1024];    /* the trace file, absolute, %p replaced */
  char profile_file[1024];  /* the profile file, absolute, %p replaced */
};

/* Attaches the process to the trace settings of `component` (NULL: "NEBRIX").
   Optional: every other call attaches on its first use with the default
   component. The component names the file <component>.shm in the profile
   directory: a plain name of 1 to 42 letters, digits and "_" (no "/", never
   "." or ".."). Any other component returns NBX_ERROR_ARGUMENT and creates
   nothing. NBX_OK also when already attached. NBX_ERROR_UNAVAILABLE when
   the settings cannot be read (tracing then stays off). */
int nbx_trace_open(const char* component);

/* Detaches and closes the trace file. A later call attaches again. Must not
   run while other threads still call into the library. */
void nbx_trace_close(void);

/* 1 when `category` (an nbx_category) is traced now, else 0. The cheap check
   for the hot path. */
int nbx_trace_enabled(int category);

/* Not an interface of its own: the two words the check above reads, so that
   with GCC and Clang it is done inline in the caller while nothing changed
   (the address of the mapped update counter, and the count the settings in
   force were read for, a valid bit and the category bits). Define
   NBX_NO_INLINE_CHECK to always call the library. */
struct nbx_trace_fast_state_ {
  const int* counter;
  unsigned long long word;
};
extern struct nbx_trace_fast_state_ nbx_trace_fast_state_;

#if (defined(__GNUC__) || defined(__clang__)) && !defined(NBX_NO_INLINE_CHECK)
static inline int nbx_trace_enabled_inline_(int category) {
  const int* counter = __atomic_load_n(&nbx_trace_fast_state_.counter, __ATOMIC_ACQUIRE);
  const unsigned long long word = __atomic_load_n(&nbx_trace_fast_state_.word, __ATOMIC_ACQUIRE);
  if ((word & 0x80000000ull) != 0 && (unsigned)(word >> 32) == (unsigned)__atomic_load_n(counter, __ATOMIC_ACQUIRE) &&
      (unsigned)category <= (unsigned)NBX_TRACE_LAST_CATEGORY) {
    return (int)((word >> category) & 1u);
  }
  return (nbx_trace_enabled)(category);
}
#define nbx_trace_enabled(category) nbx_trace_enabled_inline_(category)
#endif

/* Copies the settings in force into `settings`. */
int nbx_trace_settings(struct nbx_trace_settings* settings);

/* The update count of the shared-memory file the settings in force were read
   for (the count the process acknowledged to the console); 0 before any. */
int nbx_trace_update_count(void);

/* Sets the one function called after every change of the settings, once per
   change, after the new settings are in force (not for the settings found
   when the library attaches); NULL removes it. It runs in
   the thread that noticed the change, with no lock of the library held; it
   may call the library, except nbx_trace_close. */
int nbx_trace_on_change(void (*callback)(void* context), void* context);

/* Writes one record to the trace file when `category` is on; NBX_OK also
   when it is off. A record never interleaves with another. */
int nbx_trace_printf(int category, const char* format, ...) NBX_PRINTF_FORMAT(2, 3);
int nbx_trace_vprintf(int category, const char* format, va_list arguments) NBX_PRINTF_FORMAT(2, 0);

/* Writes a hex dump of `data` when packet trace is on, cut at the packet
   size limit. */
int nbx_trace_packet(const void* data, size_t size);

/* Reports that error `code` happened. With "stop on error" set for this
   code, the count-th report writes a last line and turns tracing off until
   the settings change again. */
int nbx_trace_error(int code);

/* Adds `amount` to the profile counter `name` (at most 64 printable
   characters without blanks; others are replaced by '_'); a counter starts
   at 0 and stops at the limits of a 64-bit number. Every change whose
   settings carry the reset action (nebrix_cons PROFILE RESET) sets all
   counters to 0. While collection is on (PROFILE COLLECT ON) the profile
   file (the configured profile file name, %p replaced by the process id)
   holds the counters: written when the change that turns collection on is
   taken up, rewritten with the library's calls at most about once a second,
   and at nbx_trace_close and exit; SHOW PROFILE shows them.
   NBX_ERROR_WRITE when the profile file could not be written. */
int nbx_profile_add(const char* name, long long amount);

/* Sets the function that receives the text of the library's problems; NULL
   removes it. Called at most once per problem, with no lock of the library
   held. */
void nbx_trace_set_diagnostic(void (*callback)(const char* text, void* context), void* context);

/* The library's version, "major.minor.patch". */
const char* nbx_version(void);

#ifdef __cplusplus
}
#endif

#endif /* NEBRIX_TRACE_H */
