/* liborvelant-verify: the checks of orvelant-verify as a C library.
 *
 * One function per command. Each takes the command's inputs as bytes, the evaluation time (for
 * the commands that judge time) and report options, and returns the report that
 * `orvelant-verify COMMAND ... [--json]` prints for the same inputs at the same clock, byte for
 * byte, with the exit status that command would end with.
 *
 * The library reads no file, no clock and no environment, and opens no connection. Every
 * function may be called from many threads at once. OpenSSL is started on first use without its
 * configuration file; a program that started OpenSSL itself with a configuration before the
 * first call keeps that configuration.
 *
 * Link with `pkg-config --cflags --libs orvelant-verify`.
 */
#ifndef ORVELANT_VERIFY_H
#define ORVELANT_VERIFY_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(ORV_BUILDING_LIBRARY)
#define ORV_API __attribute__((visibility("default")))
#else
#define ORV_API
#endif

#define ORV_VERIFY_VERSION_MAJOR 0
#define ORV_VERIFY_VERSION_MINOR 1
#define ORV_VERIFY_VERSION_PATCH 0

/* The library's version, e.g. "0.1.0"; it may be newer than the header a program was built with. */
ORV_API const char* orv_verify_version(void);

/* Exit statuses, as the command line ends with them. */
#define ORV_STATUS_VALID 0
#define ORV_STATUS_INVALID 1
/* REFUSED, or inputs that could not be judged at all (see orv_report_error). */
#define ORV_STATUS_REFUSED 2

/* A run of bytes; `data` may be NULL only when `size` is 0. An optional input is absent when
 * `data` is NULL; empty bytes (`data` not NULL, `size` 0) are present. */
typedef struct orv_bytes {
  const void* data;
  size_t size;
} orv_bytes;

/* Several inputs of one kind, in the order the command line would take them. */
typedef struct orv_bytes_list {
  const orv_bytes* items;
  size_t count;
} orv_bytes_list;

/* Receives the report's bytes, possibly in several pieces, in order. Returns 0 to go on; any
 * other value stops the delivery, and the report's status becomes ORV_STATUS_REFUSED with
 * orv_report_error saying why. */
typedef int (*orv_write_fn)(void* context, const char* data, size_t size);

/* Told how far a long run is: `judged` of `total` entries. Called from the calling thread, never
 * after the function returned; it must not call back into the library. */
typedef void (*orv_progress_fn)(void* context, uint64_t judged, uint64_t total);

#define ORV_FORMAT_JSON 0 /* the --json report */
#define ORV_FORMAT_TEXT 1 /* the human-readable report */

/* How to deliver the report. Set `struct_size` to sizeof(orv_options): later versions add
 * members at the end, and members past the size a caller gave keep their defaults. Passing NULL
 * for the options asks for the JSON report in the returned value. */
typedef struct orv_options {
  size_t struct_size;
  int format; /* ORV_FORMAT_JSON or ORV_FORMAT_TEXT */
  /* The name a text report shows for the document (the command line shows its path); made safe
   * for a terminal when printed. Absent: an empty name. */
  orv_bytes label;
  /* When set, the report goes to `write` and orv_report_text returns no text. */
  orv_write_fn write;
  void* write_context;
  /* When set, the chain and key-chain functions report how many entries they judged: 0 of the
   * total before the first, then at most about a thousand times more, the last time with every
   * entry judged unless the check stopped early (at a chain line it cannot read). Inputs refused
   * before any entry is judged are not reported. */
  orv_progress_fn progress;
  void* progress_context;
} orv_options;

/* The outcome of one call. Free it with orv_report_free. */
typedef struct orv_report orv_report;

/* The exit status the command would end with: ORV_STATUS_VALID, _INVALID or _REFUSED. */
ORV_API int orv_report_status(const orv_report* report);
/* The report (NUL-terminated; `size`, when not NULL, receives its length without the NUL). An
 * empty text when the report went to a write callback or when the inputs could not be judged. */
ORV_API const char* orv_report_text(const orv_report* report, size_t* size);
/* NULL when a report was made. Otherwise why the inputs could not be judged (an input over its
 * byte limit, text that is not UTF-8, a missing input, a failed write callback), in one line,
 * and the status is ORV_STATUS_REFUSED. */
ORV_API const char* orv_report_error(const orv_report* report);
ORV_API void orv_report_free(orv_report* report);

/* Every function below returns NULL only when memory ran out. `now` is the evaluation time in
 * whole seconds since 1970-01-01T00:00:00Z. A key that is absent is judged as a missing pin. */

ORV_API orv_report* orv_verify_receipt(orv_bytes document, orv_bytes key, const orv_options* options);

ORV_API orv_report* orv_verify_chain(orv_bytes document, orv_bytes key, orv_bytes_list heads, const orv_options* options);

ORV_API orv_report* orv_verify_key_receipt(orv_bytes document, orv_bytes key, orv_bytes snapshot, orv_bytes expected,
                                           uint64_t now, const orv_options* options);

/* `document` is any bytes; every other input of every command is UTF-8 text. */
ORV_API orv_report* orv_verify_timestamp(orv_bytes document, orv_bytes stamp, uint64_t now, const orv_options* options);

/* Level 2 for every receipt needs both `snapshot` and at least one `expected`; give neither for
 * hash links only. */
ORV_API orv_report* orv_verify_key_chain(orv_bytes history, orv_bytes_list contains, orv_bytes snapshot, orv_bytes_list expected,
                                         uint64_t now, const orv_options* options);

/* `stamp` is optional. */
ORV_API orv_report* orv_verify_attested_record(orv_bytes record, orv_bytes key_receipt, orv_bytes snapshot, orv_bytes expected,
                                               orv_bytes stamp, uint64_t now, const orv_options* options);

ORV_API orv_report* orv_verify_log_evidence(orv_bytes receipt, orv_bytes evidence, const orv_options* options);

#ifdef __cplusplus
}
#endif

#endif /* ORVELANT_VERIFY_H */
