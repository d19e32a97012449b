#include "authenticode.h"

#include <openssl/asn1.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <memory>
#include <string_view>

namespace korvane::tools {
namespace {

struct Pkcs7Free {
  void operator()(PKCS7* p) const noexcept { PKCS7_free(p); }
};
struct SigFree {
  void operator()(X509_SIG* p) const noexcept { X509_SIG_free(p); }
};
struct MdCtxFree {
  void operator()(EVP_MD_CTX* p) const noexcept { EVP_MD_CTX_free(p); }
};

constexpr std::string_view kSpcIndirectData = "1.3.6.1.4.1.311.2.1.4";
constexpr std::uint16_t kCertificateRevision2 = 0x0200;
constexpr std::uint16_t kCertificatePkcsSignedData = 0x0002;

std::uint32_t le32(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
         (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// The digest the signature vouches for: SpcIndirectDataContent is
// SEQUENCE { SpcAttributeTypeAndOptionalValue, DigestInfo }, and DigestInfo
// has the DER form of X509_SIG.
struct SignedDigest {
  const EVP_MD* md;
  Bytes digest;
};

ToolResult<SignedDigest> signed_digest(std::span<const std::uint8_t> der) {
  const unsigned char* p = der.data();
  std::unique_ptr<PKCS7, Pkcs7Free> p7(d2i_PKCS7(nullptr, &p, static_cast<long>(der.size())));
  if (!p7 || !PKCS7_type_is_signed(p7.get()) || p7->d.sign == nullptr ||
      p7->d.sign->contents == nullptr) {
    return std::unexpected("the signature is not PKCS #7 signed data");
  }
  const PKCS7* content = p7->d.sign->contents;
  char oid[64] = {};
  OBJ_obj2txt(oid, sizeof oid, content->type, 1);
  if (std::string_view(oid) != kSpcIndirectData || content->d.other == nullptr ||
      content->d.other->type != V_ASN1_SEQUENCE) {
    return std::unexpected("the signature holds no Authenticode digest");
  }
  const ASN1_STRING* seq = content->d.other->value.sequence;
  const unsigned char* q = ASN1_STRING_get0_data(seq);
  const unsigned char* const end = q + ASN1_STRING_length(seq);
  long length = 0;
  int tag = 0;
  int cls = 0;
  // Into the outer SEQUENCE, then over its first element.
  if (ASN1_get_object(&q, &length, &tag, &cls, end - q) & 0x80 || tag != V_ASN1_SEQUENCE ||
      ASN1_get_object(&q, &length, &tag, &cls, end - q) & 0x80 || length > end - q) {
    return std::unexpected("the Authenticode digest is malformed");
  }
  q += length;
  std::unique_ptr<X509_SIG, SigFree> info(d2i_X509_SIG(nullptr, &q, end - q));
  if (!info) return std::unexpected("the Authenticode digest is malformed");
  const X509_ALGOR* algorithm = nullptr;
  const ASN1_OCTET_STRING* digest = nullptr;
  X509_SIG_get0(info.get(), &algorithm, &digest);
  const ASN1_OBJECT* algorithm_oid = nullptr;
  X509_ALGOR_get0(&algorithm_oid, nullptr, nullptr, algorithm);
  const EVP_MD* md = EVP_get_digestbynid(OBJ_obj2nid(algorithm_oid));
  if (md == nullptr) return std::unexpected("the signature uses an unknown digest algorithm");
  const unsigned char* bytes = ASN1_STRING_get0_data(digest);
  return SignedDigest{md, Bytes(bytes, bytes + ASN1_STRING_length(digest))};
}

}  // namespace

ToolResult<Signature> check_authenticode(const PeImage& pe) {
  const PeDataDirectory table = pe.directory(PeDirectory::certificates);
  if (table.address == 0 && table.size == 0) return Signature::absent;
  const std::span<const std::uint8_t> file = pe.file;
  if (table.address > file.size() || file.size() - table.address < table.size || table.size < 8 ||
      table.address < pe.size_of_headers) {
    return std::unexpected("the certificate table lies outside the file");
  }
  const std::uint32_t length = le32(file, table.address);
  const auto revision = static_cast<std::uint16_t>(file[table.address + 4] | (file[table.address + 5] << 8));
  const auto type = static_cast<std::uint16_t>(file[table.address + 6] | (file[table.address + 7] << 8));
  if (length < 8 || length > table.size || revision != kCertificateRevision2 ||
      type != kCertificatePkcsSignedData) {
    return std::unexpected("the certificate table holds no Authenticode signature");
  }
  ToolResult<SignedDigest> want = signed_digest(file.subspan(table.address + 8, length - 8));
  if (!want) return std::unexpected(want.error());

  // The image digest: everything but the checksum, the certificate table's
  // directory entry and the table itself.
  const std::size_t checksum = pe.optional_header + 64;
  const std::size_t entry = pe.optional_header + 112 + 8 * static_cast<std::size_t>(PeDirectory::certificates);
  const std::size_t cert_end = std::size_t{table.address} + table.size;
  const struct {
    std::size_t from, to;
  } ranges[] = {{0, checksum}, {checksum + 4, entry}, {entry + 8, table.address}, {cert_end, file.size()}};
  std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestInit_ex(ctx.get(), want->md, nullptr) != 1) {
    return std::unexpected("cannot compute the image digest");
  }
  for (const auto& r : ranges) {
    if (r.to > r.from && EVP_DigestUpdate(ctx.get(), file.data() + r.from, r.to - r.from) != 1) {
      return std::unexpected("cannot compute the image digest");
    }
  }
  unsigned char got[EVP_MAX_MD_SIZE];
  unsigned int got_size = 0;
  if (EVP_DigestFinal_ex(ctx.get(), got, &got_size) != 1) return std::unexpected("cannot compute the image digest");
  if (Bytes(got, got + got_size) != want->digest) {
    return std::unexpected(std::string("the Authenticode signature does not match the file (") +
                           EVP_MD_get0_name(want->md) + " digest differs): the file was changed after signing");
  }
  return Signature::matches;
}

}  // namespace korvane::tools
