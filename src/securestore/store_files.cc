#include "securestore/store_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "securestore/checked_allocator.h"
#include "securestore/diagnostics.h"
#include "securestore/regular_file.h"

namespace {

// The explicit configuration lives for the whole process, across calls and
// across activations of the allocator's bookkeeping, so it is kept outside
// the store's allocator.
char* g_explicitSystemName = nullptr;
char* g_explicitDataPath = nullptr;
char* g_explicitKeyPath = nullptr;
bool g_environmentDisabled = false;
rsecssfsConfiguration* g_callCache = nullptr;

char* copyOrEmpty(const char* text) { return strdup(text != nullptr ? text : ""); }

bool isInitial(const char* text) { return text == nullptr || *text == '\0'; }

const char* shown(const char* text) { return text != nullptr ? text : "<NULL>"; }

char* fileName(const char* directory, const char* systemName, const char* suffix) {
  const size_t size = std::strlen(directory) + std::strlen(systemName) + std::strlen(suffix) + 7;
  auto* name = static_cast<char*>(RSECSSFS_ALLOC_CHARS(size));
  if (name != nullptr) std::snprintf(name, size, "%s%sSSFS_%s%s", directory, "/", systemName, suffix);
  return name;
}

RSEC_SSFS_RC buildFileSet(const char* systemName, const char* dataPath, const char* keyPath,
                          rsecssfsConfiguration** config) {
  auto* set = static_cast<rsecssfsConfiguration*>(RSECSSFS_ALLOC(sizeof(rsecssfsConfiguration)));
  if (set == nullptr) return RSEC_SSFS_RC_LOW_MEMORY;
  set->pDataFile = fileName(dataPath, systemName, ".DAT");
  set->pDataFileBackup = fileName(dataPath, systemName, ".DA_");
  set->pKeyFile = fileName(keyPath, systemName, ".KEY");
  set->pKeyFileBackup = fileName(keyPath, systemName, ".KE_");
  set->pLockFile = fileName(dataPath, systemName, ".LCK");
  if (set->pDataFile == nullptr || set->pDataFileBackup == nullptr || set->pKeyFile == nullptr ||
      set->pKeyFileBackup == nullptr || set->pLockFile == nullptr) {
    rsecssfs_releaseConfiguration(set, true);
    return RSEC_SSFS_RC_LOW_MEMORY;
  }
  RSECSSFS_TRACE(RSECSSFS_TRC3,
                 "Configuration::\nData file        : %s\nKey file         : %s\nLock file        : "
                 "%s\nData file backup : %s\nKey file backup  : %s\n",
                 set->pDataFile, set->pKeyFile, set->pLockFile, set->pDataFileBackup, set->pKeyFileBackup);
  *config = set;
  return RSEC_SSFS_RC_OK;
}

// Profile and environment, for callers that set no explicit configuration.
// `environment` receives copies that the caller frees.
RSEC_SSFS_RC chooseImplicitSource(const char* values[3], char* environment[3]) {
  static const char* const kProfileNames[3] = {"VXRSYSTEMNAME", "rsec/ssfs_datapath", "rsec/ssfs_keypath"};
  static const char* const kVariables[3] = {"VXRSYSTEMNAME", "RSEC_SSFS_DATAPATH", "RSEC_SSFS_KEYPATH"};
  const char* profile[3];
  for (int i = 0; i < 3; ++i) profile[i] = MERO_vxrgparam(kProfileNames[i]);
  RSECSSFS_TRACE(RSECSSFS_TRC3, "Profile parameter \"VXRSYSTEMNAME\"      = \"%s\"", shown(profile[0]));
  RSECSSFS_TRACE(RSECSSFS_TRC3, "Profile parameter \"rsec/ssfs_datapath\" = \"%s\"", shown(profile[1]));
  RSECSSFS_TRACE(RSECSSFS_TRC3, "Profile parameter \"rsec/ssfs_keypath\"  = \"%s\"", shown(profile[2]));

  if (g_environmentDisabled) {
    RSECSSFS_TRACE(RSECSSFS_TRC1, "Evaluation of the environment is explicitly disabled");
  } else {
    for (int i = 0; i < 3; ++i) {
      const char* value = std::getenv(kVariables[i]);
      if (value == nullptr) continue;
      environment[i] = RSECSSFS_STRDUP(value);
      if (environment[i] == nullptr) return RSEC_SSFS_RC_LOW_MEMORY;
    }
    RSECSSFS_TRACE(RSECSSFS_TRC3, "Environment variable \"VXRSYSTEMNAME\"      = \"%s\"",
                   shown(environment[0]));
    RSECSSFS_TRACE(RSECSSFS_TRC3, "Environment variable \"RSEC_SSFS_DATAPATH\" = \"%s\"",
                   shown(environment[1]));
    RSECSSFS_TRACE(RSECSSFS_TRC3, "Environment variable \"RSEC_SSFS_KEYPATH\"  = \"%s\"",
                   shown(environment[2]));
  }

  if (isInitial(profile[0])) {
    if (isInitial(environment[0]) || isInitial(environment[1]) || isInitial(environment[2])) {
      RSECSSFS_TRACE(RSECSSFS_TRCERR,
                     "VXR-Profile is not used; in this case, all three environment parameters VXRSYSTEMNAME, "
                     "RSEC_SSFS_DATAPATH and RSEC_SSFS_KEYPATH must exist and have non-initial values");
      return RSEC_SSFS_RC_ENVIRONMENT;
    }
    for (int i = 0; i < 3; ++i) values[i] = environment[i];
    RSECSSFS_TRACE(RSECSSFS_TRC2, "Configuration data read from environment parameters");
    return RSEC_SSFS_RC_OK;
  }

  static const char* const kOverwritten[3] = {
      "Configuration value \"VXRSYSTEMNAME\" from profile explicitly overwritten by different value in "
      "environment variable VXRSYSTEMNAME",
      "Configuration value \"rsec/ssfs_datapath\" from profile explicitly overwritten by different value in "
      "environment variable RSEC_SSFS_DATAPATH",
      "Configuration value \"rsec/ssfs_keypath\" from profile explicitly overwritten by different value in "
      "environment variable RSEC_SSFS_KEYPATH"};
  RSECSSFS_TRACE(RSECSSFS_TRC2, "Configuration data read from profile");
  for (int i = 0; i < 3; ++i) {
    values[i] = profile[i];
    if (isInitial(environment[i])) continue;
    if (profile[i] != nullptr && std::strcmp(profile[i], environment[i]) != 0)
      RSECSSFS_TRACE(RSECSSFS_TRC1, "%s", kOverwritten[i]);
    values[i] = environment[i];
  }
  return RSEC_SSFS_RC_OK;
}

}  // namespace

