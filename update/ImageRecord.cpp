#include "update/ImageRecord.h"

#include <wincrypt.h>

#include <string>

#include "record/RunRecord.h"
#include "update/FirmwareImage.h"

namespace {

constexpr DWORD ReadBlockSize = 0x10000;

// CALG_SHA_256 (the AES provider of Windows XP SP3 and later), which the headers declare only
// for builds that require XP SP3.
constexpr ALG_ID Sha256Algorithm = ALG_CLASS_HASH | ALG_TYPE_ANY | 12;

// "0x80090016": a Windows error code as the record writes it.
std::string ErrorCode(DWORD code) {
    std::string text = "0x";
    for (int shift = 24; shift >= 0; shift -= 8)
        text += HexDigits(code >> shift);
    return text;
}

// One SHA-256 through CryptoAPI. A null provider name with PROV_RSA_AES and CRYPT_VERIFYCONTEXT
// finds the AES provider on Windows XP SP3 (which names it differently) as on later systems.
class TSha256 {
  public:
    TSha256() {
        if (!CryptAcquireContextA(&provider_, nullptr, nullptr, PROV_RSA_AES,
                                  CRYPT_VERIFYCONTEXT)) {
            provider_ = 0;
            error_ = GetLastError();
        } else if (!CryptCreateHash(provider_, Sha256Algorithm, 0, 0, &hash_)) {
            hash_ = 0;
            error_ = GetLastError();
        }
    }
    ~TSha256() {
        if (hash_)
            CryptDestroyHash(hash_);
        if (provider_)
            CryptReleaseContext(provider_, 0);
    }
    TSha256(const TSha256 &) = delete;
    TSha256 &operator=(const TSha256 &) = delete;

    void Add(const BYTE *data, DWORD size) {
        if (!error_ && !CryptHashData(hash_, data, size, 0))
            error_ = GetLastError();
    }

    // The hash in lower-case hexadecimal, as certutil and sha256sum print it, or why there is
    // none.
    std::string Text() {
        BYTE value[32];
        DWORD size = sizeof value;
        if (!error_ && !CryptGetHashParam(hash_, HP_HASHVAL, value, &size, 0))
            error_ = GetLastError();
        if (error_)
            return "not computed (CryptoAPI error " + ErrorCode(error_) + ")";
        const char digits[] = "0123456789abcdef";
        std::string text;
        for (DWORD i = 0; i < size; ++i) {
            text += digits[value[i] >> 4];
            text += digits[value[i] & 0x0F];
        }
        return text;
    }

  private:
    HCRYPTPROV provider_ = 0;
    HCRYPTHASH hash_ = 0;
    DWORD error_ = 0;
};

// The whole file through `hash`; its size in `size`. False when it cannot be read again.
bool HashWholeFile(const char *name, TSha256 &hash, unsigned long long &size) {
    HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    static BYTE block[ReadBlockSize];
    DWORD count = 0;
    bool read = true;
    size = 0;
    while ((read = ReadFile(file, block, sizeof block, &count, nullptr)) && count > 0) {
        hash.Add(block, count);
        size += count;
    }
    CloseHandle(file);
    return read;
}

} // namespace

void RecordFirmwareImage(const BYTE *image) {
    if (!RunRecordOpen())
        return;
    char path[MAX_PATH] = {};
    const DWORD length = GetFullPathNameA(FirmwareFileName, sizeof path, path, nullptr);
    TSha256 whole;
    unsigned long long size = 0;
    const bool read = HashWholeFile(FirmwareFileName, whole, size);
    std::string line = std::string(FirmwareFileName) + ": " +
                       (length > 0 && length < sizeof path ? path : FirmwareFileName) + ", ";
    if (!read) {
        RecordLine(line + "could not be read again for its size and SHA-256");
        return;
    }
    line += std::to_string(size) + " bytes, revision " + Quoted(ImageRevision) +
            ", checksum bytes " + HexDigits(ExpectedChecksum[0]) + " " +
            HexDigits(ExpectedChecksum[1]) + ", SHA-256 " + whole.Text();
    if (size > FirmwareImageSize) {
        TSha256 written;
        written.Add(image, FirmwareImageSize);
        line += ", SHA-256 of the " + std::to_string(FirmwareImageSize) + " bytes written " +
                written.Text();
    }
    RecordLine(line);
}
