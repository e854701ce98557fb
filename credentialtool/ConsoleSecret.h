#pragma once
// Secrets from the person at the console or from the command line, as
// UTF-8 and no longer than the store takes; wiped where they came from.
#include "mail/SecretText.h"

namespace qel::credentialtool {

// One line from standard input, as UTF-8; not echoed when it is a console.
// False when it is longer than the store takes.
bool readSecretLine(mail::SecretText& out);
// Says the secret was too long; the exit status.
int tooLong();
// A secret given as an argument, wiped from the command line's copy once taken.
void takeArgument(wchar_t* argument, mail::SecretText& out);

} // namespace qel::credentialtool
