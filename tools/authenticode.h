#pragma once
// The Authenticode check of a signed PE image on the build machine: the
// digest that the signature carries must equal the image's own digest.

#include "pe_image.h"

namespace korvane::tools {

enum class Signature { absent, matches };

// Finds the certificate table (a WIN_CERTIFICATE holding PKCS #7 signed
// data), reads the digest algorithm and digest of its SpcIndirectDataContent,
// and compares them with the image's digest computed by the Authenticode
// rules: every byte except the checksum field, the certificate table's
// directory entry and the certificate table itself. An unsigned image gives
// Signature::absent; a signature whose digest differs, or one that cannot
// be read, an error. The signer's certificate and its chain are not judged.
[[nodiscard]] ToolResult<Signature> check_authenticode(const PeImage& pe);

}  // namespace korvane::tools
