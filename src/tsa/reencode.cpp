#include "tsa/reencode.h"

#include <openssl/err.h>
#include <openssl/ts.h>

#include <algorithm>
#include <array>
#include <optional>

#include "core/byte_reader.h"
#include "core/der_writer.h"
#include "core/hex.h"
#include "core/text.h"
#include "tsa/certs.h"
#include "tsa/der.h"

namespace orv::tsa {
namespace {

constexpr uint8_t kExplicit0 = 0xA0;  // ContentInfo content, eContent, SignedData certificates
constexpr uint8_t kCrls = 0xA1;

using TstInfoPtr = crypto::OpenSslPtr<TS_TST_INFO, TS_TST_INFO_free>;
using IntegerPtr = crypto::OpenSslPtr<ASN1_INTEGER, ASN1_INTEGER_free>;

ReencodeFailure unusable(std::string text) { return {ReencodeFault::NotUsable, std::move(text)}; }

// The next element, its length taken in any definite form: the enclosing elements this
// rewrites may have been written with longer lengths than DER allows, and are fixed here.
bool read_element(std::span<const uint8_t>& rest, DerElement& out) {
  DerHeader header;
  if (read_der_header(rest, header) != DerHeaderFault::None) return false;
  if (rest.size() - header.header_bytes < header.length) return false;
  const size_t whole = header.header_bytes + header.length;
  out = {header.tag, rest.first(whole), rest.subspan(header.header_bytes, header.length)};
  rest = rest.subspan(whole);
  return true;
}

bool read_element(std::span<const uint8_t>& rest, uint8_t tag, DerElement& out) {
  return !rest.empty() && rest[0] == tag && read_element(rest, out);
}

// PKIStatus values (RFC 3161 section 2.4.2) and the PKIFailureInfo bits that have names.
constexpr std::array<std::string_view, 6> kStatusNames = {"granted", "grantedWithMods",   "rejection",
                                                          "waiting", "revocationWarning", "revocationNotification"};
constexpr std::array<std::pair<int, std::string_view>, 8> kFailureNames = {{{0, "badAlg"},
                                                                            {2, "badRequest"},
                                                                            {5, "badDataFormat"},
                                                                            {14, "timeNotAvailable"},
                                                                            {15, "unacceptedPolicy"},
                                                                            {16, "unacceptedExtension"},
                                                                            {17, "addInfoNotAvailable"},
                                                                            {25, "systemFailure"}}};

// "rejection (2): 'text'; failure: badAlg" from a PKIStatusInfo's members after its status.
std::string refused_status(uint64_t status, std::span<const uint8_t> rest) {
  std::string text = (status < kStatusNames.size() ? std::string(kStatusNames[status]) : std::string("unknown status")) + " (" +
                     decimal(status) + ")";
  DerElement element;
  if (read_element(rest, der_tag::kSequence, element)) {
    std::span<const uint8_t> strings = element.contents;
    DerElement line;
    while (read_element(strings, line)) {
      text += ": '" + terminal_safe(std::string_view(reinterpret_cast<const char*>(line.contents.data()), line.contents.size())) +
              "'";
    }
  }
  if (read_element(rest, der_tag::kBitString, element) && !element.contents.empty()) {
    std::string reasons;
    const std::span<const uint8_t> bits = element.contents.subspan(1);
    for (const auto& [bit, name] : kFailureNames) {
      const size_t octet = static_cast<size_t>(bit) / 8;
      if (octet < bits.size() && (bits[octet] & (0x80 >> (bit % 8))) != 0)
        reasons += (reasons.empty() ? "" : ", ") + std::string(name);
    }
    if (!reasons.empty()) text += "; failure: " + reasons;
  }
  return text;
}

// The parts of a SignedData, each as found.
struct SignedDataParts {
  std::span<const uint8_t> content_type;  // the ContentInfo's OID element
  std::span<const uint8_t> version, digest_algorithms, encapsulated, crls, signer_infos;
  std::vector<std::span<const uint8_t>> certificates;  // X.509 ones only; other forms are dropped
};

Expected<SignedDataParts, ReencodeFailure> split_token(std::span<const uint8_t> token) {
  const auto broken = [](std::string_view what) { return unusable("the token is not a CMS SignedData: " + std::string(what)); };
  SignedDataParts parts;
  std::span<const uint8_t> rest = token;
  DerElement info, type, wrapper, signed_data;
  if (!read_element(rest, der_tag::kSequence, info) || !rest.empty()) return broken("no ContentInfo");
  std::span<const uint8_t> members = info.contents;
  if (!read_element(members, der_tag::kOid, type) || !read_element(members, kExplicit0, wrapper) || !members.empty()) {
    return broken("the ContentInfo is not a type and a content");
  }
  parts.content_type = type.whole;
  std::span<const uint8_t> inner = wrapper.contents;
  if (!read_element(inner, der_tag::kSequence, signed_data) || !inner.empty()) return broken("the content is not one SEQUENCE");
  std::span<const uint8_t> fields = signed_data.contents;
  DerElement field;
  if (!read_element(fields, der_tag::kInteger, field)) return broken("no version");
  parts.version = field.whole;
  if (!read_element(fields, der_tag::kSet, field)) return broken("no digest algorithms");
  parts.digest_algorithms = field.whole;
  if (!read_element(fields, der_tag::kSequence, field)) return broken("no encapsulated content");
  parts.encapsulated = field.whole;
  if (read_element(fields, kExplicit0, field)) {
    std::span<const uint8_t> certs = field.contents;
    DerElement cert;
    while (read_element(certs, cert)) {
      if (cert.tag == der_tag::kSequence) parts.certificates.push_back(cert.whole);
    }
    if (!certs.empty()) return broken("a certificate runs past its set");
  }
  if (read_element(fields, kCrls, field)) parts.crls = field.whole;
  if (!read_element(fields, der_tag::kSet, field) || !fields.empty()) return broken("no signer infos at the end");
  parts.signer_infos = field.whole;
  return parts;
}

// The imprint against the subject's hash. A TSTInfo that does not decode, or a hash the
// verifier does not support, is left for the verifier to name.
bool imprint_covers(std::span<const uint8_t> encapsulated, std::span<const uint8_t> subject) {
  std::span<const uint8_t> rest = encapsulated;
  DerElement outer, type, wrapper, octets;
  if (!read_element(rest, der_tag::kSequence, outer)) return true;
  std::span<const uint8_t> members = outer.contents;
  if (!read_element(members, der_tag::kOid, type) || !read_element(members, kExplicit0, wrapper)) return true;
  std::span<const uint8_t> inner = wrapper.contents;
  if (!read_element(inner, der_tag::kOctetString, octets)) return true;
  const unsigned char* cursor = octets.contents.data();
  const TstInfoPtr tst(d2i_TS_TST_INFO(nullptr, &cursor, static_cast<long>(octets.contents.size())));
  ERR_clear_error();
  if (!tst) return true;
  TS_MSG_IMPRINT* imprint = TS_TST_INFO_get_msg_imprint(tst.get());
  const std::optional<Digest> digest = supported_digest(TS_MSG_IMPRINT_get_algo(imprint));
  if (!digest) return true;
  const ASN1_OCTET_STRING* hashed = TS_MSG_IMPRINT_get_msg(imprint);
  const std::vector<uint8_t> expected = digest_of(*digest, subject);
  return std::ranges::equal(
      expected, std::span<const uint8_t>(ASN1_STRING_get0_data(hashed), static_cast<size_t>(ASN1_STRING_length(hashed))));
}

// The one signer's issuer and serial number.
struct SignerId {
  crypto::X509NamePtr issuer;
  IntegerPtr serial;
};

Expected<SignerId, ReencodeFailure> signer_id(std::span<const uint8_t> signer_infos) {
  std::span<const uint8_t> rest = signer_infos;
  DerElement set, info, version, sid;
  if (!read_element(rest, der_tag::kSet, set)) return unusable("the token has no signer info");
  std::span<const uint8_t> infos = set.contents;
  if (!read_element(infos, der_tag::kSequence, info) || !infos.empty()) return unusable("the token must have exactly one signer");
  std::span<const uint8_t> fields = info.contents;
  if (!read_element(fields, der_tag::kInteger, version) || !read_element(fields, sid))
    return unusable("the signer info does not parse");
  if (sid.tag != der_tag::kSequence)
    return unusable("the token names its signer by key identifier, which the verifier does not accept");
  std::span<const uint8_t> id = sid.contents;
  DerElement name, serial;
  if (!read_element(id, der_tag::kSequence, name) || !read_element(id, der_tag::kInteger, serial) || !id.empty()) {
    return unusable("the signer's issuer and serial number do not parse");
  }
  const unsigned char* cursor = name.whole.data();
  SignerId out{crypto::X509NamePtr(d2i_X509_NAME(nullptr, &cursor, static_cast<long>(name.whole.size()))), nullptr};
  cursor = serial.whole.data();
  out.serial.reset(d2i_ASN1_INTEGER(nullptr, &cursor, static_cast<long>(serial.whole.size())));
  ERR_clear_error();
  if (!out.issuer || !out.serial) return unusable("the signer's issuer and serial number do not parse");
  return out;
}

bool is_signer(const Cert& cert, const SignerId& id) {
  return crypto::same_name(X509_get_issuer_name(cert.x509.get()), id.issuer.get()) &&
         ASN1_INTEGER_cmp(X509_get0_serialNumber(cert.x509.get()), id.serial.get()) == 0;
}

std::string quoted_subject(const Cert& cert) { return "'" + terminal_safe(crypto::subject_text(cert.x509.get())) + "'"; }

// The path from the signer up to the first certificate a pinned root issued; every candidate
// is only offered, so each link is a verified signature.
struct Found {
  std::vector<const Cert*> path;
  const PinnedAuthority* authority = nullptr;
};

Expected<Found, ReencodeFailure> find_path(const Cert& signer, const std::vector<Cert>& candidates,
                                           std::span<const PinnedAuthority> authorities, const std::vector<Cert>& roots) {
  Found found{{&signer}, nullptr};
  while (found.path.size() <= kMaxIntermediates + 1) {
    const Cert& current = *found.path.back();
    X509* child = current.x509.get();
    for (size_t i = 0; i < roots.size(); ++i) {
      if (issued_by(roots[i].x509.get(), child)) {
        found.authority = &authorities[i];
        return found;
      }
    }
    const auto next = std::find_if(candidates.begin(), candidates.end(), [&](const Cert& candidate) {
      return std::find(found.path.begin(), found.path.end(), &candidate) == found.path.end() &&
             issued_by(candidate.x509.get(), child);
    });
    if (next != candidates.end()) {
      found.path.push_back(&*next);
      continue;
    }
    const X509_NAME* issuer = X509_get_issuer_name(child);
    if (crypto::same_name(issuer, X509_get_subject_name(child)) && issued_by(child, child)) {
      return ReencodeFailure{ReencodeFault::UnknownAuthority,
                             "the token chains to " + quoted_subject(current) + ", a root that is not pinned in this verifier"};
    }
    for (const Cert& root : roots) {
      if (crypto::same_name(issuer, X509_get_subject_name(root.x509.get()))) {
        return ReencodeFailure{ReencodeFault::UnknownAuthority,
                               quoted_subject(current) + " names the pinned root " + quoted_subject(root) +
                                   " as its issuer, but that root did not sign it: another authority of the same name"};
      }
    }
    return ReencodeFailure{ReencodeFault::IssuerMissing, "the certificate of '" + terminal_safe(crypto::name_text(issuer)) +
                                                             "', which issued " + quoted_subject(current) + ", is missing"};
  }
  return unusable("the certificate path is longer than the verifier accepts");
}

// Decodes what is offered, each certificate once.
void add_candidates(std::vector<Cert>& candidates, std::span<const uint8_t> der) {
  if (std::any_of(candidates.begin(), candidates.end(), [&](const Cert& known) { return std::ranges::equal(known.der, der); })) {
    return;
  }
  Expected<Cert, std::string> cert = decode_cert(der);
  if (cert) candidates.push_back(std::move(cert).value());
}

// ContentInfo { type, [0] SignedData { version, digests, content, [0] path, crls, signers } }
std::optional<std::vector<uint8_t>> assemble(const SignedDataParts& parts, const std::vector<const Cert*>& path) {
  std::vector<std::vector<uint8_t>> members;
  for (const Cert* cert : path) members.push_back(cert->der);
  sort_der_set(members);
  std::vector<uint8_t> certificates;
  for (const std::vector<uint8_t>& member : members) certificates.insert(certificates.end(), member.begin(), member.end());

  std::vector<uint8_t> fields;
  for (const std::span<const uint8_t> part : {parts.version, parts.digest_algorithms, parts.encapsulated}) {
    fields.insert(fields.end(), part.begin(), part.end());
  }
  if (!append_der(fields, kExplicit0, certificates)) return std::nullopt;
  for (const std::span<const uint8_t> part : {parts.crls, parts.signer_infos})
    fields.insert(fields.end(), part.begin(), part.end());

  std::vector<uint8_t> signed_data, wrapper, info, token;
  if (!append_der(signed_data, der_tag::kSequence, fields) || !append_der(wrapper, kExplicit0, signed_data)) return std::nullopt;
  info.assign(parts.content_type.begin(), parts.content_type.end());
  info.insert(info.end(), wrapper.begin(), wrapper.end());
  if (!append_der(token, der_tag::kSequence, info)) return std::nullopt;
  return token;
}

}  // namespace

Expected<std::vector<uint8_t>, std::string> token_from_response(std::span<const uint8_t> bytes) {
  if (bytes.size() > kMaxResponseBytes) return fail("it is larger than " + decimal(kMaxResponseBytes) + " bytes");
  if (auto walk = check_der_structure(bytes); !walk.ok()) return fail("it is not DER: " + walk.error());
  std::span<const uint8_t> rest = bytes;
  DerElement outer;
  if (!read_element(rest, der_tag::kSequence, outer) || !rest.empty()) return fail(std::string("it is not one DER SEQUENCE"));
  std::span<const uint8_t> members = outer.contents;
  if (!members.empty() && members[0] == der_tag::kOid) return std::vector<uint8_t>(bytes.begin(), bytes.end());
  // TimeStampResp ::= SEQUENCE { status PKIStatusInfo, timeStampToken ContentInfo OPTIONAL }
  DerElement status_info, status;
  if (!read_element(members, der_tag::kSequence, status_info))
    return fail(std::string("it is neither a token nor a TimeStampResp"));
  std::span<const uint8_t> status_fields = status_info.contents;
  if (!read_element(status_fields, der_tag::kInteger, status) || status.contents.empty() || status.contents.size() > 2 ||
      (status.contents[0] & 0x80) != 0) {
    return fail(std::string("its status does not parse"));
  }
  uint64_t value = 0;
  for (const uint8_t octet : status.contents) value = (value << 8) | octet;
  if (value > 1) return fail("the authority did not grant the request: " + refused_status(value, status_fields));
  DerElement token;
  if (!read_element(members, der_tag::kSequence, token) || !members.empty()) {
    return fail(std::string("the response is granted but carries no token"));
  }
  return std::vector<uint8_t>(token.whole.begin(), token.whole.end());
}

Expected<Reencoded, ReencodeFailure> reencode_token(std::span<const uint8_t> token, std::span<const uint8_t> subject,
                                                    std::span<const std::vector<uint8_t>> offered,
                                                    std::span<const PinnedAuthority> authorities) {
  if (token.size() > kMaxResponseBytes) return unusable("the token is larger than " + decimal(kMaxResponseBytes) + " bytes");
  if (auto walk = check_der_structure(token); !walk.ok()) return unusable("the token is not DER: " + walk.error());
  Expected<SignedDataParts, ReencodeFailure> parts = split_token(token);
  if (!parts) return std::move(parts).error();
  if (!imprint_covers(parts->encapsulated, subject)) {
    return ReencodeFailure{ReencodeFault::OtherBytes, "the token's imprint is not the hash of this file: it stamps other bytes"};
  }
  Expected<SignerId, ReencodeFailure> id = signer_id(parts->signer_infos);
  if (!id) return std::move(id).error();

  std::vector<Cert> candidates;
  for (const std::span<const uint8_t> der : parts->certificates) add_candidates(candidates, der);
  for (const std::vector<uint8_t>& der : offered) add_candidates(candidates, der);
  std::vector<Cert> roots;
  for (const PinnedAuthority& authority : authorities) {
    Expected<Cert, std::string> root = decode_cert(authority.root_der);
    if (!root) return unusable("the compiled-in root of " + authority.name + " does not parse");
    roots.push_back(std::move(root).value());
  }
  const auto signer = std::find_if(candidates.begin(), candidates.end(), [&](const Cert& cert) { return is_signer(cert, *id); });
  if (signer == candidates.end()) {
    return ReencodeFailure{ReencodeFault::SignerMissing, "the token does not carry its signer's certificate (issued by '" +
                                                             terminal_safe(crypto::name_text(id->issuer.get())) +
                                                             "', serial number " +
                                                             hex_encode(crypto::integer_octets(id->serial.get())) + ")"};
  }
  Expected<Found, ReencodeFailure> found = find_path(*signer, candidates, authorities, roots);
  if (!found) return std::move(found).error();
  std::optional<std::vector<uint8_t>> written = assemble(*parts, found->path);
  if (!written) return unusable("the re-encoded token would be too large");
  // Everything written here is DER, so what is not lies in what was copied.
  if (!has_minimal_encoding(*written)) {
    return unusable(
        "the token is not DER inside the parts its signatures cover (a length or boolean in its signed "
        "content, signer info or certificates), and re-encoding those would break the signatures");
  }
  return Reencoded{std::move(*written), found->authority};
}

}  // namespace orv::tsa
