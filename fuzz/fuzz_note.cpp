// The signed-note and checkpoint readers over arbitrary bytes: no crash, and what they accept
// keeps the layout's promises (the body is the text's own prefix and ends the body with its
// line feed; at most 100 signature lines with valid names; a checkpoint composes back to the
// first three lines of the body it was read from).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "fuzz_rekor_fixture.h"
#include "tlog/note.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orv::tlog;
  static const orv::crypto::Ed25519Key key = orv::fuzz::ed25519_public_of(orv::fuzz::kRekorLogLabel);
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const orv::Expected<Note, TlogError> note = read_note(text);
  if (note) {
    if (!text.starts_with(note->body) || note->body.empty() || note->body.back() != '\n') std::abort();
    if (note->signatures.empty() || note->signatures.size() > kMaxNoteSignatures) std::abort();
    for (const NoteSignature& line : note->signatures) {
      if (line.name.empty() || line.name.find_first_of("+ \n") != std::string::npos) std::abort();
    }
    verify_note_signature(*note, orv::fuzz::kRekorOrigin, key);
  } else if (note.error().code != "TLOG_PARSE") {
    std::abort();
  }

  const std::string_view body = note ? std::string_view(note->body) : text;
  const orv::Expected<Checkpoint, TlogError> checkpoint = read_checkpoint_body(body);
  if (checkpoint && !body.starts_with(compose_checkpoint_body(checkpoint->origin, checkpoint->size, checkpoint->root))) {
    // Only the last of the three lines may lack its line feed when the body ends there.
    const std::string composed = compose_checkpoint_body(checkpoint->origin, checkpoint->size, checkpoint->root);
    if (std::string(body) + "\n" != composed) std::abort();
  }
  return 0;
}
