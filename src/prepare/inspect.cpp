// inspect: what is inside an input, as text or JSON, read and never judged.
#include <array>

#include "core/text.h"
#include "prepare/files.h"
#include "prepare/inspect_kinds.h"
#include "prepare/program.h"

namespace orv::prepare {
namespace {

constexpr std::array<OptionSpec, 1> kOptions = {{{"--json", ""}}};
// The largest input orvelant-verify reads among these kinds: log evidence.
constexpr size_t kMaxInspectedBytes = 4194304;
constexpr std::string_view kNotJudged = "shown, not judged: nothing here was verified; orvelant-verify judges it";

std::string value_text(const verifier::JsonValue& value) {
  if (const auto* s = std::get_if<std::string>(&value.value)) return *s;
  if (const auto* n = std::get_if<int64_t>(&value.value)) return std::to_string(*n);
  if (const auto* b = std::get_if<bool>(&value.value)) return *b ? "true" : "false";
  if (const auto* items = std::get_if<verifier::JsonItems>(&value.value)) {
    std::string out;
    for (const verifier::JsonValue& item : *items) out += "\n      - " + value_text(item);
    return out.empty() ? "(none)" : out;
  }
  return "(absent)";
}

std::string as_text(const std::string& path, const Shown& shown) {
  std::string out = terminal_safe(path) + ": " + shown.kind + " (" + std::string(kNotJudged) + ")\n";
  for (const Shown::Section& section : shown.sections) {
    out += "\n" + section.name + "\n";
    for (const auto& [name, value] : section.items) {
      const bool list = std::holds_alternative<verifier::JsonItems>(value.value);
      out += "    " + name + ":" + (list ? "" : " ") + value_text(value) + "\n";
    }
  }
  return out;
}

verifier::Read<std::string> as_json(const std::string& path, const Shown& shown) {
  verifier::JsonMembers sections;
  for (const Shown::Section& section : shown.sections) {
    sections.push_back({section.name, verifier::JsonValue{section.items}});
  }
  const verifier::JsonValue document{verifier::JsonMembers{
      {"file", verifier::JsonValue{path}},
      {"kind", verifier::JsonValue{shown.kind}},
      {"judged", verifier::JsonValue{false}},
      {"sections", verifier::JsonValue{std::move(sections)}},
  }};
  return verifier::write_json(document);
}

Status run_inspect(const Arguments& arguments, const Context& context) {
  const std::string& path = arguments.files.front();
  const Usable<std::string> document = read_input(path, "file", kMaxInspectedBytes);
  if (!document) return refuse(context, document.error());
  const Usable<Shown> shown = show_input(*document, context.clock ? context.clock() : 0);
  if (!shown) return refuse(context, shown.error());
  if (!arguments.flag("--json")) {
    print(context.out, as_text(path, *shown));
    return Status::Done;
  }
  const verifier::Read<std::string> json = as_json(path, *shown);
  if (!json) return refuse(context, Mistake{"cannot write JSON: " + json.error().text, "inspect it without --json"});
  print(context.out, *json + "\n");
  return Status::Done;
}

}  // namespace

const Subcommand kInspect{
    "inspect",
    "inspect <FILE> [--json]",
    "what is inside a snapshot, key receipt, expected-TD, stamp or\n"
    "log-evidence file, without judging it: for a snapshot each\n"
    "document's dates, the earliest expiry and the days left at this\n"
    "computer's clock; for a key receipt the quote's header, the TD\n"
    "measurements, the PCK certificate and the named events. --json\n"
    "for machines.",
    {1, 1, kOptions},
    run_inspect,
};

}  // namespace orv::prepare
