// SNMPv3 cryptography on the platform's CNG. The platform's own cipher
// feedback mode works in 8-bit segments on some systems, so the 128-bit
// feedback that SNMPv3 privacy needs is built here from one-block ECB
// encryptions, which every CNG provides alike.
#include <windows.h>
#include <bcrypt.h>

#include "winsnmp/usm_crypto.h"

#include <stdlib.h>
#include <string.h>

enum {
    USM_PROTOCOLS = 4,              // indexed by UsmAuthProtocol
    USM_STRETCH_CHUNK = 65536       // the repeated password is hashed in pieces of this
};

// The algorithm providers, opened once for the process: opening one costs
// far more than a digest.
static INIT_ONCE s_openOnce = INIT_ONCE_STATIC_INIT;
static BCRYPT_ALG_HANDLE s_hash[USM_PROTOCOLS];
static BCRYPT_ALG_HANDLE s_hmac[USM_PROTOCOLS];
static BCRYPT_ALG_HANDLE s_aes;
static volatile LONG64 s_salt;
static int s_saltSeeded;            // the salts' random start was drawn

static LPCWSTR AlgorithmName(int auth)
{
    switch (auth) {
    case USM_AUTH_MD5:
        return BCRYPT_MD5_ALGORITHM;
    case USM_AUTH_SHA:
        return BCRYPT_SHA1_ALGORITHM;
    case USM_AUTH_SHA256:
        return BCRYPT_SHA256_ALGORITHM;
    default:
        return NULL;
    }
}

