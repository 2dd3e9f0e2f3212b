/* Verifies a live record in-process with the installed library; prints what
 * `orvelant-verify receipt RECORD --key KEY` prints and ends with the same status.
 *   cc examples/verify_record.c $(pkg-config --cflags --libs orvelant-verify) -o verify_record
 *   ./verify_record examples/live-record.json examples/live-service-key.hex */
#include <orvelant/verify.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static orv_bytes read_file(const char* path) { /* at most 1 MiB, the limit of both inputs */
  FILE* file = fopen(path, "rb");
  char* data = malloc(1 << 20);
  orv_bytes bytes = {data, file && data ? fread(data, 1, 1 << 20, file) : 0};
  if (file) fclose(file);
  return bytes;
}

int main(int argc, char** argv) {
  if (argc != 3) return fputs("usage: verify_record RECORD KEY\n", stderr), 2;
  orv_options options = {.struct_size = sizeof options, .format = ORV_FORMAT_TEXT, .label = {argv[1], strlen(argv[1])}};
  orv_bytes record = read_file(argv[1]), key = read_file(argv[2]);
  orv_report* report = orv_verify_receipt(record, key, &options);
  if (report == NULL) return 2;
  const char* error = orv_report_error(report);
  if (error) fprintf(stderr, "error: %s\n", error); else fputs(orv_report_text(report, NULL), stdout);
  int status = orv_report_status(report);
  orv_report_free(report);
  free((void*)record.data), free((void*)key.data);
  return status;
}
