#pragma once

#include "Error.h"
#include "KafkaErrorCode.h"
#include "Result.h"

#include <QString>

// Protection of the SASL passwords stored in cluster configuration files.
// A protected password is stored as Base64 text of an opaque blob that only
// the current user account can turn back into the password. Both operations
// keep no state and may be called from any thread; they never prompt.

// Returns the Base64 text of the protected password (its UTF-8 bytes). Fails
// with code 57 "Unable to encrypt password as DPAPI returned an error".
Result<QString, Error<KafkaErrorCode>> encryptWithDPApi(const QString& password);

// Returns the password held by a stored text. Characters outside the Base64
// alphabet are skipped. Fails with code 57 "Unable to decrypt password as DPAPI
// returned an error" for damaged text or text protected under another key.
Result<QString, Error<KafkaErrorCode>> decryptWithDPApi(const QString& stored);