void MERO_RSecSSFsSetConfiguration(const char* pVXRSYSTEMNAME, const char* pDatapath, const char* pKeypath) {
  std::free(g_explicitSystemName);
  std::free(g_explicitDataPath);
  std::free(g_explicitKeyPath);
  g_explicitSystemName = copyOrEmpty(pVXRSYSTEMNAME);
  g_explicitDataPath = copyOrEmpty(pDatapath);
  g_explicitKeyPath = copyOrEmpty(pKeypath);
}

void rsecssfs_disableEnvironmentEvaluation() { g_environmentDisabled = true; }

void rsecssfs_resetConfigurationForTesting() {
  std::free(g_explicitSystemName);
  std::free(g_explicitDataPath);
  std::free(g_explicitKeyPath);
  g_explicitSystemName = g_explicitDataPath = g_explicitKeyPath = nullptr;
  g_environmentDisabled = false;
}

const char* MERO_vxrgparam(const char*) { return nullptr; }

const char* getRSecSSFsVersion() {
  return "RSecSSFs secure file store, module securestore of nebrix_cons, by the nebrix_cons developers";
}

RSEC_SSFS_RC rsecssfs_getConfiguration(rsecssfsConfiguration** config) {
  *config = nullptr;
  if (g_callCache != nullptr) {
    *config = g_callCache;
    return RSEC_SSFS_RC_OK;
  }
  const char* values[3] = {nullptr, nullptr, nullptr};
  char* environment[3] = {nullptr, nullptr, nullptr};
  RSEC_SSFS_RC rc = RSEC_SSFS_RC_OK;
  if (g_explicitSystemName != nullptr) {
    RSECSSFS_TRACE(RSECSSFS_TRC2, "Using explicitly set configuration data");
    values[0] = g_explicitSystemName;
    values[1] = g_explicitDataPath;
    values[2] = g_explicitKeyPath;
  } else {
    rc = chooseImplicitSource(values, environment);
  }
  if (rc == RSEC_SSFS_RC_OK && (isInitial(values[0]) || isInitial(values[1]) || isInitial(values[2]))) {
    RSECSSFS_TRACE(RSECSSFS_TRCERR,
                   "Not all configuration data (systemname, datapath, keypath) could be determined from "
                   "profile or environment");
    rc = RSEC_SSFS_RC_ENVIRONMENT;
  }
  if (rc == RSEC_SSFS_RC_OK) rc = buildFileSet(values[0], values[1], values[2], config);
  for (char* copy : environment)
    if (copy != nullptr) RSECSSFS_FREE(copy);
  return rc;
}

