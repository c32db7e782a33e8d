#include "KafkaProtocolError.h"

KafkaErrorCode mapProtocolError(KafkaProtocolError error, KafkaErrorCode fallback)
{
    const int value = static_cast<int>(error);
    if (value == -1)
        return KafkaErrorCode::UnknownServerError;
    if (value >= 1 && value <= 99)
        return static_cast<KafkaErrorCode>(static_cast<int>(KafkaErrorCode::UnknownServerError) + value);
    return fallback;
}
