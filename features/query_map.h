// The query-map file "VRUnPQ.xml": option names to the OIDs of their MIB
// sub-trees.
#pragma once

#include <stddef.h>

// The loaded file and two NUL bytes; NULL when no map is loaded. The
// configurator that loads it releases it with ReleaseQueryMap.
extern char *g_queryMap;

int LoadQueryMap(void);
// The path LoadQueryMap reads: "VRUnPQ.xml" beside the program.
void GetQueryMapPath(char *path, size_t pathSize);
void ReleaseQueryMap(void);
// oidText: 64 bytes, zero-filled by the caller.
int LookupOptionOid(const char *optionName, char *oidText);
int ExtractQuotedValue(char *oidText, const char *text);
