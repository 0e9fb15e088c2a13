// SNMPv3 for our WinSNMP: an extension of our own, not part of the WinSNMP
// API (which knows community-based SNMP only). A session that takes it
// before its first request speaks SNMPv3 with the user-based security model
// to every agent it sends to: HMAC-MD5-96, HMAC-SHA-96 or HMAC-SHA-256-192
// authentication, AES-128 privacy. The first request to an agent discovers
// its engine id; its boots and time are learnt from authentic messages only
// and kept for the process. An authentic message outside that time window
// (boots lower than known, boots at their end, or time more than 150 s
// behind) is dropped and counted. A request that the agent finds out of its
// time window is resent once with the agent's time, every resend is wrapped
// afresh (new message id, current engine time, new salt), and the keys come
// from the passwords, localised to the agent's engine. Unauthenticated
// reports that a correct agent would send authenticated, and an unknown
// engine report for an engine already confirmed, are ignored: the request's
// retries go on.
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
    VR_SNMP_MIN_PASSWORD = 8,           // what agents accept
    VR_SNMP_MAX_KEY = 32                // a SHA-256 digest
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
    // Set by VrSnmpMakeKeys: the passwords' keys (not yet localised to an
    // engine) stand in for the passwords, which are then empty.
    int keysMade;
    unsigned char authKey[VR_SNMP_MAX_KEY];
    unsigned char privKey[VR_SNMP_MAX_KEY];
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
    VR_SNMP_V3_OTHER_REPORT,            // another report of the agent
    VR_SNMP_V3_NO_RANDOM,               // no random numbers for message ids or salts
    VR_SNMP_V3_CRYPTO_FAILED            // a key, digest or cipher could not be computed
};

// Turns the passwords that the protocols use into the user's keys, once for
// every session that takes the credentials later, and wipes the passwords.
// SNMPAPI_FAILURE with the credentials unchanged for a protocol unknown, a
// password shorter than VR_SNMP_MIN_PASSWORD, or a key that CNG cannot make.
SNMPAPI_STATUS WINAPI VrSnmpMakeKeys(VrSnmpSecurity *security);

// Makes the session speak SNMPv3 with these credentials; only before its
// first request. Passwords are turned into keys at once and not kept (or
// the keys of VrSnmpMakeKeys taken); the keys are wiped when the session
// closes. SNMPAPI_FAILURE with
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

// How many authentic messages the process dropped as outside their agent's
// time window (replayed or stale).
LONG WINAPI VrSnmpGetV3OutsideWindow(void);

// The engines that authentic messages confirmed, one by one (index from 0):
// the agent's numeric address (port 161 not shown) and its engine id. For
// a caller that binds engines to agents: an engine once confirmed for an
// address stays that address's engine for the process (an authentic
// message must name it), until VrSnmpForgetTaskState. SNMPAPI_FAILURE when
// no engine has that index, or a buffer is too small.
SNMPAPI_STATUS WINAPI VrSnmpGetConfirmedEngine(UINT index, LPSTR address, UINT addressSize,
                                               smiLPBYTE engineId, UINT engineIdSize,
                                               UINT *engineIdLength);

// Forgets what the task kept between start-ups, as a new process has it:
// the last errors, where the handle tables' search starts, the agents'
// engines learnt (ids, boots, time) and the last SNMPv3 failure. For a
// caller that asks one agent after another in one process and must carry
// nothing of one to the next. SNMPAPI_FAILURE (and nothing forgotten) while
// a start-up is held.
SNMPAPI_STATUS WINAPI VrSnmpForgetTaskState(void);
