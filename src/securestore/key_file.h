// The key file: the store's encryption key, 92 bytes (more are ignored).
//   offset  size
//        0    11  preamble "RSecSSFsKey" (not checked by readers)
//       11     1  type code: 1
//       12    24  the encryption key
//       36     8  time the key was written, big-endian seconds
//       44    24  user who wrote it, blank-padded
//       68    24  host on which it was written, blank-padded
// Without a key file, or with an empty one, the store uses the default key
// of 24 zero bytes.
#pragma once

#include "securestore/payload_codec.h"
#include "securestore/rsecssfs.h"

constexpr char rsecssfsKeyPreamble[] = "RSecSSFsKey";

struct rsecssfsKeyfileRecord {
  char preamble[11];
  unsigned char type;
  unsigned char key[kEncryptionKeySize];
  rsecssfsEnvironmentInfo environmentInfo;
};
static_assert(sizeof(rsecssfsKeyfileRecord) == 92, "key file layout");

// The current key: from the key file, or the default key. RC -6 with a
// message for a key file of 1 to 91 bytes or with a type other than 1.
// `source`, when given, says which of the two it is.
RSEC_SSFS_RC rsecssfs_getKeyFromKeyfile(unsigned char pGlobalKey[kEncryptionKeySize],
                                        rsecssfsKeySource* source = nullptr);

// Writes a key file record holding `key`, stamped now, to the empty file
// open at `fd`, flushes it to disk and closes `fd`. False when any of that
// failed; the file may then hold part of the record.
bool rsecssfs_writeKeyFile(int fd, const unsigned char key[kEncryptionKeySize]);
