// SNMPv3 for our WinSNMP: an extension of our own, not part of the WinSNMP
// API (which knows community-based SNMP only). A session that takes it
// before its first request speaks SNMPv3 with the user-based security model
// to every agent it sends to: HMAC-MD5-96, HMAC-SHA-96 or HMAC-SHA-256-192
// authentication, AES-128 privacy. The first request to an agent discovers
// its engine (id, boots, time; kept for the process), a request that the
// agent finds out of its time window is resent once with the agent's time,
// and the keys come from the passwords, localised to the agent's engine.
//
// The caller goes on using SnmpSendMsg and SnmpRecvMsg as for SNMPv1: the
// context given to SnmpSendMsg is not sent (the context name is empty) and
// comes back with the answer; an answer's noSuchObject, noSuchInstance or
// endOfMibView makes its error status noSuchName (2) at that binding, as an
// SNMPv1 agent answers. A request that the agent refuses ends at once as a
// time-out (SNMPAPI_TL_TIMEOUT), and VrSnmpGetV3Failure says why.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <winsnmp.h>

enum {
    VR_SNMP_MAX_USER = 32,
    VR_SNMP_MAX_PASSWORD = 128,
    VR_SNMP_MIN_PASSWORD = 8            // what agents accept
};

enum VrSnmpAuthProtocol {
    VR_SNMP_AUTH_NONE = 0,              // noAuthNoPriv
    VR_SNMP_AUTH_MD5,
    VR_SNMP_AUTH_SHA,
    VR_SNMP_AUTH_SHA256
};

enum VrSnmpPrivProtocol {
    VR_SNMP_PRIV_NONE = 0,
    VR_SNMP_PRIV_AES                    // AES-128, needs authentication
};

struct VrSnmpSecurity {
    char userName[VR_SNMP_MAX_USER + 1];
    int authProtocol;                   // VrSnmpAuthProtocol
    char authPassword[VR_SNMP_MAX_PASSWORD + 1];
    int privProtocol;                   // VrSnmpPrivProtocol
    char privPassword[VR_SNMP_MAX_PASSWORD + 1];
};

// Why the last SNMPv3 request failed.
enum VrSnmpV3Failure {
    VR_SNMP_V3_OK = 0,
    VR_SNMP_V3_NO_ANSWER,               // nothing came (a wrong privacy password looks alike)
    VR_SNMP_V3_UNKNOWN_USER,            // usmStatsUnknownUserNames
    VR_SNMP_V3_AUTHENTICATION_FAILED,   // usmStatsWrongDigests: wrong password or protocol
    VR_SNMP_V3_PRIVACY_REQUIRED,        // the user's access needs privacy, asked without
    VR_SNMP_V3_LEVEL_UNSUPPORTED,       // usmStatsUnsupportedSecLevels with privacy asked
    VR_SNMP_V3_DECRYPTION_FAILED,       // usmStatsDecryptionErrors, or an answer we cannot decipher
    VR_SNMP_V3_NOT_IN_TIME_WINDOW,      // usmStatsNotInTimeWindows after the one resynchronisation
    VR_SNMP_V3_UNKNOWN_ENGINE,          // the engine could not be discovered
    VR_SNMP_V3_OTHER_REPORT             // another report of the agent
};

// Makes the session speak SNMPv3 with these credentials; only before its
// first request. Passwords are turned into keys at once and not kept; the
// keys are wiped when the session closes. SNMPAPI_FAILURE with
// SNMPAPI_OPERATION_INVALID for a session that has sent already, and with
// SNMPAPI_MODE_INVALID for an empty or too long user name, an unknown
// protocol, privacy without authentication, or a password shorter than
// VR_SNMP_MIN_PASSWORD.
SNMPAPI_STATUS WINAPI VrSnmpSetSessionSecurity(HSNMP_SESSION session,
                                               const VrSnmpSecurity *security);

// The outcome of the session's last SNMPv3 request (VR_SNMP_V3_NO_ANSWER
// while it waits); with a NULL session, of the process's last one, which
// stays after the session is closed.
int WINAPI VrSnmpGetV3Failure(HSNMP_SESSION session);

// Forgets what the task kept between start-ups, as a new process has it:
// the last errors, where the handle tables' search starts, the agents'
// engines learnt (ids, boots, time) and the last SNMPv3 failure. For a
// caller that asks one agent after another in one process and must carry
// nothing of one to the next. SNMPAPI_FAILURE (and nothing forgotten) while
// a start-up is held.
SNMPAPI_STATUS WINAPI VrSnmpForgetTaskState(void);
