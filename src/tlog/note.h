// Signed notes (C2SP signed-note), checkpoint bodies (C2SP tlog-checkpoint), Ed25519 note
// keys and the witness cosignature message (C2SP tlog-cosignature, "cosignature/v1").
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/ed25519.h"
#include "tlog/merkle.h"
#include "tlog/tlog_error.h"

namespace orv::tlog {

inline constexpr size_t kMaxNoteBytes = 1048576;
inline constexpr size_t kMaxNoteSignatures = 100;

struct NoteSignature {
  std::string name;
  std::array<uint8_t, 4> key_hash{};
  std::vector<uint8_t> signature;  // the blob after the key hash; any length, even empty
};

struct Note {
  std::string body;  // up to and including the line feed that ends the last body line
  std::vector<NoteSignature> signatures;
};

struct Checkpoint {
  std::string origin;
  uint64_t size = 0;
  Hash root{};
};

// Digits only, no sign, no leading zero except "0" itself, and a value that fits 64 bits.
std::optional<uint64_t> parse_canonical_decimal(std::string_view text);

// The note layout with every rule checked; errors are TLOG_PARSE.
Expected<Note, TlogError> read_note(std::string_view text);

// Origin, size and root from the first three lines of a note body; later lines are ignored
// (they stay part of what was signed). Errors are TLOG_PARSE.
Expected<Checkpoint, TlogError> read_checkpoint_body(std::string_view body);

// "{origin}\n{size}\n{base64 root}\n": the body a log signs when a tree head arrives as fields.
std::string compose_checkpoint_body(std::string_view origin, uint64_t size, const Hash& root);

// SHA-256(name || 0x0A || 0x01 || key): the Ed25519 note key identifier.
Hash note_key_id(std::string_view name, const crypto::Ed25519Key& key);

// True when some signature line carries exactly this name, this key's 4-byte key hash and a
// 68-byte blob whose 64-byte signature verifies over the body. Other signers' lines, and lines
// of this name that fail, do not decide anything.
bool verify_note_signature(const Note& note, std::string_view key_name, const crypto::Ed25519Key& key);

// "cosignature/v1\ntime {timestamp}\n{body}": what a witness signs for a checkpoint body.
std::string cosignature_message(uint64_t timestamp, std::string_view checkpoint_body);

}  // namespace orv::tlog