static BOOL CALLBACK OpenProviders(PINIT_ONCE once, PVOID parameter, PVOID *context)
{
    for (int auth = USM_AUTH_MD5; auth < USM_PROTOCOLS; auth++) {
        if (BCryptOpenAlgorithmProvider(&s_hash[auth], AlgorithmName(auth), NULL, 0) != 0)
            s_hash[auth] = NULL;
        if (BCryptOpenAlgorithmProvider(&s_hmac[auth], AlgorithmName(auth), NULL,
                                        BCRYPT_ALG_HANDLE_HMAC_FLAG) != 0)
            s_hmac[auth] = NULL;
    }
    if (BCryptOpenAlgorithmProvider(&s_aes, BCRYPT_AES_ALGORITHM, NULL, 0) != 0 ||
        BCryptSetProperty(s_aes, BCRYPT_CHAINING_MODE, (PUCHAR)BCRYPT_CHAIN_MODE_ECB,
                          sizeof(BCRYPT_CHAIN_MODE_ECB), 0) != 0) {
        if (s_aes != NULL)
            BCryptCloseAlgorithmProvider(s_aes, 0);
        s_aes = NULL;
    }
    // The salts start where no earlier run of the program is likely to have
    // been. Without a random start two runs would repeat each other's
    // initialisation vectors under the same key: privacy then fails.
    LONG64 start = 0;
    s_saltSeeded = BCryptGenRandom(NULL, (PUCHAR)&start, sizeof(start),
                                   BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
    s_salt = start;
    SecureZeroMemory(&start, sizeof(start));
    return TRUE;
}

static void OpenOnce(void)
{
    InitOnceExecuteOnce(&s_openOnce, OpenProviders, NULL, NULL);
}

size_t UsmKeySize(int auth)
{
    switch (auth) {
    case USM_AUTH_MD5:
        return 16;
    case USM_AUTH_SHA:
        return 20;
    case USM_AUTH_SHA256:
        return 32;
    default:
        return 0;
    }
}

size_t UsmMacSize(int auth)
{
    switch (auth) {
    case USM_AUTH_MD5:
    case USM_AUTH_SHA:
        return 12;
    case USM_AUTH_SHA256:
        return 24;
    default:
        return 0;
    }
}

// Digest (key NULL) or HMAC of up to three pieces, one after the other.
static int Digest(int auth, const uint8_t *key, size_t keySize, const uint8_t *pieces[3],
                  const size_t sizes[3], uint8_t *out)
{
    BCRYPT_HASH_HANDLE hash = NULL;
    int result = 0;
    if (UsmKeySize(auth) == 0)
        return 0;
    OpenOnce();
    BCRYPT_ALG_HANDLE algorithm = key != NULL ? s_hmac[auth] : s_hash[auth];
    if (algorithm == NULL)
        return 0;
    if (BCryptCreateHash(algorithm, &hash, NULL, 0, (PUCHAR)key, (ULONG)keySize, 0) != 0) {
        hash = NULL;
        goto done;
    }
    for (int i = 0; i < 3; i++) {
        if (sizes[i] > 0 && BCryptHashData(hash, (PUCHAR)pieces[i], (ULONG)sizes[i], 0) != 0)
            goto done;
    }
    if (BCryptFinishHash(hash, out, (ULONG)UsmKeySize(auth), 0) != 0)
        goto done;
    result = 1;
done:
    if (hash != NULL)
        BCryptDestroyHash(hash);
    return result;
}

int UsmHmac(int auth, const uint8_t *key, size_t keySize, const uint8_t *data, size_t size,
            uint8_t *mac)
{
    const uint8_t *pieces[3] = {data, NULL, NULL};
    const size_t sizes[3] = {size, 0, 0};
    if (key == NULL || keySize == 0 || (data == NULL && size > 0))
        return 0;
    return Digest(auth, key, keySize, pieces, sizes, mac);
}

int UsmPasswordToKey(int auth, const char *password, size_t length, uint8_t *key)
{
    BCRYPT_HASH_HANDLE hash = NULL;
    uint8_t *chunk = NULL;
    size_t chunkSize = 0;
    int result = 0;
    if (password == NULL || length == 0 || length > USM_STRETCH_CHUNK || UsmKeySize(auth) == 0)
        return 0;
    OpenOnce();
    if (s_hash[auth] == NULL)
        return 0;
    // One chunk and one more password's length, so that every piece can
    // start at the password's offset where the last one stopped.
    chunkSize = USM_STRETCH_CHUNK + length;
    chunk = (uint8_t *)malloc(chunkSize);
    if (chunk == NULL)
        goto done;
    for (size_t i = 0; i < chunkSize; i++)
        chunk[i] = (uint8_t)password[i % length];
    if (BCryptCreateHash(s_hash[auth], &hash, NULL, 0, NULL, 0, 0) != 0) {
        hash = NULL;
        goto done;
    }
    for (size_t hashed = 0; hashed < USM_PASSWORD_STRETCH; hashed += USM_STRETCH_CHUNK) {
        if (BCryptHashData(hash, chunk + hashed % length, USM_STRETCH_CHUNK, 0) != 0)
            goto done;
    }
    if (BCryptFinishHash(hash, key, (ULONG)UsmKeySize(auth), 0) != 0)
        goto done;
    result = 1;
done:
    if (hash != NULL)
        BCryptDestroyHash(hash);
    if (chunk != NULL) {
        UsmWipe(chunk, chunkSize);
        free(chunk);
    }
    return result;
}

int UsmLocalizeKey(int auth, const uint8_t *key, const uint8_t *engineId, size_t engineIdSize,
                   uint8_t *localized)
{
    size_t keySize = UsmKeySize(auth);
    const uint8_t *pieces[3] = {key, engineId, key};
    const size_t sizes[3] = {keySize, engineIdSize, keySize};
    if (key == NULL || (engineId == NULL && engineIdSize > 0))
        return 0;
    return Digest(auth, NULL, 0, pieces, sizes, localized);
}

int UsmAesCfb(const uint8_t key[USM_AES_KEY], const uint8_t iv[USM_AES_BLOCK],
              const uint8_t *in, uint8_t *out, size_t size, int decrypt)
{
    BCRYPT_KEY_HANDLE handle = NULL;
    uint8_t feedback[USM_AES_BLOCK];
    uint8_t stream[USM_AES_BLOCK];
    int result = 0;
    OpenOnce();
    if (s_aes == NULL || (size > 0 && (in == NULL || out == NULL)))
        return 0;
    if (BCryptGenerateSymmetricKey(s_aes, &handle, NULL, 0, (PUCHAR)key, USM_AES_KEY, 0) != 0) {
        handle = NULL;
        goto done;
    }
    memcpy(feedback, iv, USM_AES_BLOCK);
    for (size_t offset = 0; offset < size; offset += USM_AES_BLOCK) {
        ULONG written = 0;
        if (BCryptEncrypt(handle, feedback, USM_AES_BLOCK, NULL, NULL, 0, stream, USM_AES_BLOCK,
                          &written, 0) != 0 ||
            written != USM_AES_BLOCK)
            goto done;
        size_t count = size - offset < (size_t)USM_AES_BLOCK ? size - offset : (size_t)USM_AES_BLOCK;
        // The next block's feedback is this block's ciphertext: taken from
        // the input before an in-place decryption overwrites it.
        for (size_t i = 0; i < count; i++) {
            uint8_t c = decrypt ? in[offset + i] : (uint8_t)(in[offset + i] ^ stream[i]);
            out[offset + i] = (uint8_t)(in[offset + i] ^ stream[i]);
            feedback[i] = c;
        }
    }
    result = 1;
done:
    if (handle != NULL)
        BCryptDestroyKey(handle);
    UsmWipe(stream, sizeof(stream));
    UsmWipe(feedback, sizeof(feedback));
    return result;
}

int UsmNextSalt(uint64_t *salt)
{
    OpenOnce();
    if (!s_saltSeeded)
        return 0;
    // Counts on from the random start for the whole process: never back.
    *salt = (uint64_t)InterlockedIncrement64(&s_salt);
    return 1;
}

int UsmRandom(void *bytes, size_t size)
{
    return BCryptGenRandom(NULL, (PUCHAR)bytes, (ULONG)size, BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}

int UsmSameBytes(const uint8_t *a, const uint8_t *b, size_t size)
{
    uint8_t difference = 0;
    for (size_t i = 0; i < size; i++)
        difference |= (uint8_t)(a[i] ^ b[i]);
    return difference == 0;
}

void UsmWipe(void *bytes, size_t size)
{
    if (bytes != NULL && size > 0)
        SecureZeroMemory(bytes, size);
}
