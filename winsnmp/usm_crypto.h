// The cryptography of our SNMPv3 user-based security, through the
// platform's CNG (bcrypt): HMAC digests, keys from passwords and their
// localisation to an agent's engine, AES-128 in 128-bit cipher feedback, and
// the salts of encrypted messages.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum UsmAuthProtocol {
    USM_AUTH_NONE = 0,
    USM_AUTH_MD5,                   // HMAC-MD5-96
    USM_AUTH_SHA,                   // HMAC-SHA-96
    USM_AUTH_SHA256                 // HMAC-SHA-256-192
};

enum {
    USM_MAX_KEY = 32,               // longest digest: SHA-256
    USM_AES_KEY = 16,
    USM_AES_BLOCK = 16,
    USM_SALT_SIZE = 8,
    USM_MIN_PASSWORD = 8,           // what agents accept as a password
    USM_PASSWORD_STRETCH = 1048576  // bytes of repeated password hashed into a key
};

// Digest size of the protocol (16, 20, 32), and how many of its bytes a
// message carries (12, 12, 24); 0 for none.
size_t UsmKeySize(int auth);
size_t UsmMacSize(int auth);

// The full HMAC of data under key into mac (UsmKeySize bytes). 1 or 0.
int UsmHmac(int auth, const uint8_t *key, size_t keySize, const uint8_t *data, size_t size,
            uint8_t *mac);

// The user's key from a password (at least one byte): the digest of 1 MiB of
// the password repeated. key gets UsmKeySize bytes. 1 or 0.
int UsmPasswordToKey(int auth, const char *password, size_t length, uint8_t *key);

// The key localised to an engine: digest(key, engine id, key). 1 or 0.
int UsmLocalizeKey(int auth, const uint8_t *key, const uint8_t *engineId, size_t engineIdSize,
                   uint8_t *localized);

// AES-128 in cipher feedback with 128-bit segments, any length, in place
// allowed (out == in). 1 or 0.
int UsmAesCfb(const uint8_t key[USM_AES_KEY], const uint8_t iv[USM_AES_BLOCK],
              const uint8_t *in, uint8_t *out, size_t size, int decrypt);

// A salt that no other call of this process returns: a 64-bit counter that
// starts from a random value. 0 when that value could not be drawn (the
// salts of this process would repeat another run's).
int UsmNextSalt(uint64_t *salt);

// Random bytes from the system's generator. 1 or 0.
int UsmRandom(void *bytes, size_t size);

// Compares two byte strings in time that does not depend on where they
// differ. 1 when equal.
int UsmSameBytes(const uint8_t *a, const uint8_t *b, size_t size);

// Overwrites key material so that no copy stays in memory.
void UsmWipe(void *bytes, size_t size);
