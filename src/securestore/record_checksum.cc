#include "securestore/record_checksum.h"

#include <cstring>

#include "crypto/hmac.h"
#include "crypto/payload_cipher.h"
#include "crypto/secure_wipe.h"
#include "securestore/diagnostics.h"

namespace {

constexpr size_t kChecksumKeySize = 16;

// The checksum key in obscured form; the real key is this constant encrypted
// with the cipher's built-in single-DES key. It must never change: the
// checksum of every record ever stored depends on it.
const unsigned char rsecssfsHmacKeyObscured[kChecksumKeySize] = {
    0x5F, 0x24, 0x5C, 0xA8, 0xE4, 0x23, 0x82, 0xF8, 0xDB, 0xBB, 0x4D, 0xB4, 0xAC, 0x85, 0x48, 0x0C};

}  // namespace

void rsecssfs_computeRecordChecksum(const rsecssfsDataHeader* header, const unsigned char* payload,
                                    size_t payloadLength, unsigned char checksum[kRecordChecksumSize]) {
  unsigned char key[kChecksumKeySize];
  std::memcpy(key, rsecssfsHmacKeyObscured, sizeof key);
  rsecedv1_encode_default_v1(key, sizeof key);
  haxx_CTX context;
  haHMACInit(HA_ALG_SHA1, key, sizeof key, &context);
  haHMACUpdate(header, kChecksummedHeaderBytes, &context);
  if (payloadLength > 0) haHMACUpdate(payload, payloadLength, &context);
  haHMACFinal(0, 0, &context);
  secureWipe(key, sizeof key);
  std::memcpy(checksum, context.digest, kRecordChecksumSize);
  secureWipe(&context, sizeof context);
}

RSEC_SSFS_RC rsecssfs_verifyRecordChecksum(const rsecssfsDataHeader* header, const unsigned char* payload,
                                           size_t payloadLength) {
  unsigned char expected[kRecordChecksumSize];
  rsecssfs_computeRecordChecksum(header, payload, payloadLength, expected);
  if (std::memcmp(expected, header->hmacSHA1DataHeaderAndPayload, kRecordChecksumSize) != 0) {
    RSECSSFS_TRACE(RSECSSFS_TRCERR, "Checksum over data header and payload incorrect");
    return RSEC_SSFS_RC_FILE_CORRUPTION;
  }
  RSECSSFS_TRACE(RSECSSFS_TRC3, "Checksum check OK");
  return RSEC_SSFS_RC_OK;
}
