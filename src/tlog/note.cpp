#include "tlog/note.h"

#include <algorithm>

#include "core/base64.h"
#include "core/hex.h"
#include "core/text.h"
#include "crypto/digest.h"

namespace orv::tlog {
namespace {

constexpr std::string_view kEmDashSpace = "\xE2\x80\x94 ";
constexpr size_t kKeyHashBytes = 4;
constexpr size_t kEd25519NoteBlobBytes = kKeyHashBytes + crypto::kEd25519SignatureBytes;
constexpr uint8_t kEd25519SignatureType = 0x01;

TlogError parse_error(std::string message) { return tlog_error("TLOG_PARSE", std::move(message)); }

// C2SP signed-note forbids Unicode spaces and "+" in names; printable ASCII without "+" is the
// stricter rule kept here, so a name never needs escaping when shown.
bool valid_key_name(std::string_view name) {
  if (name.empty()) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x21 && byte <= 0x7E && c != '+';
  });
}

}  // namespace

std::optional<uint64_t> parse_canonical_decimal(std::string_view text) {
  if (text.empty() || (text.size() > 1 && text[0] == '0')) return std::nullopt;
  uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

Expected<Note, TlogError> read_note(std::string_view text) {
  if (text.size() > kMaxNoteBytes || text.find('\r') != std::string_view::npos) {
    return parse_error("note is too large or contains CR");
  }
  const size_t blank = text.find("\n\n");
  if (blank == std::string_view::npos) return parse_error("note has no signature block");
  std::string_view rest = text.substr(blank + 2);
  if (rest.size() < 2 || text.back() != '\n') return parse_error("note body or signatures malformed");

  Note note;
  note.body = std::string(text.substr(0, blank + 1));
  // rest ends with a line feed, so every line below is terminated; nothing follows the last.
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end + 1);

    if (!line.starts_with(kEmDashSpace)) return parse_error("signature line does not start with an em dash");
    const std::string_view after_dash = line.substr(kEmDashSpace.size());
    const size_t space = after_dash.find(' ');
    if (space == std::string_view::npos) return parse_error("signature line has no key");
    const std::string_view name = after_dash.substr(0, space);
    if (!valid_key_name(name)) return parse_error("signature name is invalid");
    const std::optional<std::vector<uint8_t>> blob = base64_decode(after_dash.substr(space + 1));
    if (!blob) return parse_error("signature is not base64");
    if (blob->size() < kKeyHashBytes) return parse_error("signature too short");
    if (note.signatures.size() == kMaxNoteSignatures) return parse_error("too many note signatures");

    NoteSignature signature;
    signature.name = std::string(name);
    std::copy_n(blob->begin(), kKeyHashBytes, signature.key_hash.begin());
    signature.signature.assign(blob->begin() + kKeyHashBytes, blob->end());
    note.signatures.push_back(std::move(signature));
  }
  if (note.signatures.empty()) return parse_error("note has no signature block");
  return note;
}

Expected<Checkpoint, TlogError> read_checkpoint_body(std::string_view body) {
  // A line is text ended by a line feed; an unterminated final piece counts only if non-empty.
  std::array<std::string_view, 3> lines;
  size_t count = 0;
  std::string_view rest = body;
  while (count < lines.size() && !rest.empty()) {
    const size_t end = rest.find('\n');
    lines[count++] = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  if (count < lines.size()) return parse_error("checkpoint has fewer than three lines");

  Checkpoint checkpoint;
  const std::string_view origin = lines[0];
  if (origin.empty() || trim_unicode(origin) != origin) return parse_error("checkpoint origin is invalid");
  checkpoint.origin = std::string(origin);
  const std::optional<uint64_t> size = parse_canonical_decimal(lines[1]);
  if (!size) return parse_error("checkpoint size is not a canonical decimal");
  checkpoint.size = *size;
  const std::optional<std::vector<uint8_t>> root = base64_decode(lines[2]);
  if (!root || root->size() != checkpoint.root.size()) return parse_error("checkpoint root is not a 32-byte base64 hash");
  std::copy(root->begin(), root->end(), checkpoint.root.begin());
  return checkpoint;
}

std::string compose_checkpoint_body(std::string_view origin, uint64_t size, const Hash& root) {
  std::string body(origin);
  body += '\n';
  body += decimal(size);
  body += '\n';
  body += base64_encode(root);
  body += '\n';
  return body;
}

Hash note_key_id(std::string_view name, const crypto::Ed25519Key& key) {
  std::vector<uint8_t> input(name.begin(), name.end());
  input.push_back(0x0A);
  input.push_back(kEd25519SignatureType);
  input.insert(input.end(), key.begin(), key.end());
  return crypto::sha256(input);
}

bool verify_note_signature(const Note& note, std::string_view key_name, const crypto::Ed25519Key& key) {
  const Hash id = note_key_id(key_name, key);
  for (const NoteSignature& line : note.signatures) {
    if (line.name != key_name || !std::equal(line.key_hash.begin(), line.key_hash.end(), id.begin())) continue;
    if (line.signature.size() + kKeyHashBytes != kEd25519NoteBlobBytes) continue;
    if (crypto::ed25519_verify(key, as_bytes(note.body), line.signature)) return true;
  }
  return false;
}

std::string cosignature_message(uint64_t timestamp, std::string_view checkpoint_body) {
  std::string message = "cosignature/v1\ntime ";
  message += decimal(timestamp);
  message += '\n';
  message += checkpoint_body;
  return message;
}

}  // namespace orv::tlog
