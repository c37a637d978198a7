// Definitions of the error code accessors declared in error_codes.h.
#include "base/error_code_table.h"

// The function-local static makes the compiler's one-time guard do the
// registration, so two threads calling an accessor first still register the
// record once.
#define NEBRIX_DEFINE_ERROR_ACCESSOR(component, name, number, text)                       \
  const ltt::impl::ErrorCodeImpl& component##__##name() {                                 \
    static const ltt::impl::ErrorCodeImpl record(number, text, ltt::generic_category(), #name); \
    return record;                                                                        \
  }
NEBRIX_ERROR_CODE_TABLE(NEBRIX_DEFINE_ERROR_ACCESSOR)
NEBRIX_RUNTIME_ERROR_CODE_TABLE(NEBRIX_DEFINE_ERROR_ACCESSOR)
#undef NEBRIX_DEFINE_ERROR_ACCESSOR
