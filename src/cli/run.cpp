#include "cli/run.h"

#include "cli/args.h"
#include "cli/commands.h"
#include "cli/usage.h"

namespace orv::cli {
namespace {

// A closed or full output cannot be reported anywhere useful; the exit status still tells
// the verdict, so write failures are deliberately not fatal.
void write(std::FILE* stream, std::string_view text) { static_cast<void>(std::fwrite(text.data(), 1, text.size(), stream)); }

int usage_error(std::FILE* err, std::string_view message) {
  write(err, "error: ");
  write(err, message);
  write(err, "\n\n");
  write(err, usage_text());
  write(err, "\n");
  return 2;
}

int dispatch(const std::vector<std::string>& args, std::FILE* out, std::FILE* err, const api::Verifiers& verifiers,
             const Clock& clock, ProgressLine* progress) {
  Expected<Scan, std::string> scan = scan_arguments(args);
  if (!scan) return usage_error(err, scan.error());
  switch (scan->action) {
    case Action::Help:
    case Action::EmptyHelp:
      write(out, usage_text());
      write(out, "\n");
      return scan->action == Action::Help ? 0 : 2;
    case Action::Version:
      write(out, version_line());
      write(out, "\n");
      return 0;
    case Action::Run: break;
  }

  ProgressFn listener;
  if (progress != nullptr) listener = [progress](uint64_t judged, uint64_t total) { progress->update(judged, total); };
  // Reports are printed as they are rendered: a long chain's JSON report is never held whole.
  // Rendering starts only once judging is done, so the progress line goes before the first piece.
  const api::ReportSink print = [out, progress](std::string_view piece) {
    if (progress != nullptr) progress->erase();
    write(out, piece);
    return true;
  };
  const Execution execution = execute(scan->line, verifiers, clock, print, listener);
  if (progress != nullptr) progress->erase();
  if (const api::Reply* reply = std::get_if<api::Reply>(&execution)) {
    // The command line read every input under the limits the library checks, so a reply
    // without a report would be a fault between the two; it must still not read as a verdict.
    if (!reply->error.empty()) {
      write(err, "error: " + reply->error + "\n");
      return 2;
    }
    return reply->status;
  }
  if (const UsageError* error = std::get_if<UsageError>(&execution)) return usage_error(err, error->message);
  // Not a usage mistake, so no usage text: the user asked for something this build lacks.
  write(err, "error: " + std::get<NotAvailable>(execution).command + " is not available in this build yet\n");
  return 2;
}

}  // namespace

int run(const std::vector<std::string>& args, std::FILE* out, std::FILE* err, const api::Verifiers& verifiers, const Clock& clock,
        ProgressLine* progress) {
  const int status = dispatch(args, out, err, verifiers, clock, progress);
  std::fflush(out);
  std::fflush(err);
  return status;
}

int run(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  std::optional<ProgressLine> progress = terminal_progress_line(err);
  return run(args, out, err, api::builtin_verifiers(), system_time, progress ? &*progress : nullptr);
}

}  // namespace orv::cli
