#include "tlog/sigsum.h"

#include <algorithm>
#include <array>
#include <optional>

#include "core/hex.h"
#include "core/text.h"
#include "crypto/digest.h"
#include "tlog/note.h"

namespace orv::tlog {
namespace {

struct KeyValue {
  std::string_view key;
  std::string_view value;
};
using Block = std::vector<KeyValue>;

struct Cosignature {
  Hash key_hash{};
  uint64_t timestamp = 0;
  std::array<uint8_t, crypto::kEd25519SignatureBytes> signature{};
};

struct TreeHead {
  uint64_t size = 0;
  Hash root{};
  std::array<uint8_t, crypto::kEd25519SignatureBytes> signature{};
  std::vector<Cosignature> cosignatures;
};

TlogError parse_error(std::string message) { return tlog_error("TLOG_PARSE", std::move(message)); }

template <size_t N>
std::optional<std::array<uint8_t, N>> fixed_hex(std::string_view text) {
  if (text.size() != 2 * N) return std::nullopt;
  const std::optional<std::vector<uint8_t>> bytes = hex_decode(text);
  if (!bytes) return std::nullopt;
  std::array<uint8_t, N> out{};
  std::copy(bytes->begin(), bytes->end(), out.begin());
  return out;
}

// Splits at the single spaces between the fields; an empty field (two spaces in a row, or a
// space at either end) makes the count wrong and so fails the caller's check.
std::vector<std::string_view> split_spaces(std::string_view text) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (true) {
    const size_t space = text.find(' ', start);
    parts.push_back(text.substr(start, space == std::string_view::npos ? std::string_view::npos : space - start));
    if (space == std::string_view::npos) return parts;
    start = space + 1;
  }
}

// Blocks are separated by one empty line. The line feed after the last line ends that line;
// it does not open an empty line of its own.
std::vector<std::vector<std::string_view>> split_blocks(std::string_view text) {
  std::vector<std::vector<std::string_view>> blocks(1);
  if (text.ends_with('\n')) text.remove_suffix(1);
  if (text.empty()) return blocks;
  std::string_view rest = text;
  while (true) {
    const size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    if (line.empty()) {
      blocks.emplace_back();
    } else {
      blocks.back().push_back(line);
    }
    if (end == std::string_view::npos) return blocks;
    rest.remove_prefix(end + 1);
  }
}

std::optional<KeyValue> key_value(std::string_view line) {
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  KeyValue kv{line.substr(0, eq), line.substr(eq + 1)};
  if (kv.key.empty() || kv.value.empty() || kv.value.front() == ' ' || kv.value.back() == ' ') return std::nullopt;
  return kv;
}

Expected<TreeHead, TlogError> read_tree_head(const Block& block) {
  static constexpr std::array<std::string_view, 3> kExpected = {"size", "root_hash", "signature"};
  for (size_t i = 0; i < kExpected.size(); ++i) {
    if (block.size() <= i || block[i].key != kExpected[i]) {
      return parse_error("tree head: expected " + std::string(kExpected[i]));
    }
  }
  TreeHead head;
  const std::optional<uint64_t> size = parse_canonical_decimal(block[0].value);
  if (!size) return parse_error("tree head size is not canonical");
  if (*size > kMaxSigsumTreeSize) return parse_error("tree head size is implausibly large");
  head.size = *size;
  const std::optional<Hash> root = fixed_hex<32>(block[1].value);
  if (!root) return parse_error("bad root_hash");
  head.root = *root;
  const auto signature = fixed_hex<crypto::kEd25519SignatureBytes>(block[2].value);
  if (!signature) return parse_error("bad signature");
  head.signature = *signature;

  for (size_t i = kExpected.size(); i < block.size(); ++i) {
    if (block[i].key != "cosignature") return parse_error("tree head: unexpected line");
    const std::vector<std::string_view> parts = split_spaces(block[i].value);
    if (parts.size() != 3) return parse_error("malformed cosignature line");
    const std::optional<Hash> key_hash = fixed_hex<32>(parts[0]);
    const std::optional<uint64_t> timestamp = parse_canonical_decimal(parts[1]);
    const auto cosignature = fixed_hex<crypto::kEd25519SignatureBytes>(parts[2]);
    if (!key_hash || !timestamp || !cosignature) return parse_error("malformed cosignature line");
    head.cosignatures.push_back(Cosignature{*key_hash, *timestamp, *cosignature});
  }
  return head;
}

std::array<uint8_t, 128> leaf_bytes(const Hash& checksum, std::span<const uint8_t> signature, const Hash& key_hash) {
  std::array<uint8_t, 128> leaf{};
  std::copy(checksum.begin(), checksum.end(), leaf.begin());
  std::copy(signature.begin(), signature.end(), leaf.begin() + 32);
  std::copy(key_hash.begin(), key_hash.end(), leaf.begin() + 96);
  return leaf;
}

}  // namespace

