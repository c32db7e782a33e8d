#pragma once

#include "Error.h"
#include "KafkaErrorCode.h"
#include "Result.h"

#include <QString>

// Protection of the SASL passwords stored in cluster configuration files.
// A protected password is stored as Base64 text of an opaque blob that only
// the current user account can turn back into the password. Both operations
// keep no state and may be called from any thread; they never prompt.
//
// Failures carry one cause (code 57) that says what is wrong, naming the
// password key file where it is concerned; passwordProblem gives that text
// for use inside a sentence.

// Returns the Base64 text of the protected password (its UTF-8 bytes). Fails
// with code 57 "Unable to encrypt password as DPAPI returned an error".
Result<QString, Error<KafkaErrorCode>> encryptWithDPApi(const QString& password);

// Returns the password held by a stored text. Characters outside the Base64
// alphabet are skipped. Fails with code 57 "Unable to decrypt password as DPAPI
// returned an error" for damaged text, text protected under another key, or a
// missing or unusable key.
Result<QString, Error<KafkaErrorCode>> decryptWithDPApi(const QString& stored);

// What is wrong, from a failure of the two operations above, written to follow
// "as" in a sentence (for example "the password key file '...' is a directory").
QString passwordProblem(const Error<KafkaErrorCode>& failure);
