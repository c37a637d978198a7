// The frame of every public operation: the entry traces the call and
// resolves the configuration into the call cache; the exit turns the return
// code and the call's error text into the call record's processing info,
// starts the next call without error text and empties the cache.
#pragma once

#include "securestore/rsecssfs.h"

void rsecssfs_APIFunctionEntry(const char* functionName);
void rsecssfs_APIFunctionExit(const char* functionName, RSEC_SSFS_RC rc,
                              RSecProcessingInfo** ppProcessingInfo);

// The one result handed out whenever a result cannot be built.
RSecProcessingInfo* rsecssfs_lowMemoryProcessingInfo();
