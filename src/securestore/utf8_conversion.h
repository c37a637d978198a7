// Character conversion between the application's characters and the UTF-8
// the store writes. The application's characters are single bytes here, so
// both directions copy byte for byte and never report non-ASCII input.
#pragma once

#include <cstddef>

#include "securestore/rsecssfs.h"

constexpr int kUtf8ConversionOutputFull = 32;
// Room the store reserves for the UTF-8 form of one character.
constexpr size_t kUtf8BytesPerCharacter = 3;

// Both advance the cursors; 0 when the input is used up, 32 when the output
// area is full first. *pNUcNoASCII7bit (if given) is cleared.
int RSecSSFsUcnToUtf8n(unsigned char** pp_out, const unsigned char* p_outend, const char** pp_in,
                       const char* p_inend, int replacementCharAllowed, int* pNUcNoASCII7bit);
int RSecSSFsUtf8nToUcn(char** pp_out, const char* p_outend, const unsigned char** pp_in,
                       const unsigned char* p_inend, int replacementCharAllowed, int* pNUcNoASCII7bit);

// A NUL-terminated text, allocated with the store's allocator, from
// `inLengthBytes` UTF-8 bytes. RC -4 with a message, or -9.
RSEC_SSFS_RC rsecssfs_getCHARforUTF8(const unsigned char* pInUTF8, size_t inLengthBytes, char** ppOut,
                                     int replacementCharAllowed);
