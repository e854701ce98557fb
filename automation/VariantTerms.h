#pragma once
// The one place where host values become plain ones. A value is blank when it
// compares equal to the empty string (Empty or ""; not Null, not a number);
// its text is what the platform's concatenation gives (numbers, dates and
// Booleans as it writes them, Empty and Null as nothing); Null has no length.
// Values a host cannot use as text (arrays, error values) raise error 13.
#include <windows.h>
#include <oaidl.h>

#include <optional>
#include <string>

#include "automation/Variant.h"
#include "crypt/ByteArray.h"

namespace qel::automation {

// Past any chain of variants held by reference; a bounded one, since a host
// could make a cycle.
const VARIANT& innermost(const VARIANT& value);

bool isNull(const VARIANT& value);
// An optional argument the host left out.
bool isMissing(const VARIANT& value);
bool isBlank(const VARIANT& value);
std::u16string textOf(const VARIANT& value);
std::optional<std::size_t> lengthOf(const VARIANT& value);

// A string, held directly or by any reference.
bool isText(const VARIANT& value);
bool isByteArray(const VARIANT& value);

// A host's byte array, lent without a copy for as long as this lives.
class BorrowedBytes {
public:
    // `value` must be a byte array (isByteArray); one never dimensioned has no storage.
    explicit BorrowedBytes(const VARIANT& value);
    const crypt::ByteArrayView& view() const { return view_; }

private:
    std::optional<SafeArrayAccess> access_;
    crypt::ByteArrayView view_;
};

} // namespace qel::automation
