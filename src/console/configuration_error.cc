// The message for a configuration read or write that failed: the short text
// the configuration functions give, and what the store says beyond it.
#include "base/text_output.h"
#include "console/console.h"
#include "profile/configuration.h"

namespace NEBRIX {

// The short text of the first line ("error putuser") cannot tell a full disk
// from a read-only directory; the store's own reason on a second line can.
// A lock file that blocks every update needs a remedy that the store's text
// does not name: "vaultadm unlock" for a lock left by another update; a
// damaged one, which that refuses since it cannot tell whose it is, goes by
// hand.
NEBRIX_Retcode reportConfigurationError(const char* what, const char* errortext, const char* end) {
  Text::err << what << " (" << errortext << ")" << end << Text::endl;
  const Configuration::StoreFailure failure = Configuration::lastStoreFailure();
  if (failure.locked) {
    Text::err << failure.reason
              << ". When no nebrix_cons or vaultadm is running, remove the lock with \"vaultadm unlock\"."
              << Text::endl;
  } else if (failure.damagedLock) {
    Text::err << failure.reason
              << ". When no nebrix_cons or vaultadm is running, delete that file by hand; \"vaultadm unlock\" "
                 "removes only a lock that names its holder."
              << Text::endl;
  } else if (!failure.reason.empty()) {
    Text::err << failure.reason << Text::endl;
  }
  return NEBRIX_NOT_OK;
}

}  // namespace NEBRIX
