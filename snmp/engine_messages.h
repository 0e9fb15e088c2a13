// Every text that the SNMP query engine shows, in one place. The warnings
// are English in every language and go through ShowWarning; their trailing
// blanks and three dots are part of the texts. They are macros so that the
// compiler checks each "%d" against its argument.
#pragma once

#include "resources/resource_ids.h"

// Caption of every ShowWarning box.
#define WARNING_CAPTION "Warning"

#define WARN_PLATFORM_TOO_OLD "WinSnmp is supported on Windows NT 5.0 or later ..."
#define WARN_AGENT_COPY_FAILED "wsnmputil: Memory allocation failed ..."
#define WARN_INVALID_AGENT "Invalid SNMP agent ..."
#define WARN_MEMORY_ALLOCATION_FAILED "Memory allocation failed ..."
// %d: the error that RegisterClass left.
#define WARN_REGISTER_CLASS_FAILED "RegisterClass returned %d."
#define WARN_NOTIFY_WINDOW_FAILED "Fail to create notification window ..."
#define WARN_OPEN_SESSION_FAILED "Open session failed ..."
#define WARN_OID_CONVERSION_FAILED \
    "Failed in SnmpStrToOid( ) or SnmpMgrStrToOid( ) function ..."
#define WARN_CREATE_PDU_FAILED "Failed in creating PDU ..."
// %d: the WinSNMP error.
#define WARN_SEND_FAILED "Failed in send message, Last Error %d "
// %d: the WinSNMP error.
#define WARN_GET_PDU_DATA_FAILED "SnmpGetPduData returned error %d "
// %d: the type of the PDU received.
#define WARN_INVALID_PDU_TYPE "Invalid PDU type %d "
// %d: the WinSNMP error.
#define WARN_FREE_PDU_FAILED "Failure in SnmpFreePdu %d "

// A walk that cannot reach the end of its sub-tree: the agent is broken and
// the values gathered may be incomplete.
#define WARN_WALK_NOT_ADVANCING \
    "Walk incomplete: the agent answered with a name that does not follow the one asked for ..."
// %d and %s: the error status of the agent's answer, its number and name.
#define WARN_WALK_REFUSED \
    "Walk incomplete: the agent answered with error status %d (%s) ..."
// %d: the most requests a walk sends.
#define WARN_WALK_TOO_LONG "Walk incomplete: no end of the sub-tree after %d requests ..."

// The one message meant for the end user, localized: the connection error
// box (ShowConnectionError) shows string IDS_CONNECTION_TEXT with the caption
// IDS_CONNECTION_CAPTION, in the language the resource loader picks.