void rsecssfs_releaseConfiguration(rsecssfsConfiguration* config, bool force) {
  if (config == nullptr || (config == g_callCache && !force)) return;
  for (char* name : {config->pDataFile, config->pDataFileBackup, config->pKeyFile, config->pKeyFileBackup,
                     config->pLockFile})
    if (name != nullptr) RSECSSFS_FREE(name);
  if (config == g_callCache) g_callCache = nullptr;
  RSECSSFS_FREE(config);
}

void rsecssfs_fillConfigurationCache() {
  rsecssfsConfiguration* config = nullptr;
  if (g_callCache == nullptr && rsecssfs_getConfiguration(&config) == RSEC_SSFS_RC_OK) g_callCache = config;
}

void rsecssfs_emptyConfigurationCache() { rsecssfs_releaseConfiguration(g_callCache, true); }

namespace {

// A backup is there when it can be opened for reading, and also when
// something that is no regular file, or that the user cannot read, stands
// under its name: a person has to look at that too.
bool canOpenForReading(const char* path) {
  const int fd = rsecssfs_openRegularFile(path, O_RDONLY);
  if (fd < 0)
    return errno == ELOOP || errno == EISDIR || errno == RSECSSFS_ENOTREGULAR || errno == EACCES;
  close(fd);
  return true;
}

}  // namespace

RSEC_SSFS_RC rsecssfs_checkForExistingBackupFiles() {
  rsecssfsConfiguration* config = nullptr;
  RSEC_SSFS_RC rc = rsecssfs_getConfiguration(&config);
  if (rc != RSEC_SSFS_RC_OK) return rc;
  if (canOpenForReading(config->pDataFileBackup)) {
    RSECSSFS_TRACE(
        RSECSSFS_TRCERR,
        "The data file backup at location \"%s\" exists. This indicates that a previous conversion "
        "process terminated incompletely and the current data file might be corrupt. Review the "
        "current status of the secure storage with the \"list\" command. If necessary, restore the "
        "backup by renaming it to \"%s\" and check again. When you have the correct file restored as "
        "data file, delete the backup file manually.",
        config->pDataFileBackup, config->pDataFile);
    rc = RSEC_SSFS_RC_FILE_CORRUPTION;
  } else if (canOpenForReading(config->pKeyFileBackup)) {
    RSECSSFS_TRACE(
        RSECSSFS_TRCERR,
        "The key file backup at location \"%s\" exists. This indicates that a previous conversion "
        "process terminated incompletely and the current data file might be corrupt. Review the "
        "current status of the secure storage with the \"list\" command. If necessary, restore the "
        "backup by renaming it to \"%s\" and check again. When you have the correct file restored as "
        "key file, delete the backup file manually.",
        config->pKeyFileBackup, config->pKeyFile);
    rc = RSEC_SSFS_RC_FILE_CORRUPTION;
  }
  rsecssfs_releaseConfiguration(config, false);
  return rc;
}
