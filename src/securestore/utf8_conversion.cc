#include "securestore/utf8_conversion.h"

#include "securestore/checked_allocator.h"
#include "securestore/diagnostics.h"

namespace {

template <typename Out, typename In>
int copyBytes(Out** out, const Out* outEnd, const In** in, const In* inEnd, int* nonAscii) {
  if (nonAscii != nullptr) *nonAscii = 0;
  while (*in < inEnd) {
    if (*out >= outEnd) return kUtf8ConversionOutputFull;
    *(*out)++ = static_cast<Out>(*(*in)++);
  }
  return 0;
}

}  // namespace

int RSecSSFsUcnToUtf8n(unsigned char** pp_out, const unsigned char* p_outend, const char** pp_in,
                       const char* p_inend, int, int* pNUcNoASCII7bit) {
  return copyBytes(pp_out, p_outend, pp_in, p_inend, pNUcNoASCII7bit);
}

int RSecSSFsUtf8nToUcn(char** pp_out, const char* p_outend, const unsigned char** pp_in,
                       const unsigned char* p_inend, int, int* pNUcNoASCII7bit) {
  return copyBytes(pp_out, p_outend, pp_in, p_inend, pNUcNoASCII7bit);
}

RSEC_SSFS_RC rsecssfs_getCHARforUTF8(const unsigned char* pInUTF8, size_t inLengthBytes, char** ppOut,
                                     int replacementCharAllowed) {
  *ppOut = nullptr;
  auto* text = static_cast<char*>(RSECSSFS_ALLOC_CHARS(inLengthBytes + 1));
  if (text == nullptr) return RSEC_SSFS_RC_LOW_MEMORY;
  char* out = text;
  const unsigned char* in = pInUTF8;
  const int rc = RSecSSFsUtf8nToUcn(&out, text + inLengthBytes, &in, pInUTF8 + inLengthBytes,
                                    replacementCharAllowed, nullptr);
  if (rc != 0) {
    RSECSSFS_TRACE(RSECSSFS_TRCERR, "UTF8 conversion failed with returncode %d", rc);
    RSECSSFS_WIPE_AND_FREE(text, inLengthBytes + 1);
    return RSEC_SSFS_RC_UTF8_CONVERSION;
  }
  *out = '\0';
  *ppOut = text;
  return RSEC_SSFS_RC_OK;
}
