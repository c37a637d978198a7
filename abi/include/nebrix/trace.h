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
 * This header is the library's contract: what each call does, when it may
 * be called and what it returns, and the rules below. Every name starts with
 * nbx_; the shared and the static library export no other symbol, each of
 * the shared library's in the version node NEBRIX_TRACE_1.0. Within SONAME 1
 * the interface only grows: calls, result codes, categories and fields at
 * the end of a struct are added, never changed or taken away.
 *
 * Results: every int function returns NBX_OK (0) or one of the negative
 * nbx_result codes, which nbx_strerror names; nbx_trace_enabled returns 1 or
 * 0, nbx_trace_update_count a count, nbx_version_number a version. Each may return NBX_ERROR_MEMORY and NBX_ERROR_INTERNAL (which the
 * diagnostic callback explains); the others are named at each call. A
 * category that is off is no error.
 *
 * Attaching: the first call of a process finds the profile directory as the
 * console does (the home directory from the user database, .orq, the host
 * name) and maps the component's shared-memory file there, creating it when
 * it is missing. The configuration is only read, never written.
 *
 * Settings: a process follows its own settings when the console gave it some
 * (nebrix_cons -p <pid> TRACE ...: its part of the shared-memory file, unless
 * the part holds "R"), and otherwise the user's configuration. The library
 * notices a change on the next call of any nbx_trace_ function and then
 * acknowledges the update count it read before the settings (in its part, if
 * it has one), so that a change made while it read is read next time. A
 * trace file name that is not configured is nebrixtrace-%p.prt.
 *
 * Threads: every call may be made from any thread at any time, except
 * nbx_trace_close. nbx_trace_enabled takes no lock, makes no system call and
 * allocates nothing while the settings have not changed. The first call of a
 * process makes the others wait until the settings are read; after a change
 * one thread reads the new settings while the others go on with the old
 * ones, and every thread sees one whole set of settings, never a mix. Memory
 * stays the same over any number of changes.
 *
 * Callbacks (nbx_trace_on_change, nbx_trace_set_diagnostic) run with no lock
 * of the library held, in the thread whose call noticed the change or the
 * problem; they may call the library again, except nbx_trace_close.
 *
 * Fork: the child of a fork is a new process. It keeps nothing of its
 * parent's settings and counters, attaches afresh on its first call (finding
 * its own part of the shared-memory file, or none) and never acknowledges a
 * change for its parent. It finds every lock of the library free, whatever
 * the parent's threads were doing in the library when it forked. A child
 * made without the atfork handlers (_Fork, a raw clone) is the same from its
 * first call other than nbx_trace_enabled; until then nbx_trace_enabled
 * answers from the settings its parent had.
 *
 * Exit: nothing a call may touch is destroyed at exit, so a program may
 * return from main while other threads still call. The work of the exit (the
 * last profile file, the end of a compressed trace file's gzip member) is
 * done unless the process ends with _exit or a crash; a thread calling
 * meanwhile still finds everything in place.
 *
 * Problems: the library starts no thread, installs no signal handler, never
 * aborts, writes nothing to standard output or standard error and lets no C++
 * exception out. What it cannot use (an unreadable or damaged configuration,
 * a damaged or hostile shared-memory file, a link or a directory in its
 * place, a profile directory others may write) turns tracing off for the
 * process and is reported once to the diagnostic callback, if one is set.
 * Flags without their NUL are read up to the end of their field. The one
 * danger it cannot remove: another process that cuts the mapped
 * shared-memory file short. The console never does; the library checks the
 * size before it reads the file after a change and stops following a short
 * file (tracing off, one diagnostic), but a cut between two checks can still
 * end the process with SIGBUS.
 *
 * What the process publishes: once attached, it keeps a status file in the
 * profile directory's clients/ folder (its program, trace file and whether it
 * is written, profile file, the update count it follows), which nebrix_cons
 * SHOW PROCESSES reads. The file is written when the process attaches, takes
 * up a change (before acknowledging it), finds its trace file failing or
 * written again, stops on an error or writes its profile file, never by
 * nbx_trace_enabled. nbx_trace_close and the end of the process remove it;
 * the file of a killed process is removed by the next process that attaches
 * or by the console. A process whose profile directory cannot take the file
 * traces as before.
 *
 * The trace file: its name comes from the configuration with %p replaced by
 * the process id; a relative name is relative to the working directory when
 * the settings are read. It is created with mode 0600, never through a
 * symbolic link, and appended to. A name without %p may be shared with other
 * processes. After every change the file is opened anew under its name, at
 * once when the change turns a category on. Rules for what is written:
 *   - A record ends with a newline (added when the text has none) and is
 *     written with one write(2): records of threads and processes sharing
 *     the file never interleave. Its first line starts with the writer's ids
 *     (after the time, with time stamps). The library adds a line of its own
 *     where a process starts writing into a file and where it takes up a
 *     change.
 *   - With a size limit the file never grows past it: a record that would
 *     pass it first renames the file to <name>.1, replacing an older one, and
 *     starts a new file; a single record longer than the limit is cut.
 *     Processes sharing the file take turns (flock(2) on it).
 *   - A record reported written is whole. When the disk takes only part of
 *     one, the call returns NBX_ERROR_WRITE and the part is cut off the file
 *     again, unless, in a text file without a size limit, a record of
 *     another process or thread already follows it.
 *   - Compressed (gzip) files read back with zcat or gzread as the text they
 *     would have been. A file is either text or gzip: one found in the other
 *     form is moved to <name>.1 first. With %p the file ends on a whole
 *     record at all times, also after a crash, and lacks only its trailer
 *     until nbx_trace_close, a change, a rotation or the end of the process
 *     (or the unloading of the library) writes it; at exit that is left out
 *     while another thread is in a record. A write the disk refused there is
 *     kept, up to 1 MiB, and written before the next record: the call
 *     returns NBX_ERROR_WRITE, though its record reaches the file once there
 *     is room. Without %p every record is a gzip member of its own. The size
 *     limit counts compressed bytes; the older file <name>.1 is always a
 *     whole gzip stream.
 */
