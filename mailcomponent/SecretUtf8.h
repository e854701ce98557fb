#pragma once
// Secrets arrive from Windows as UTF-16 (a BSTR, a stored credential) and
// leave as UTF-8: converted straight into the secret's own storage, so no
// other copy is left behind.
#include <windows.h>

#include <cstddef>

#include "mail/SecretText.h"

namespace qel::mailcomponent {

void appendUtf8(const wchar_t* text, std::size_t length, mail::SecretText& out);

} // namespace qel::mailcomponent
