#pragma once
// Secrets longer than one credential holds (a refresh token may have more
// than 1,500 characters; a credential holds 512 bytes under Wine and older
// Windows), stored so that neither a reader in another process nor a crash
// in the middle of a write can see the parts of two values as one.
//
// A value shorter than a part is the target's own blob, written in one go.
// A longer one goes in parts under "#a1", "#a2", ... or "#b1", ...: the
// generation the target does not name. Only when every part is written does
// the target's blob become a header naming that generation, its length and
// its checksum; a reader checks both and, should a writer have started over
// meanwhile, reads again. Values stored before this form (parts under "#2",
// "#3", ..., the last shorter than a part) are still read.
#include <cstddef>
#include <string>
#include <string_view>

#include "mail/SecretText.h"

namespace qel::mail {

// Named blobs, each read and written whole: the Credential Manager's own promise for one credential.
class CredentialBlobs {
public:
    virtual ~CredentialBlobs() = default;
    virtual bool get(const std::u16string& name, SecretText& user, SecretText& blob) = 0;
    virtual bool put(const std::u16string& name, std::string_view user, std::string_view blob) = 0;
    // False when there was nothing.
    virtual bool erase(const std::u16string& name) = 0;
};

enum class Stored { Absent, Found, Damaged };

constexpr std::size_t kPartSize = 512;
constexpr int kMostParts = 8;
// The longest secret the store takes; a token endpoint's refresh token is held to it too.
constexpr std::size_t kMostStoredSecret = kPartSize * kMostParts - 1;

// `user`: the user name stored with the value.
Stored readParted(CredentialBlobs& blobs, const std::u16string& target, SecretText& user, SecretText& value);
// False, with the value stored before still readable, when a write failed or `value` is too long.
bool writeParted(CredentialBlobs& blobs, const std::u16string& target, std::string_view user, std::string_view value);
// Every part of every form; false when there was nothing.
bool removeParted(CredentialBlobs& blobs, const std::u16string& target);

} // namespace qel::mail