#ifndef NEBRIX_TRACE_H
#define NEBRIX_TRACE_H

#include <stdarg.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The version of this header. nbx_version_number() is the library's: a
   program built against 1.x runs with every library 1.y where y >= x, and
   may compare the two at run time. */
#define NBX_VERSION_MAJOR 1
#define NBX_VERSION_MINOR 0
#define NBX_VERSION_PATCH 0
#define NBX_VERSION_NUMBER (NBX_VERSION_MAJOR * 1000000 + NBX_VERSION_MINOR * 1000 + NBX_VERSION_PATCH)

#if defined(__GNUC__)
#define NBX_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define NBX_PRINTF_FORMAT(f, a)
#endif

/* Results of the int functions; nbx_strerror names each. A later one is
   only ever added below the last. */
enum nbx_result {
  NBX_OK = 0,
  NBX_ERROR_ARGUMENT = -1,    /* a null pointer or a value out of range */
  NBX_ERROR_UNAVAILABLE = -2, /* settings cannot be read: tracing is off */
  NBX_ERROR_WRITE = -3,       /* the trace file could not be opened or written */
  NBX_ERROR_MEMORY = -4,      /* out of memory */
  NBX_ERROR_INTERNAL = -5,    /* anything else; the diagnostic callback says what */
  NBX_ERROR_TOO_LONG = -6     /* a text does not fit its field, which is left empty */
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

/* The settings the process follows now (see nbx_trace_get_settings). The
   caller sets `size`, best with NBX_TRACE_SETTINGS_INIT below; the library fills
   as much of the struct as that many bytes hold, so a program built against
   an older header gets every field it knows. Frozen for SONAME 1: a later
   field is only ever added at the end. */
struct nbx_trace_settings {
  size_t size;              /* set by the caller: sizeof(struct nbx_trace_settings) */
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
/* struct nbx_trace_settings s = NBX_TRACE_SETTINGS_INIT; zeroed, with its
   size set (a function, so that -Wextra finds no missing initializer). */
static inline struct nbx_trace_settings nbx_trace_settings_init_(void) {
#ifdef __cplusplus
  struct nbx_trace_settings settings = {};
#else
  struct nbx_trace_settings settings = {0};
#endif
  settings.size = sizeof settings;
  return settings;
}
#define NBX_TRACE_SETTINGS_INIT nbx_trace_settings_init_()

/* Attaches the process to the trace settings of `component` (NULL: "NEBRIX").
   Optional: every other call attaches on its first use with the default
   component. The component names the file <component>.shm in the profile
   directory and the configuration's records ORQ/<COMPONENT>/..., so it is a
   plain name of 1 to 42 letters, digits and "_" (no "/", never "." or "..").
   Any other component, the empty one too, returns NBX_ERROR_ARGUMENT before
   any directory or file is created, also when the process is attached.
   NBX_OK also when already attached. NBX_ERROR_UNAVAILABLE when the settings
   cannot be read (tracing then stays off). */
int nbx_trace_open(const char* component);

/* Detaches, closes the trace file (ending a compressed one's gzip member),
   brings the profile file up to date while collection is on and removes the
   process's status file. A later call attaches again. Must not run while other threads
   still call into the library, nor from a callback. */
void nbx_trace_close(void);

/* 1 when `category` (an nbx_category) is traced now, else 0, also for a
   category out of range. The cheap check for the hot path: while the
   settings have not changed it costs three loads, a compare and a bit test
   (inline in the caller with GCC and Clang, below). After a change it reads
   the new settings like any other call. */
int nbx_trace_enabled(int category);

/* Not an interface of its own: the two words the check above reads, so that
   with GCC and Clang it is done inline in the caller while nothing changed.
   `counter` is the address of the mapped update counter; `word` holds, in
   its high half, the count the settings in force were read for, then a
   valid bit and, from bit 0 up, the bit of each category that is on. Like
   the struct's layout and the bits below, they are compiled into programs:
   frozen for SONAME 1. Define NBX_NO_INLINE_CHECK to always call the
   library. */
#define NBX_FAST_STATE_VALID_ 0x80000000ull
#define NBX_FAST_STATE_COUNT_SHIFT_ 32
struct nbx_trace_fast_state_ {
  const int* counter;
  unsigned long long word;
};
extern struct nbx_trace_fast_state_ nbx_trace_fast_state_;

#if (defined(__GNUC__) || defined(__clang__)) && !defined(NBX_NO_INLINE_CHECK)
static inline int nbx_trace_enabled_inline_(int category) {
  const int* counter = __atomic_load_n(&nbx_trace_fast_state_.counter, __ATOMIC_ACQUIRE);
  const unsigned long long word = __atomic_load_n(&nbx_trace_fast_state_.word, __ATOMIC_ACQUIRE);
  /* The expected case first, so that the call stays out of the way. */
  if (__builtin_expect((word & NBX_FAST_STATE_VALID_) != 0 &&
                           (unsigned)(word >> NBX_FAST_STATE_COUNT_SHIFT_) ==
                               (unsigned)__atomic_load_n(counter, __ATOMIC_ACQUIRE) &&
                           (unsigned)category <= (unsigned)NBX_TRACE_LAST_CATEGORY,
                       1)) {
    return (int)((word >> category) & 1u);
  }
  return (nbx_trace_enabled)(category);
}
#define nbx_trace_enabled(category) nbx_trace_enabled_inline_(category)
#endif

/* Copies the settings in force into `settings`, as far as settings->size
   reaches (the fields say what each holds; with no settings to follow,
   every category is off). A size beyond the library's struct gets its end
   zeroed. NBX_ERROR_ARGUMENT for NULL or a size that does not hold the
   `size` field; NBX_ERROR_TOO_LONG when flags, trace_file or profile_file
   does not fit its field: that field is left empty, the others are filled. */
int nbx_trace_get_settings(struct nbx_trace_settings* settings);

/* The update count of the shared-memory file the settings in force were read
   for (the count the process acknowledged to the console); 0 before any,
   and after an internal failure. */
int nbx_trace_update_count(void);

/* Sets the one function called after every change of the settings, once per
   change, after the new settings are in force (not for the settings found
   when the library attaches); NULL removes it. It runs in the thread that
   noticed the change, with no lock of the library held; it may call the
   library, except nbx_trace_close. NBX_OK. */
int nbx_trace_on_change(void (*callback)(void* context), void* context);

/* Writes one record to the trace file when `category` is on; NBX_OK without
   writing anything when it is off. The record follows the rules of the trace
   file above. NBX_ERROR_ARGUMENT for a category out of range, a NULL format
   or one the C library cannot format; NBX_ERROR_WRITE when the trace file
   could not be opened or the record was not written whole. */
int nbx_trace_printf(int category, const char* format, ...) NBX_PRINTF_FORMAT(2, 3);
int nbx_trace_vprintf(int category, const char* format, va_list arguments) NBX_PRINTF_FORMAT(2, 0);

/* Writes a hex dump of the `size` bytes at `data` as one record when packet
   trace is on, cut at the packet size limit; NBX_OK when it is off.
   NBX_ERROR_ARGUMENT for NULL data with a size; NBX_ERROR_WRITE as for
   nbx_trace_printf. */
int nbx_trace_packet(const void* data, size_t size);

/* Reports that error `code` happened. With "stop on error" set for this
   code, the count-th report (error_count; 0: the first) writes the record
   "Trace stopped: error <code> happened <count> time(s)" and turns every
   category off until the settings change again. Other codes, and the
   reports after that one, change nothing. NBX_OK also when the last record
   could not be written. */
int nbx_trace_error(int code);

/* Adds `amount` to the profile counter `name` (at most 64 printable
   characters without blanks; others are replaced by '_'); a counter starts
   at 0 and stops at the limits of a 64-bit number. Every change whose
   settings carry the reset action (nebrix_cons PROFILE RESET) sets all
   counters to 0, and those settings no longer collect. While collection is
   on (PROFILE COLLECT ON) the profile file (the configured profile file
   name, %p replaced by the process id) holds the counters: written whole
   when the change that turns collection on is taken up (by whichever call
   notices it, nbx_trace_enabled too), rewritten by nbx_profile_add when the
   counters changed and the last write is a second old, and at
   nbx_trace_close and exit. With no thread of its own, the file is as new as
   the program's last call made it. A file that cannot be written is tried
   at most once a second; the diagnostic callback hears "The profile file
   <path> cannot be written: <reason>" once, and again only after a write has
   succeeded or the file or the reason changed. SHOW PROFILE sums the
   counters of all processes. NBX_ERROR_ARGUMENT for a NULL name;
   NBX_ERROR_WRITE when the profile file could not be written. */
int nbx_profile_add(const char* name, long long amount);

/* Sets the function that receives the text of the library's problems (see
   "Problems" above); NULL removes it. Called at most once per problem, with
   no lock of the library held, in the thread that met the problem. */
void nbx_trace_set_diagnostic(void (*callback)(const char* text, void* context), void* context);

/* The library's version, "major.minor.patch". */
const char* nbx_version(void);

/* The library's version as NBX_VERSION_NUMBER counts it (1.2.3: 1002003). */
int nbx_version_number(void);

/* The text of an nbx_result code, e.g. "the trace file could not be opened
   or written" for NBX_ERROR_WRITE; "unknown result" for other numbers.
   Never NULL; the text is static. */
const char* nbx_strerror(int code);

#ifdef __cplusplus
}
#endif

#endif /* NEBRIX_TRACE_H */