std::string sigsum_origin(const Hash& log_key_hash) { return std::string(kSigsumOriginPrefix) + hex_encode(log_key_hash); }

Expected<VerifiedSigsumProof, TlogError> verify_sigsum_proof(std::string_view proof, const Hash& message,
                                                             const crypto::Ed25519Key& submitter_key,
                                                             const SigsumPolicy& policy) {
  // 1 and 2: bound the text, then find the blocks.
  if (proof.size() > kMaxSigsumProofBytes || proof.find('\r') != std::string_view::npos) {
    return parse_error("proof is too large or contains CR");
  }
  const std::vector<std::vector<std::string_view>> lines = split_blocks(proof);
  if (lines.size() != 2 && lines.size() != 3) return parse_error("proof must have 2 or 3 blocks");

  // Every line is read as key=value before any block is judged, so a malformed line reports
  // the same wherever it stands.
  std::vector<Block> blocks;
  for (const std::vector<std::string_view>& block_lines : lines) {
    Block& block = blocks.emplace_back();
    for (const std::string_view line : block_lines) {
      const std::optional<KeyValue> kv = key_value(line);
      if (!kv) return parse_error("malformed key=value line");
      block.push_back(*kv);
    }
  }

  // 3: header.
  const Block& header = blocks[0];
  if (header.size() != 3 || header[0].key != "version" || header[0].value != "2" || header[1].key != "log" ||
      header[2].key != "leaf") {
    return parse_error("proof header is not version=2 / log / leaf");
  }
  const std::optional<Hash> log_hash = fixed_hex<32>(header[1].value);
  if (!log_hash) return parse_error("bad log key hash");
  const std::vector<std::string_view> leaf_parts = split_spaces(header[2].value);
  std::optional<Hash> leaf_key_hash;
  std::optional<std::array<uint8_t, crypto::kEd25519SignatureBytes>> leaf_signature;
  if (leaf_parts.size() == 2) {
    leaf_key_hash = fixed_hex<32>(leaf_parts[0]);
    leaf_signature = fixed_hex<crypto::kEd25519SignatureBytes>(leaf_parts[1]);
  }
  if (!leaf_key_hash || !leaf_signature) return parse_error("bad leaf line");

  // 4: the leaf must be the submitter's own signature over this message's checksum.
  const Hash checksum = crypto::sha256(message);
  std::string signed_data(kSigsumLeafNamespace);
  signed_data.push_back('\0');
  signed_data.append(checksum.begin(), checksum.end());
  if (*leaf_key_hash != crypto::sha256(submitter_key) ||
      !crypto::ed25519_verify(submitter_key, as_bytes(signed_data), *leaf_signature)) {
    return tlog_error("TLOG_LEAF_INVALID", "the logged leaf is not the pinned submitter's signature over this message");
  }

  // 5: tree head.
  Expected<TreeHead, TlogError> head = read_tree_head(blocks[1]);
  if (!head) return head.error();

  // 6: a policy log must have signed the tree head under its own origin.
  const std::string body = compose_checkpoint_body(sigsum_origin(*log_hash), head->size, head->root);
  const auto log = std::find_if(policy.logs.begin(), policy.logs.end(), [&](const SigsumLog& candidate) {
    return candidate.key_hash == *log_hash && crypto::ed25519_verify(candidate.key, as_bytes(body), head->signature);
  });
  if (log == policy.logs.end()) {
    return tlog_error("TLOG_LOG_SIGNATURE_INVALID", "the tree head is not signed by a log in the pinned policy");
  }

  // 7: witnesses. Lines of unknown witnesses are ignored; a witness counts once however many
  // valid lines it has, and a failing line does not keep a later valid one from counting.
  VerifiedSigsumProof result;
  std::vector<bool> cosigned(policy.witnesses.size(), false);
  size_t cosigned_count = 0;
  for (const Cosignature& line : head->cosignatures) {
    const auto witness = std::find_if(policy.witnesses.begin(), policy.witnesses.end(),
                                      [&](const SigsumWitness& w) { return w.key_hash == line.key_hash; });
    if (witness == policy.witnesses.end()) continue;
    const auto index = static_cast<size_t>(witness - policy.witnesses.begin());
    if (cosigned[index]) continue;
    if (!crypto::ed25519_verify(witness->key, as_bytes(cosignature_message(line.timestamp, body)), line.signature)) {
      continue;
    }
    cosigned[index] = true;
    ++cosigned_count;
    result.witnesses.push_back(SigsumCosignature{witness->name, line.timestamp});
  }
  if (!quorum_satisfied(policy, cosigned)) {
    return tlog_error("TLOG_WITNESS_QUORUM_NOT_MET", "witness quorum not met (" + decimal(cosigned_count) + " of " +
                                                         decimal(policy.witnesses.size()) + " policy witnesses cosigned)");
  }

  // 8: inclusion of the leaf in the signed tree.
  const Hash leaf = leaf_hash(leaf_bytes(checksum, *leaf_signature, *leaf_key_hash));
  uint64_t leaf_index = 0;
  if (head->size == 0) return tlog_error("TLOG_INCLUSION_PROOF_INVALID", "a proof for an empty tree is invalid");
  if (head->size == 1) {
    if (blocks.size() == 3) return tlog_error("TLOG_INCLUSION_PROOF_INVALID", "unexpected inclusion block for size 1");
    if (head->root != leaf) return tlog_error("TLOG_INCLUSION_PROOF_INVALID", "single-leaf tree root is not this leaf");
  } else {
    if (blocks.size() != 3) return tlog_error("TLOG_INCLUSION_PROOF_INVALID", "missing inclusion proof");
    const Block& inclusion = blocks[2];
    if (inclusion.empty() || inclusion[0].key != "leaf_index") {
      return parse_error("inclusion block must start with leaf_index");
    }
    const std::optional<uint64_t> index = parse_canonical_decimal(inclusion[0].value);
    if (!index) return parse_error("bad leaf_index");
    leaf_index = *index;
    std::vector<Hash> path;
    for (size_t i = 1; i < inclusion.size(); ++i) {
      if (inclusion[i].key != "node_hash") return parse_error("unexpected line in inclusion block");
      const std::optional<Hash> node = fixed_hex<32>(inclusion[i].value);
      if (!node) return parse_error("bad node_hash");
      if (path.size() == kMaxSigsumNodeHashes) return parse_error("inclusion path too long");
      path.push_back(*node);
    }
    if (!verify_inclusion(leaf, leaf_index, head->size, path, head->root)) {
      return tlog_error("TLOG_INCLUSION_PROOF_INVALID", "the inclusion proof does not verify");
    }
  }

  // 9.
  result.log_key = log->key;
  result.log_key_hash = log->key_hash;
  result.leaf_index = leaf_index;
  result.tree_size = head->size;
  result.root_hash = head->root;
  return result;
}

}  // namespace orv::tlog
